#pragma once

#include "vornal/config/Config.h"

#include <Direduva/SerialPortLocal.h>

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class QTimer;

namespace vornal::worker {

// Opens a connection's port when that must not stop the caller, and finds it again when it went away.
// A network port is opened on a thread of its own: connecting to a host that does not answer takes the
// connect time-out. One open at a time. While waiting for a port that went away, it is looked for every
// poll interval: a serial device once its device file is back (under its /dev/serial/by-id name when it
// had one, so that the same adapter is found under another name), a network port with an attempt in the
// background whose first few follow each other at the poll interval (a device server that restarts is
// back within seconds), then with a pause that doubles up to MAX_NETWORK_PAUSE_MS. Lives on the thread
// that creates it; every hook runs there.
class PortReopener : public QObject {
    Q_OBJECT
public:
    using Port = std::unique_ptr<Direduva::SerialPortLocal>;

    // What a background open brings back: the port, or why not.
    struct Opened {
        Port port;
        QString error;
        bool invalidSetting = false; // the settings are unusable (not worth another try)
    };

    struct Hooks {
        // Opens the serial device `name` at once and reads it; true when that worked.
        std::function<bool(const QString& name)> openNow;
        // Takes a network port opened in the background and reads it; true when that worked.
        std::function<bool(Port port)> adopt;
        // The port is back under `name` (after openNow or adopt said so).
        std::function<void(const QString& name)> reopened;
        // Tests: opens the port of the settings on the background thread (null: WeightWorker::openPort).
        std::function<Port(const config::Config&)> open;
    };

    static constexpr int MAX_NETWORK_PAUSE_MS = 5000;
    static constexpr int QUICK_NETWORK_ATTEMPTS = 6;

    explicit PortReopener(Hooks hooks, QObject* parent = nullptr);
    // Ends an open still under way (quickly, where the driver can) and waits for it; its result is dropped.
    ~PortReopener() override;

    // Opens the port of `config` on a thread of its own; `done` gets the result here unless cancel()
    // came first (a port that opened all the same is then closed).
    void openInBackground(const config::Config& config, std::function<void(Opened)> done);
    // Waits for the port of `config` that went away: looks for `stablePort` (see stableName) every
    // `pollMs` milliseconds (at least 10) until it is back or cancel().
    void wait(const config::Config& config, const QString& stablePort, int pollMs);
    bool isWaiting() const { return waiting_; }
    // Ends the waiting, and drops the result of an open under way.
    void cancel();
    // Asks the driver to end the open under way, now and until it is over, without waiting for it.
    void abortOpen();
    // Ends the open under way and waits for its thread.
    void endOpen();
    // The pause before the next attempt while waiting, in milliseconds.
    int pauseMs() const { return pauseMs_; }

    // The device a port name stands for: its /dev/serial/by-id link where there is one (the same
    // adapter comes back under it even with another name), else the name itself.
    static QString stableName(const QString& port);
    // The current device name of what stableName() returned.
    static QString currentName(const QString& stable);

private:
    void tryReopen();
    void start(const config::Config& config, std::function<void(Opened)> done);
    void reopenDone(Port port);

    Hooks hooks_;
    QTimer* timer_ = nullptr;
    QTimer* abortTimer_ = nullptr;
    config::Config config_;
    QString stablePort_;
    bool waiting_ = false;
    int pauseMs_ = 500;
    int attempts_ = 0;
    std::thread thread_;
    bool pending_ = false;
    unsigned attempt_ = 0;    // counts background opens: the result of the current one clears pending_
    unsigned generation_ = 0; // counts cancel(): a result of an earlier request is dropped
    std::string openingPort_; // the port name being opened on thread_
    std::shared_ptr<std::atomic<bool>> finished_; // set by thread_ once the open returned
};

} // namespace vornal::worker
