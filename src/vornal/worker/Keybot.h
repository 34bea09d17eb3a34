#pragma once

// Keystroke output: types each processed value into whichever window has the keyboard focus, framed
// by an optional start key and a terminator key, on its own typing thread fed by a queue.

#include "vornal/config/ConfigHelper.h"
#include "vornal/worker/KeyMaps.h"

#include "platform/keys/KeyInjector.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

namespace vornal::config {
class Config;
}

namespace vornal::worker {

class Typist;
class WeightWorkerView;

class Keybot {
public:
    using KeyboardType = config::ConfigHelper::KeyboardType;
    using KeyMapType = config::ConfigHelper::KeyMapType;

    // Key codes of start and terminator keys (0 = none) as the StartWith / OutputTerminator options give
    // them; everyXValues <= 1 switches the second terminator off. `injector` is for tests; without it
    // the platform's backend is created for `keyboardType`. Throws platform::KeyInjectorUnavailable
    // (a std::runtime_error that says why) when this session cannot inject keys.
    Keybot(int keyDelay, int startWith, int endWith, int endWith2, int everyXValues,
           KeyboardType keyboardType, KeyMapType keyMapType, WeightWorkerView* view,
           std::unique_ptr<platform::KeyInjector> injector = nullptr);
    // The platform's key-injection backend for `keyboardType`: `backend` "auto" chooses from the session
    // and what the desktop offers, or names one ("wayland", "portal", "x11"). `choice` receives the
    // backends not taken and why, and the warning when only XWayland windows can receive keys. Throws
    // platform::KeyInjectorUnavailable, std::invalid_argument for an unknown name.
    static std::unique_ptr<platform::KeyInjector>
    createInjector(KeyboardType keyboardType, const QString& backend, platform::KeyInjectorChoice* choice);
    // createInjector, and the choice in `view`'s event log: the backend used and those not taken, and the
    // XWayland warning as an important line.
    static std::unique_ptr<platform::KeyInjector>
    openInjector(KeyboardType keyboardType, const QString& backend, WeightWorkerView* view);
    // From the settings record: delay, start key, both terminators, every-X-values count, layout; the
    // key map type of the record's instrument preset (ALPHANUMERIC_COMPLETE when none is set); the
    // backend the record's keyBackend names.
    static std::unique_ptr<Keybot> fromConfig(const config::Config& config, WeightWorkerView* view,
                                              std::unique_ptr<platform::KeyInjector> injector = nullptr);
    // Stops the typing thread (see stop()).
    ~Keybot();
    Keybot(const Keybot&) = delete;
    Keybot& operator=(const Keybot&) = delete;

    // How long a stopping connection lets the value being typed finish (see finishAndStop()).
    static constexpr int FINISH_VALUE_MS = 5000;
    // Queued typing beyond this many milliseconds (estimated from the delay) means typing falls behind.
    static constexpr int BEHIND_MS = 5000;

    // How long typing waits for modifier keys the user holds before it says so (and counts as held).
    static constexpr int MODIFIER_GRACE_MS = 2000;
    // How often a hold that no event ends (no focused window, modifiers down) is checked.
    static constexpr int POLL_MS = 10;

    // What became of one value (each queued value gets exactly one).
    struct Result {
        enum class Kind {
            Typed,    // every character, with start key and terminator
            Partly,   // typed, but without characters the layout cannot type (`skipped`)
            Cut,      // typing stopped in the middle: `typed` reached the window, the rest did not
            NotTyped, // nothing of it was typed: `reason`
            Refused   // the backend cannot type it; no key of it was sent: `reason`
        };
        quint64 id = 0;
        QString value;
        Kind kind = Kind::NotTyped;
        QString typed;                  // Cut: the characters whose keys were all sent
        QString rest;                   // Cut: the characters not typed
        QString skipped;                // Partly: the characters left out
        QString reason;                 // NotTyped, Refused; Cut: what stopped it
        bool terminatorMissing = false; // Cut: every character typed, but not the terminator
        // The data log's result: "typed", "typed without 'x'", "cut after '1'", "not typed: stopped",
        // "refused: ...".
        QString logText() const;
        // For the event log: "typed '1', not typed '2.340'" (Cut); empty for Typed.
        QString describe() const;
    };

    // Queues one value; an empty text is ignored (returns 0). Any thread. Returns the value's id, which
    // its Result carries. When the queue first holds more than BEHIND_MS of typing, says so once in the
    // log; again only after the queue has drained. Once the backend can type no more, the value is
    // reported as not typed instead.
    quint64 add(const QString& text);
    // Called (on the thread where the result became known: the typing thread, or that of add() and
    // finishAndStop()) once a value's result is known. Results are also kept for takeResults(). Set
    // before start().
    using ResultHandler = std::function<void()>;
    void setResultHandler(ResultHandler handler) { resultHandler_ = std::move(handler); }
    // The results known since the last call, in the order they became known. Any thread.
    std::vector<Result> takeResults();
    // Why typing waits now (the status line); Typing when it does not.
    enum class Wait { Typing, OwnWindow, NoFocus, Modifiers };
    Wait waiting() const { return wait_.load(); }
    // Called on the typing thread after each value has been typed whole, with its start and
    // terminator keys; `waiting` values are queued behind it. Not for cut, failed or discarded values.
    // Set before start().
    using TypedHandler = std::function<void(const QString& value, int waiting)>;
    void setTypedHandler(TypedHandler handler) { typedHandler_ = std::move(handler); }
    // Shares the typing turn with the other connections of a station (see Typist): each value waits for
    // its turn and is typed whole before any value of another connection. Null (the default): this
    // Keybot types on its own. Set before start().
    void setTypist(std::shared_ptr<Typist> typist) { typist_ = std::move(typist); }
    const std::shared_ptr<Typist>& typist() const { return typist_; }
    // Keys typed before each value, before the start key (key codes as StartWith gives them; at most a
    // few). Set before start().
    void setPrefix(std::vector<int> codes) { prefix_ = std::move(codes); }
    // Starts the typing thread (once).
    void start();
    // Interrupts the typing thread, also in the middle of a value or a pause, releases any key it still
    // holds and waits for it to end. Values still waiting are discarded, so that nothing of a stopped
    // connection is typed later into whatever has the focus; returns how many.
    int stop();
    // What finishAndStop() did: values discarded unread, and the value cut in the middle (if any).
    struct Ended {
        int discarded = 0;
        std::optional<QString> cut;
        std::vector<QString> discardedValues; // the values of `discarded`, in queue order
        // The value in progress was held and waits to be finished in its window (see finishAndStop()).
        bool resuming = false;
    };
    // How long a value cut by a stop may wait for the focus to return to its window.
    static constexpr int RESUME_MS = 60000;
    // The end of a connection: values still waiting are discarded at once, the value being typed is
    // finished with its start and terminator keys within `graceMs`, then the thread stops as in stop().
    // A value that could not finish in time, or that is held (see setHeld()), is cut; the log names
    // it. Called on the owner's thread; blocks at most `graceMs` (plus the stop).
    //
    // With `resumeMs` > 0, a value that is held (a click on Stop gave this program's window the focus)
    // and whose window the backend knows is not cut: the typing thread goes on with that value alone
    // and types its rest once that window has the focus again (Ended::resuming), or cuts it after
    // `resumeMs`; its Result says which. stop() ends the wait at once (cut).
    Ended finishAndStop(int graceMs = FINISH_VALUE_MS, int resumeMs = 0);
    // A value left by finishAndStop() still waits for its window, or is being finished.
    bool resuming() const;
    // The hold gate: while held (the program's own window has the keyboard focus) no key is typed;
    // values stay queued and typing goes on where it stopped once released. The first value that waits
    // for a hold is logged once per hold. Any thread.
    void setHeld(bool held);
    bool isHeld() const { return onHold_.load(); }
    // Estimated time to type the values waiting, in milliseconds (from the delay and their keys).
    long long backlogMs() const;
    // The queue holds more than BEHIND_MS of typing (set by add(), cleared when the queue drains).
    bool isBehind() const { return behind_.load(); }
    // Values waiting to be typed (not counting the one being typed).
    int pendingCount() const;
    // Waits until every queued value is typed (and its last key released). False on time-out or
    // when the typing thread is not running.
    bool waitUntilIdle(int timeoutMs);
    // The Caps Lock state, none when the platform cannot tell.
    std::optional<bool> capsLockOn();
    // The backend in use, e.g. "X11 (XTest) on :0".
    QString injectorName() const;
    // True once the backend can type no more (the compositor or the desktop session went away).
    bool lost() const;
    // Why (empty while it can type).
    QString lostReason() const;
    // The typing ways (keyBackend names) that work in this session, other than `except`: each is
    // opened and closed again; the desktop portal is not (opening it asks the user) and is listed
    // when a session bus is there, marked as not tried.
    static QStringList availableBackends(KeyboardType keyboardType, const QString& except);

    // ---- typing steps (on the typing thread) ----
    // The typing thread's body: until `stop` is requested, takes the next value and types it.
    void run(std::stop_token stop);
    void typeStart();
    // Types `text` character by character through keyMapComplete (`complete`) or keyMap.
    void typeString(const QString& text, bool complete);
    void typeEnd();
    // A start or terminator key: pressed as a key when it is a direct key, else typed as its character.
    void pressKeyReleaseStartEnd(int code, int delay);
    void pressKeyRelease(int code, int delay);

    // The primitives: key press / release of one key code (std::invalid_argument for a code the
    // platform does not know) and a pause of keyDelay milliseconds.
    void keyPress(int code);
    void keyRelease(int code);
    void pause(int ms);

    int keyDelay() const { return keyDelay_; }
    KeyboardType keyboardType() const { return keyboardType_; }

private:
    struct Interrupted {};
    struct Queued {
        quint64 id;
        QString text;
        quint64 ticket = 0; // the typing turn (Typist), 0 without one
    };
    // The backend can type no more (platform::KeyInjectorLost): not a std::exception, so that no
    // per-key handler takes it for one refused key.
    struct Lost {
        QString why;
    };
    void typeCharacter(char32_t cp, const QString& character);
    // Gives the typing turns of values that will not be typed back to the Typist.
    void releaseTickets(const std::deque<Queued>& dropped);
    // The value at the front of the queue once it may be typed (its turn has come); empty when the
    // thread is to end. Typing thread.
    std::optional<Queued> nextValue(std::stop_token stop);
    // Another connection of the station lost the keyboard output while this one had nothing queued.
    void loseIdle(const QString& why);
    void reportNotTyped(const QString& text);
    void report(const QString& withView, const QString& withoutView, const std::exception* e);
    void releaseHeld() noexcept;
    // Waits while the hold gate is set, while no window has the focus and while the user holds
    // modifiers; Interrupted when stopped meanwhile (typing thread only).
    void waitWhileHeld();
    // Sleeps up to `ms` unless stopped (Interrupted) or the hold gate changes.
    void napUnlessStopped(int ms);
    void setWait(Wait w);
    // A character of the value in progress has been sent whole (or skipped, `sent` false).
    void noteCharacter(const QString& character, bool sent);
    void pushResult(Result r);
    // Logs the current hold once; called with `lock` on queueMutex_, released while logging.
    void noteHold(std::unique_lock<std::mutex>& lock);
    // Pauses one value costs: one per key event of the value, its start key and its terminator.
    long long pausesOf(const QString& text) const;
    QString layoutName() const;

    // The values waiting, per connection.
    mutable std::mutex queueMutex_;
    std::condition_variable_any queueChanged_;
    std::deque<Queued> queue_;
    quint64 nextId_ = 1;
    std::vector<Result> results_;
    ResultHandler resultHandler_;
    std::atomic<Wait> wait_{Wait::Typing};
    bool waitLogged_ = false; // the current wait for focus or modifiers was logged
    // The value being typed (typing thread): its characters sent so far, those skipped, how far it got.
    bool counting_ = false;
    // The window that had the focus when the value in progress began (0: unknown), and the wait for it
    // to return after a stop (resuming_, until resumeUntil_).
    std::atomic<unsigned long> valueWindow_{0};
    bool resuming_ = false;
    std::chrono::steady_clock::time_point resumeUntil_{};
    QString sentPart_;
    QString skippedPart_;
    int charactersDone_ = 0;
    bool startSent_ = false;
    bool typing_ = false;
    bool finishing_ = false;          // finishAndStop() runs: no new value is taken
    std::optional<QString> cutValue_; // the value the last stop interrupted
    std::optional<Result> cutResult_; // and what became of it
    long long queuedPauses_ = 0;      // pausesOf() summed over queue_
    // What a pause of a typed value really took (the key delay plus the backend's own time per key),
    // in microseconds, measured on values typed without a hold; 0 until one was typed.
    std::atomic<long long> usPerPause_{0};
    std::atomic<unsigned> holdsWaited_{0}; // holds the typing thread waited through
    std::atomic<bool> onHold_{false};
    bool holdLogged_ = false; // the current hold was logged
    std::atomic<bool> behind_{false};
    QString lost_; // why the backend can type no more (empty while it can)

    WeightWorkerView* view_;
    TypedHandler typedHandler_;
    int keyDelay_;
    int endWith_;
    int endWith2_;
    int everyXValues_;
    int numCounter_ = 0;
    int startWith_;
    KeyMap keyMap_;
    KeyMap keyMapComplete_;
    KeyboardType keyboardType_;
    std::vector<int> directKeys_;

    std::vector<int> prefix_;
    std::shared_ptr<Typist> typist_;
    bool joined_ = false; // counted among the Typist's users (start() until the end of the thread)

    std::unique_ptr<platform::KeyInjector> injector_;
    std::vector<int> held_; // keys down now, in press order
    std::stop_token stop_;  // of the running typing thread (none: steps called directly)
    std::stop_source stopSource_;
    std::thread thread_;
};

} // namespace vornal::worker
