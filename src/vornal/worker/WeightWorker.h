#pragma once

#include "vornal/config/Config.h"
#include "vornal/util/ResourceBundle.h"
#include "vornal/worker/DataLine.h"
#include "vornal/worker/LinePipeline.h"
#include "vornal/worker/WeightWorkerView.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

namespace Direduva {
class SerialPortLocal;
}

namespace vornal::worker {

// The background worker of one connection. Constructing it opens the configured port; execute() starts
// the read loop on its own thread. Lines are published to the view's update() on the thread that
// created the worker, in order and in batches; when the loop has ended, done() reports how it ended,
// closes the port and switches the view back to idle.
//
// The settings record is only read, and only while the connection runs (the window hides the settings
// tabs meanwhile); the worker keeps its own copy of everything the loop needs.
class WeightWorker : public QObject {
    Q_OBJECT
public:
    // Opens the port (throws Direduva::PortError or Direduva::InvalidSettingError, or
    // std::logic_error with the "null.port.error" text when no port is set).
    WeightWorker(const config::Config& config, WeightWorkerView* view, QObject* parent = nullptr);
    // Takes a port that openPort() opened (on another thread: a network connection can take seconds).
    WeightWorker(const config::Config& config, WeightWorkerView* view,
                 std::unique_ptr<Direduva::SerialPortLocal> opened, QObject* parent = nullptr);
    ~WeightWorker() override;

    // Opens the port of the settings with their bit rate, framing and handshake (throws as the
    // constructor does). Safe on any thread.
    static std::unique_ptr<Direduva::SerialPortLocal> openPort(const config::Config& config);

    // Starts the read loop (once).
    void execute();
    // Stops the loop; done() follows on the creating thread. Safe from any thread, also repeatedly.
    void cancel();
    bool isCancelled() const { return cancelled_; }
    // True once done() has run.
    bool isDone() const { return done_; }
    // Lines read so far (the task's result once done).
    qint32 lineCount() const { return lines_; }

    // The message bundle of every worker: "vornal.worker.WorkerBundle".
    static const util::ResourceBundle& resourceBundle();
    static QString text(const char* key);

    Direduva::SerialPortLocal& port() { return *sp_; }

    // Why the loop ended, once done() has run: the device went away (the driver's words), or another
    // failure. Neither when it was cancelled.
    const std::optional<QString>& hangupReason() const { return hangup_; }
    const std::optional<QString>& failureReason() const { return failure_; }
    // The owner reports a hang-up itself (it waits for the port to come back): done() does not log it.
    void setHangupReportedByOwner(bool on) { hangupByOwner_ = on; }

signals:
    // After done() has reported and closed the port.
    void finished(qint32 lines);

protected:
    // Called on the worker thread for every line the port marked with an error.
    virtual void reportParityError();
    virtual void reportFramingError();
    virtual LinePipeline::Mode mode() const;

    WeightWorkerView* view_;
    std::unique_ptr<Direduva::SerialPortLocal> sp_;

private:
    void doInBackground();
    void publish(DataLine line);
    void process();
    void done();
    // Sleeps up to `ms` milliseconds; false when cancelled meanwhile.
    bool pause(int ms);

    config::Config config_;
    std::mt19937 generator_;
    LineAssembler assembler_;
    std::thread thread_;
    std::atomic<bool> started_{false};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> done_{false};
    std::atomic<qint32> lines_{0};

    // Lines published but not yet handed to the view.
    std::mutex pendingMutex_;
    std::vector<DataLine> pending_;
    bool processScheduled_ = false;

    // How the loop ended (read by done() after the thread has been joined).
    std::optional<QString> failure_; // a failure before or outside the line loop
    std::optional<QString> hangup_;  // the device went away
    bool hangupByOwner_ = false;
};

// The worker of text instruments (barcode readers): group 1, no white-space removal, no number
// formatting, and the fixed texts "Parity Error" and "Framing Error".
class WeightWorkerBarcode : public WeightWorker {
    Q_OBJECT
public:
    using WeightWorker::WeightWorker;

protected:
    void reportParityError() override;
    void reportFramingError() override;
    LinePipeline::Mode mode() const override { return LinePipeline::Mode::Text; }
};

// The worker of balances that watch the modem lines (the A&D presets with hand-shake): after opening,
// testDevice() checks DSR and CTS once and warns when the instrument does not answer as expected.
class WeightWorkerAnd : public WeightWorker {
    Q_OBJECT
public:
    using WeightWorker::WeightWorker;

    enum class DeviceState { Ready, Unusual, DataSetNotReady, NotConnected, Skipped };
    // Runs on the creating thread; may show a warning through the view. Returns what it found.
    DeviceState testDevice();
    // The wait after switching a line on, in milliseconds.
    static constexpr int settleMs = 50;
};

// The worker a connection uses for the settings' instrument: the barcode worker for text instruments,
// the hand-shake worker for the A&D presets that watch the modem lines (its testDevice() already run),
// the plain worker otherwise. Opens the port; throws what the constructors throw.
std::unique_ptr<WeightWorker> createWorker(const config::Config& config, WeightWorkerView* view,
                                           std::unique_ptr<Direduva::SerialPortLocal> opened,
                                           QObject* parent = nullptr);
std::unique_ptr<WeightWorker> createWorker(const config::Config& config, WeightWorkerView* view,
                                           QObject* parent = nullptr);

} // namespace vornal::worker
