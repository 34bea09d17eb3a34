#pragma once

#include "vornal/util/ResourceBundle.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace Direduva {
class SerialPortLocal;
}

namespace vornal::worker {

// How the port auto-detection talks to whoever shows it: the auto-detection dialog, or vornal-cli.
// Every operation is called on the thread that created the worker (the user-interface thread).
class AutoPortWorkerView {
public:
    enum class Style { Plain, Emphasis };

    virtual ~AutoPortWorkerView() = default;
    // The dialog's one button reads "Cancel" while the detection runs.
    virtual void setButtonToCancel() = 0;
    // ... and "Close" once it has ended.
    virtual void setButtonToClose() = 0;
    // The port found; the dialog selects it in the main window's port list (by its friendly name).
    virtual void setPort(const QString& port) = 0;
    // One more line of progress: appended at the end, after a line break unless it is the first.
    virtual void update(const QString& text, Style style) = 0;
};

// Finds the port an instrument is attached to by probing the modem-control handshake of each candidate
// port: it drives DTR and RTS, watches DSR and CTS, scores every port from 0 to 3 and proposes the port
// with the highest score (the earlier port on equal scores; none when every port scores 0).
//
// Scores, after DTR and RTS off and a pause:
//   DSR already on (the device holds it up): DTR and RTS on; 3 when DSR and CTS are both on (1 for a port
//     named exactly "COM3", which on many PCs is an internal modem that answers like this), otherwise 1;
//   DSR off: DTR on; when DSR follows DTR: RTS on, 2 when DSR and CTS are both on, otherwise 1;
//     when it does not: RTS on, 1 when CTS is on, otherwise 0.
// Every change of the lines is followed by a pause of PAUSE_MS for the device to answer.
//
// execute() probes on a background thread; progress and the end are reported to the view on the
// creating thread's event loop. cancel() stops at once (it also ends a pause), closes the port under test
// and reports "stopped".
class AutoPortWorker : public QObject {
    Q_OBJECT
public:
    static constexpr int PAUSE_MS = 150;

    enum class Outcome { Running, Found, NotFound, Cancelled, Failed };

    // `view` must outlive the worker (or the worker's end). Does not start anything.
    AutoPortWorker(AutoPortWorkerView* view, const QStringList& ports, QObject* parent = nullptr);
    // Cancels and waits for the background thread (at most one pause and one port operation).
    ~AutoPortWorker() override;

    // Shows the start ("setButtonToCancel") and starts the probing (once).
    void execute();
    // Safe from any thread and repeatedly; ignored once the worker has finished.
    void cancel();
    bool isCancelled() const { return cancelled_; }
    // True once the end has been reported to the view.
    bool isDone() const { return done_; }
    Outcome outcome() const { return outcome_; }
    // The proposed port (after the end; none when nothing was found or the detection was cancelled).
    std::optional<QString> result() const { return result_; }

    // The message bundle: "vornal.worker.WorkerBundle".
    static const util::ResourceBundle& resourceBundle();
    static QString text(const char* key);

    // The score of one open port (the probe above); throws Direduva::PortError when a line cannot be
    // driven or read, and stops early (returning the score so far) when `cancelled` is set. The pause is
    // the injected `pause` (true: go on; false: cancelled). For the worker and its tests.
    template <class Port, class Pause> static int probe(Port& port, const QString& name, Pause&& pause);

signals:
    // After the end has been reported to the view.
    void finished();

private:
    void doInBackground();
    void publish(const QString& text);
    void done();
    // Sleeps PAUSE_MS; false when cancelled meanwhile.
    bool pause();

    AutoPortWorkerView* view_;
    const QStringList ports_;
    std::thread thread_;
    std::atomic<bool> started_{false};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> done_{false};
    std::mutex waitMutex_;
    std::condition_variable wake_;

    // Written by the background thread, read by done() after the join.
    std::optional<QString> bestPortName_;
    int bestPortConfidence_ = 0;
    std::optional<QString> failure_;

    Outcome outcome_ = Outcome::Running;
    std::optional<QString> result_;
};

template <class Port, class Pause> int AutoPortWorker::probe(Port& port, const QString& name, Pause&& pause) {
    int score = 0;
    port.setDTR(false);
    port.setRTS(false);
    if (!pause())
        return score;
    if (port.sigDSR()) {
        // The device holds DSR up by itself.
        score = 1;
        port.setDTR(true);
        port.setRTS(true);
        if (!pause())
            return score;
        if (port.sigDSR() && port.sigCTS() && name != QLatin1String("COM3"))
            score = 3;
    } else {
        port.setDTR(true);
        if (!pause())
            return score;
        if (port.sigDSR()) {
            // DSR follows DTR.
            score = 1;
            port.setRTS(true);
            if (!pause())
                return score;
            if (port.sigDSR() && port.sigCTS())
                score = 2;
        } else {
            port.setRTS(true);
            if (!pause())
                return score;
            if (port.sigCTS())
                score = 1;
        }
    }
    port.setDTR(false);
    port.setRTS(false);
    return score;
}

} // namespace vornal::worker
