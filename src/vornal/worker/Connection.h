#pragma once

#include "vornal/config/Config.h"
#include "vornal/worker/DataLine.h"
#include "vornal/worker/Ignorer.h"
#include "vornal/worker/WeightWorkerView.h"

#include <Direduva/SerialPortLocal.h>

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QTimer;

namespace vornal::platform {
class GlobalHotkey;
class KeyInjector;
} // namespace vornal::platform

namespace vornal::worker {

class Keybot;
class LineExtras;
class PortReopener;
class SoundBot;
class Typist;
class WeightWorker;

// One connection to an instrument, shared by the window and `vornal-cli run`: owns the reading worker,
// the keystroke output (Keybot), the sound (SoundBot) and the duplicate filter (Ignorer), runs the
// start order (typing, Caps Lock check, sound, duplicate filter, opening the port, reading) and the
// per-line dispatch (duplicate filter, sound, line report, typing), and reconnects when the port goes
// away and comes back. It shows nothing itself: everything it has to say is a signal. Lives on the
// thread that starts it (the user-interface thread).
class Connection : public QObject {
    Q_OBJECT
public:
    struct Options {
        // Type the values (Keybot). Without it the values only reach line().
        bool keys = true;
        // A keystroke output that cannot start ends start() (the command line); otherwise the
        // connection runs without typing and outputFailed() says why (the window).
        bool keysRequired = false;
        // Play the settings' sound for each value.
        bool sound = true;
        // Wait for a port that went away and reopen it.
        bool reconnect = true;
        // How often a port that went away is looked for, in milliseconds.
        int reconnectPollMs = 500;
        // The result the data log gives a value that passed every filter when nothing types it.
        QString untypedResult = QStringLiteral("no typing backend");
        // A value cut by Stop while held (the Stop click gave the window the focus) waits this long for
        // its window to have the focus again and is then finished there (0: cut at once).
        int resumeCutMs = 0;
        // Take requests of `vornal-cli request` through the local socket.
        bool requestServer = true;
        // Grab the settings' request hotkey while connected.
        bool hotkey = true;
        // Tests: the global-shortcut backend (null: the desktop's, through createGlobalHotkey).
        std::function<std::unique_ptr<platform::GlobalHotkey>(std::string* why)> hotkeyBackend;
        // A network port is opened on a thread of its own: start() returns at once after connecting(),
        // and started() or startFailed() follows (the window, which must not stop meanwhile). Serial
        // device ports open within milliseconds and stay in start().
        bool openInBackground = false;
        // Tests: the key injector for the Keybot (null: the platform's).
        std::function<std::unique_ptr<platform::KeyInjector>()> injector;
        // The typing turn shared with the other connections of a station (null: this connection types
        // on its own). Values of all connections sharing it are typed whole, one after the other, in
        // the order they were handed over; each keeps its own settings and results.
        std::shared_ptr<Typist> typist;
        // The profile this connection runs (empty: none): named in the data log's instrument column and
        // in the name of its request socket (`vornal-cli request --profile NAME`).
        QString profileName;
    };

    enum class Output { Keys, Sound };
    enum class StartFailure { InvalidSetting, OpenFailed };
    // TypingLost: the keyboard output can type no more (the desktop ended the session).
    enum class StopReason { Stopped, PortGone, Failed, TypingLost };
    // What became of a line's value (the data log's result column, the event log's style).
    enum class Outcome { Typed, NotTyped, NoValue, Duplicate, Unstable, SamePlacement, Zero };

    explicit Connection(QObject* parent = nullptr);
    ~Connection() override;

    // Runs the start order with a copy of `config`. False when the connection did not start; then
    // startFailed() (or outputFailed() for a required keystroke output) has said why and nothing of
    // it is left running. With Options::openInBackground a network port may still be connecting when
    // it returns true: a failure then comes later, the same way (startFailed(), nothing left running).
    bool start(const config::Config& config, const Options& options);
    // Ends the connection: the reading stops, values still waiting to be typed are dropped (their
    // number is returned). While waiting for the port, stopped() follows at once; otherwise once the
    // worker has ended. Safe to call repeatedly.
    int stop();

    // From start() until stopped() (or a startFailed() after connecting()).
    bool isActive() const { return active_; }
    // The port is being opened in the background (Options::openInBackground).
    bool isConnecting() const { return connecting_; }
    // The port is open and read (not while waiting for it to come back).
    bool isConnected() const { return worker_ != nullptr && !waiting_; }
    bool isWaitingForPort() const { return waiting_; }
    // Values waiting to be typed.
    int waitingValues() const;
    // What became of the line that line() is reporting (valid during that signal).
    Outcome lastOutcome() const { return lastOutcome_; }
    // The data log's text of an outcome: "typed", "unstable", ...
    static QString outcomeText(Outcome outcome, const QString& untyped);
    // Asks the instrument for a reading with the request command (the Request button, the global
    // shortcut, `vornal-cli request`). False, with the reason logged, when there is no command or the
    // port is not open.
    bool request();
    // The settings have a request command.
    bool canRequest() const;
    // Typing waits while held (the program's own window has the keyboard focus): values stay queued.
    // True when that changed the hold.
    bool setTypingHeld(bool held);
    // Held, and there is typing to hold.
    bool typingHeld() const { return typingHeld_ && keybot_; }
    // More typing waits than the key delay lets through in a few seconds.
    bool typingBehind() const;
    // Why typing waits now: "" when it does not; else a sentence for the status line.
    QString typingWaitText() const;
    // The keystroke backend in use ("" without typing).
    QString injectorName() const;
    // The device a port name stands for: its /dev/serial/by-id link where there is one (the same
    // adapter comes back under it even with another name), else the name itself.
    static QString stableName(const QString& port);
    // The current device name of what stableName() returned.
    static QString currentName(const QString& stable);

signals:
    // An event-log line (important: highlighted). From any thread; connect queued or thread-safe.
    void logEvent(const QString& text, bool important);
    // The connected / idle look. From any thread.
    void connectedChanged(bool connected);
    // A warning the user must acknowledge (the A&D hand-shake check). On the starting thread, during
    // start() or a reconnect.
    void warning(const QString& title, const QString& message);
    // An output could not start; the connection goes on without it unless it is required (or, for the
    // keys, unless the settings chose a typing way: then the connection does not start either).
    void outputFailed(Output output, const QString& reason);
    // The typing way the settings chose (keyBackend) is not available here: the connection did not
    // start; outputFailed() has the message (the way, why, and the ways that are available).
    void keyBackendUnavailable(const QString& backend);
    // A value was cut in the middle (Stop, the end of the connection, the keyboard output lost):
    // "cut: typed '1', not typed '2.340'". On the connection's thread.
    void valueCut(const QString& report);
    // Typing waits (no window has the focus, the user holds modifier keys) or goes on again. On the
    // connection's thread, at most every few hundred milliseconds.
    void typingWaitChanged();
    // Caps Lock is on: typed letters would come out in the wrong case.
    void capsLockOn();
    // The port could not be opened (or the settings are unusable): the connection did not start.
    void startFailed(StartFailure kind, const QString& reason);
    // A network port is being opened in the background; started() or startFailed() follows, or stopped()
    // after a stop().
    void connecting(const QString& port);
    // The port is open and the reading starts.
    void started();
    // One processed line, after the duplicate filter and before typing; `received` is the worker's line
    // (before the duplicate filter; its rawData() is the line as received).
    void line(const DataLine& line, const DataLine& received);
    // The request command was written to the port.
    void requestSent();
    // A value was handed to the keystroke output; `waiting` values are queued now.
    void valueQueued(int waiting);
    // A value has been typed whole (start key, characters, terminator); `waiting` values are queued
    // behind it. From the typing thread: connect queued (the default across threads).
    void valueTyped(const QString& value, int waiting);
    // The data log could not be written (`path`), or can be again (`failing` false).
    void dataLogFailing(bool failing, const QString& path);
    // The port went away; the connection waits for it to come back (said once per loss).
    void waitingForPort(const QString& port, const QString& reason);
    // The port came back and was opened again with the same settings.
    void reconnected(const QString& port);
    // The connection has ended; `detail` says why for PortGone and Failed.
    void stopped(StopReason reason, const QString& detail);

private:
    class View;
    bool openWorker(bool reporting, std::unique_ptr<Direduva::SerialPortLocal> opened = nullptr);
    void workerFinished();
    // The port is back and read again.
    void reopened(const QString& port);
    // The rest of the start once the port is open, and the end of one that failed.
    void continueStart();
    void abandonStart();
    void finish(StopReason reason, const QString& detail);
    void dispatch(const DataLine& received);
    // Ends typing, sound, the duplicate filter and the extras; the number of values dropped unread.
    int endOutputs();
    bool keepsConnectedLook() const;
    // Results of the typing thread: data-log rows completed, cut values reported, a lost output ends
    // the connection.
    void takeTypingResults();
    void pollTypingWait();
    // Ends a value still waiting for its window after the last Stop (cut and reported).
    void endResuming();

    config::Config config_;
    Options options_;
    std::unique_ptr<View> view_;
    std::unique_ptr<Keybot> keybot_;
    // The keystroke output of a stopped connection that finishes its last value (see resumeCutMs); the
    // extras keep the data log open for its row.
    std::unique_ptr<Keybot> resuming_;
    bool typingHeld_ = false;
    std::unique_ptr<SoundBot> soundBot_;
    std::optional<Ignorer> ignorer_;
    // The stable-reading filter, the data log and the requests.
    std::unique_ptr<LineExtras> extras_;
    QString typingLost_;         // why the keyboard output can type no more (the connection then ends)
    bool endingOutputs_ = false; // endOutputs() runs: a lost output is not a reason to stop again
    QTimer* waitTimer_ = nullptr;
    int lastWait_ = 0;
    Outcome lastOutcome_ = Outcome::NoValue;
    // The one owner of the reading worker.
    std::unique_ptr<WeightWorker> worker_;
    // Opens a network port in the background and finds a port again that went away.
    std::unique_ptr<PortReopener> reopener_;
    bool connecting_ = false; // the start's open runs in the background
    QString stablePort_;
    bool active_ = false;
    bool waiting_ = false;
    bool stopRequested_ = false;
};

} // namespace vornal::worker
