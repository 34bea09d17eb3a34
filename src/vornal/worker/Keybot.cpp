#include "Keybot.h"

#include "vornal/config/Config.h"
#include "vornal/util/MessageFormat.h"
#include "vornal/util/ResourceBundle.h"
#include "vornal/worker/WeightWorkerView.h"

#ifdef VORNAL_KEYS_PORTAL
#include "platform/keys/portal/PortalInjector.h"
#endif

#include <algorithm>
#include <chrono>
#include <iostream>
#include <utility>

namespace vornal::worker {

namespace {
const util::ResourceBundle& bundle() {
    return util::ResourceBundle::get(QStringLiteral("vornal.worker.WorkerBundle"));
}
constexpr int SPACE = platform::key::SPACE;
constexpr int ALT = platform::key::ALT;
// What the backend says about the characters of `text` that this keyboard type types (those it lacks
// are named and skipped while typing, as before).
QString refusalOf(const QString& text, const KeyMap& map, Keybot::KeyboardType type,
                  platform::KeyInjector& injector) {
    std::u32string chars;
    for (const char32_t cp : text.toUcs4()) {
        const auto it = map.find(cp);
        if ((it != map.end() && !it->second.empty()) || (type == Keybot::KeyboardType::ALL && cp >= 0xA0 &&
                                                         cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)))
            chars += cp;
    }
    return chars.empty() ? QString() : QString::fromStdString(injector.refusal(chars));
}

} // namespace

Keybot::Keybot(int keyDelay, int startWith, int endWith, int endWith2, int everyXValues,
               KeyboardType keyboardType, KeyMapType keyMapType, WeightWorkerView* view,
               std::unique_ptr<platform::KeyInjector> injector)
    : view_(view), keyDelay_(std::max(0, keyDelay)), endWith_(endWith), endWith2_(endWith2),
      everyXValues_(everyXValues), startWith_(startWith), keyMap_(getKeymap(keyboardType, keyMapType)),
      keyMapComplete_(getKeymap(keyboardType, KeyMapType::ALPHANUMERIC_COMPLETE)),
      keyboardType_(keyboardType), directKeys_(getDirectKeys(keyboardType)), injector_(std::move(injector)) {
    if (!injector_)
        injector_ = openInjector(keyboardType, QStringLiteral("auto"), view_);
}

std::unique_ptr<platform::KeyInjector> Keybot::openInjector(KeyboardType keyboardType, const QString& backend,
                                                            WeightWorkerView* view) {
    platform::KeyInjectorChoice choice;
    auto injector = createInjector(keyboardType, backend, &choice);
    if (view) {
        view->logEvent(QStringLiteral("Typing through %1").arg(QString::fromStdString(injector->name())));
        for (const auto& n : choice.notTaken)
            view->logEvent(QStringLiteral("Not typing through %1").arg(QString::fromStdString(n)));
        if (!choice.warning.empty())
            view->logImportantEvent(
                QStringLiteral("Warning: %1").arg(QString::fromStdString(choice.warning)));
    }
    return injector;
}

std::unique_ptr<platform::KeyInjector> Keybot::createInjector(KeyboardType keyboardType,
                                                              const QString& backend,
                                                              platform::KeyInjectorChoice* choice) {
    platform::KeyInjectorRequest request;
    request.backend = backend.toStdString();
#ifdef VORNAL_KEYS_PORTAL
    request.openPortal = &platform::openPortalInjector;
#endif
    return platform::createKeyInjector(getKeymap(keyboardType, KeyMapType::ALPHANUMERIC_COMPLETE), request,
                                       choice);
}

std::unique_ptr<Keybot> Keybot::fromConfig(const config::Config& config, WeightWorkerView* view,
                                           std::unique_ptr<platform::KeyInjector> injector) {
    const auto instrument = config.getInstrument();
    const KeyMapType type = instrument ? instrument->getKeyMapType() : KeyMapType::ALPHANUMERIC_COMPLETE;
    if (!injector) // the backend the settings name ("auto": chosen from the session)
        injector = openInjector(config.getKeyboardType(), config.getKeyBackend(), view);
    return std::make_unique<Keybot>(config.getDelayAsInt(), config.getStartWith().getKeyCode(),
                                    config.getOutputTerminator().getKeyCode(),
                                    config.getOutputTerminator2().getKeyCode(), config.getEveryXValuesAsInt(),
                                    config.getKeyboardType(), type, view, std::move(injector));
}

Keybot::~Keybot() {
    stop();
}

void Keybot::add(const QString& text) {
    if (text.isEmpty())
        return;
    const long long pauses = pausesOf(text);
    long long backlog = 0;
    int waiting = 0;
    bool warn = false;
    {
        std::lock_guard lock(queueMutex_);
        if (lost_.isEmpty()) {
            queue_.push_back(text);
            queuedPauses_ += pauses;
            backlog = queuedPauses_ * keyDelay_;
            waiting = static_cast<int>(queue_.size());
            warn = backlog > BEHIND_MS && !behind_.exchange(true);
        }
    }
    if (lost()) {
        reportNotTyped(text);
        return;
    }
    queueChanged_.notify_all();
    if (warn) {
        const QString message = util::MessageFormat::format(
            bundle().getString(QStringLiteral("typing.behind.0.1")), waiting, (backlog + 999) / 1000);
        report(message, message, nullptr);
    }
}

long long Keybot::pausesOf(const QString& text) const {
    // Each key event is followed by a pause of the delay; ALT codes add one more at their end.
    long long pauses = (startWith_ > 0 ? 2 : 0) + (endWith_ > 0 || endWith2_ > 0 ? 2 : 0);
    for (const char32_t cp : text.toUcs4()) {
        const auto it = keyMap_.find(cp);
        if (it == keyMap_.end() || it->second.empty())
            continue;
        const auto keys = static_cast<long long>(it->second.size());
        pauses += it->second.front() == ALT && keys > 1 ? 2 * keys + 1 : 2 * keys;
    }
    return pauses;
}

long long Keybot::backlogMs() const {
    std::lock_guard lock(queueMutex_);
    return queuedPauses_ * keyDelay_;
}

void Keybot::setHeld(bool held) {
    {
        std::lock_guard lock(queueMutex_);
        onHold_ = held;
        if (!held)
            holdLogged_ = false;
    }
    queueChanged_.notify_all();
}

void Keybot::waitWhileHeld() {
    if (!onHold_.load())
        return;
    std::unique_lock lock(queueMutex_);
    if (!onHold_.load())
        return;
    noteHold(lock);
    if (!queueChanged_.wait(lock, stop_, [this] { return !onHold_.load(); }))
        throw Interrupted{};
}

void Keybot::noteHold(std::unique_lock<std::mutex>& lock) {
    if (std::exchange(holdLogged_, true))
        return;
    lock.unlock();
    const QString message = bundle().getString(QStringLiteral("typing.held"));
    report(message, message, nullptr);
    lock.lock();
}

Keybot::Ended Keybot::finishAndStop(int graceMs) {
    Ended ended;
    {
        std::unique_lock lock(queueMutex_);
        finishing_ = true;
        ended.discarded = static_cast<int>(queue_.size());
        queue_.clear();
        queuedPauses_ = 0;
        cutValue_.reset();
        // A held value cannot go on: the keys would reach this program's own window.
        queueChanged_.wait_for(lock, std::chrono::milliseconds(std::max(0, graceMs)),
                               [this] { return !typing_ || onHold_.load() || !thread_.joinable(); });
    }
    ended.discarded += stop();
    {
        std::lock_guard lock(queueMutex_);
        ended.cut = std::exchange(cutValue_, std::nullopt);
        finishing_ = false;
    }
    if (ended.cut) {
        const QString message =
            util::MessageFormat::format(bundle().getString(QStringLiteral("value.cut.0")), *ended.cut);
        report(message, message, nullptr);
    }
    return ended;
}

void Keybot::start() {
    if (thread_.joinable())
        return;
    stopSource_ = std::stop_source();
    thread_ = std::thread([this, token = stopSource_.get_token()] { run(token); });
}

int Keybot::stop() {
    stopSource_.request_stop();
    queueChanged_.notify_all();
    if (thread_.joinable())
        thread_.join();
    std::lock_guard lock(queueMutex_);
    const int discarded = static_cast<int>(queue_.size());
    queue_.clear();
    queuedPauses_ = 0;
    typing_ = false;
    behind_ = false;
    return discarded;
}

int Keybot::pendingCount() const {
    std::lock_guard lock(queueMutex_);
    return static_cast<int>(queue_.size());
}

bool Keybot::waitUntilIdle(int timeoutMs) {
    std::unique_lock lock(queueMutex_);
    return queueChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [this] {
                                      return (queue_.empty() && !typing_) || !thread_.joinable() ||
                                             stopSource_.stop_requested();
                                  }) &&
           queue_.empty() && !typing_ && thread_.joinable();
}

std::optional<bool> Keybot::capsLockOn() {
    return injector_->capsLockOn();
}

QString Keybot::injectorName() const {
    return QString::fromStdString(injector_->name());
}

QString Keybot::layoutName() const {
    return keyboardType_.toString();
}

void Keybot::run(std::stop_token stop) {
    stop_ = stop;
    while (!stop.stop_requested()) {
        QString text;
        {
            std::unique_lock lock(queueMutex_);
            if (!queueChanged_.wait(lock, stop, [this] { return !queue_.empty() && !finishing_; }))
                break; // stopped while waiting
            if (onHold_.load()) {
                // Nothing is taken while held: the value stays queued (and a stop discards it whole).
                noteHold(lock);
                queueChanged_.wait(lock, stop, [this] { return !onHold_.load() || finishing_; });
                continue;
            }
            text = queue_.front();
            queue_.pop_front();
            queuedPauses_ -= pausesOf(text);
            typing_ = true;
        }
        bool interrupted = false;
        bool cut = false;
        try {
            // A value the backend cannot type whole (characters the desktop's layout lacks) is refused
            // before its first key: never typed with gaps or with other characters.
            const QString refused = refusalOf(text, keyMap_, keyboardType_, *injector_);
            if (!refused.isEmpty()) {
                report(QStringLiteral("%1. Not typed: %2").arg(refused, text),
                       QStringLiteral("%1. Not typed: %2").arg(refused, text), nullptr);
                interrupted = true;
            } else {
                typeStart();
                typeString(text, false);
                typeEnd();
            }
        } catch (const Interrupted&) {
            interrupted = true;
            cut = true;
        } catch (const Lost& lost) {
            // Typing ends here; this value and those waiting are named, nothing goes silently.
            releaseHeld();
            std::deque<QString> waiting;
            {
                std::lock_guard lock(queueMutex_);
                lost_ = lost.why;
                waiting.swap(queue_);
                queuedPauses_ = 0;
                typing_ = false;
            }
            if (view_)
                view_->logImportantEvent(
                    QStringLiteral("Cannot type: %1. Typing has stopped; values are no longer typed.")
                        .arg(lost.why));
            reportNotTyped(text);
            for (const QString& w : waiting)
                reportNotTyped(w);
            queueChanged_.notify_all();
            break;
        } catch (const std::exception& e) {
            // Nothing may end the typing thread but a stop; the next value is typed as usual.
            report(QStringLiteral("Error typing %1: %2").arg(text, QString::fromUtf8(e.what())),
                   QStringLiteral("Error typing %1").arg(text), &e);
            interrupted = true;
        }
        if (interrupted)
            releaseHeld();
        int waiting = 0;
        {
            std::lock_guard lock(queueMutex_);
            typing_ = false;
            if (cut)
                cutValue_ = text;
            if (queue_.empty())
                behind_ = false; // drained: a new backlog is reported again
            waiting = static_cast<int>(queue_.size());
        }
        queueChanged_.notify_all();
        if (!interrupted && typedHandler_)
            typedHandler_(text, waiting);
    }
    stop_ = std::stop_token();
}

void Keybot::typeStart() {
    if (startWith_ > 0)
        pressKeyReleaseStartEnd(startWith_, keyDelay_);
}

void Keybot::typeEnd() {
    if (everyXValues_ > 1) {
        if (++numCounter_ == everyXValues_) {
            numCounter_ = 0;
            if (endWith2_ > 0)
                pressKeyReleaseStartEnd(endWith2_, keyDelay_);
            return;
        }
    }
    if (endWith_ > 0)
        pressKeyReleaseStartEnd(endWith_, keyDelay_);
}

void Keybot::pressKeyReleaseStartEnd(int code, int delay) {
    waitWhileHeld();
    if (std::find(directKeys_.begin(), directKeys_.end(), code) != directKeys_.end())
        pressKeyRelease(code, delay);
    else
        typeString(QString(QChar(static_cast<char16_t>(code))), true);
}

void Keybot::pressKeyRelease(int code, int delay) {
    try {
        keyPress(code);
    } catch (const std::exception& e) {
        report(QStringLiteral("Error pressing key %1 on %2 keyboard: %3")
                   .arg(code)
                   .arg(layoutName(), QString::fromUtf8(e.what())),
               QStringLiteral("Error on pressing: %1").arg(code), &e);
    }
    pause(delay);
    try {
        keyRelease(code);
    } catch (const std::exception& e) {
        report(QStringLiteral("Error releasing key %1 on %2 keyboard: %3")
                   .arg(code)
                   .arg(layoutName(), QString::fromUtf8(e.what())),
               QStringLiteral("Error on releasing: %1").arg(code), &e);
    }
    pause(delay);
}

void Keybot::typeString(const QString& text, bool complete) {
    const KeyMap& map = complete ? keyMapComplete_ : keyMap_;
    for (const char32_t cp : text.toUcs4()) {
        waitWhileHeld(); // between characters: a chord is never left half pressed
        const QString character = QString::fromUcs4(&cp, 1);
        const auto it = map.find(cp);
        const bool beyondMap = it == map.end() || it->second.empty();
        if (beyondMap && keyboardType_ == KeyboardType::ALL && cp >= 0xA0 && cp <= 0x10FFFF &&
            !(cp >= 0xD800 && cp <= 0xDFFF)) {
            // ALL types any character as itself, whatever key of the active layout has it.
            typeCharacter(cp, character);
            continue;
        }
        if (beyondMap) {
            if (view_) {
                const QString shown = (cp < 0x20 || cp > 0x7E)
                                          ? QStringLiteral("<%1>").arg(static_cast<unsigned>(cp))
                                          : character;
                view_->logImportantEvent(bundle().getString(QStringLiteral("cannot_type")) + shown);
            }
            continue;
        }
        const std::vector<int>& seq = it->second;

        if (seq.front() == ALT && seq.size() > 1) {
            // ALT + numeric-pad code.
            try {
                keyPress(ALT);
                pause(keyDelay_);
                for (std::size_t i = 1; i < seq.size(); ++i) {
                    keyPress(seq[i]);
                    pause(keyDelay_);
                    keyRelease(seq[i]);
                    pause(keyDelay_);
                }
                keyRelease(ALT);
                pause(keyDelay_);
                pause(keyDelay_);
            } catch (const std::exception& e) {
                report(QStringLiteral("Error pressing ALT key for %1 on %2 keyboard: %3")
                           .arg(character, layoutName(), QString::fromUtf8(e.what())),
                       QStringLiteral("Error pressing/releasing ALT key for : %1").arg(character), &e);
                releaseHeld(); // ALT must not stay down
            }
            continue;
        }

        // A chord; a SPACE after other keys completes a dead key and comes after the release. Some
        // receivers put a dead key typed without any pause before the characters typed earlier.
        const bool deadChord = seq.size() > 1 && seq.back() == SPACE;
        if (deadChord && keyDelay_ < 1)
            pause(1);
        bool deadSpace = false;
        for (std::size_t i = 0; i < seq.size(); ++i) {
            if (seq[i] == SPACE && i > 0) {
                deadSpace = true;
                continue;
            }
            try {
                keyPress(seq[i]);
            } catch (const std::exception& e) {
                report(QStringLiteral("Error pressing key %1 on %2 keyboard: %3")
                           .arg(seq[i])
                           .arg(layoutName(), QString::fromUtf8(e.what())),
                       QStringLiteral("Error on pressing: %1").arg(seq[i]), &e);
            }
            pause(keyDelay_);
        }
        for (std::size_t i = seq.size(); i-- > 0;) {
            if (seq[i] == SPACE && i > 0)
                continue;
            try {
                keyRelease(seq[i]);
            } catch (const std::exception& e) {
                report(QStringLiteral("Error releasing key %1 on %2 keyboard: %3")
                           .arg(seq[i])
                           .arg(layoutName(), QString::fromUtf8(e.what())),
                       QStringLiteral("Error on releasing: %1").arg(seq[i]), &e);
            }
            pause(keyDelay_);
        }
        if (deadSpace) {
            try {
                keyPress(SPACE);
                pause(keyDelay_);
                keyRelease(SPACE);
                pause(keyDelay_);
            } catch (const std::exception& e) {
                report(QStringLiteral("Deadkey error: %1").arg(QString::fromUtf8(e.what())),
                       QStringLiteral("Deadkey error"), &e);
                releaseHeld();
            }
        }
    }
}

void Keybot::typeCharacter(char32_t cp, const QString& character) {
    try {
        injector_->typeCharacter(cp);
    } catch (const platform::KeyInjectorLost& e) {
        throw Lost{QString::fromUtf8(e.what())};
    } catch (const std::exception& e) {
        report(QStringLiteral("Error typing %1: %2").arg(character, QString::fromUtf8(e.what())),
               QStringLiteral("Error typing %1").arg(character), &e);
    }
    pause(keyDelay_);
}

bool Keybot::lost() const {
    std::lock_guard lock(queueMutex_);
    return !lost_.isEmpty();
}

void Keybot::reportNotTyped(const QString& text) {
    report(QStringLiteral("Not typed (keyboard output stopped): %1").arg(text),
           QStringLiteral("Not typed: %1").arg(text), nullptr);
}

void Keybot::keyPress(int code) {
    try {
        injector_->keyPress(code);
    } catch (const platform::KeyInjectorLost& e) {
        throw Lost{QString::fromUtf8(e.what())};
    }
    held_.push_back(code);
}

void Keybot::keyRelease(int code) {
    try {
        injector_->keyRelease(code);
    } catch (const platform::KeyInjectorLost& e) {
        throw Lost{QString::fromUtf8(e.what())};
    }
    const auto it = std::find(held_.rbegin(), held_.rend(), code);
    if (it != held_.rend())
        held_.erase(std::next(it).base());
}

void Keybot::pause(int ms) {
    bool whole = false;
    try {
        whole = injector_->pause(ms, stop_);
    } catch (const platform::KeyInjectorLost& e) {
        throw Lost{QString::fromUtf8(e.what())};
    }
    if (!whole)
        throw Interrupted{};
}

void Keybot::releaseHeld() noexcept {
    while (!held_.empty()) {
        const int code = held_.back();
        held_.pop_back();
        try {
            injector_->keyRelease(code);
        } catch (...) {
            // The key is reported as not releasable already; nothing more to do.
        }
    }
}

void Keybot::report(const QString& withView, const QString& withoutView, const std::exception* e) {
    if (view_) {
        view_->logImportantEvent(withView);
        return;
    }
    std::cout << withoutView.toStdString() << std::endl;
    if (e)
        std::cerr << e->what() << std::endl;
}

} // namespace vornal::worker
