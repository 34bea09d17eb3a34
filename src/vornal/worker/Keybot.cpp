#include "Keybot.h"

#include "vornal/config/Config.h"
#include "vornal/util/MessageFormat.h"
#include "vornal/util/ResourceBundle.h"
#include "vornal/worker/Typist.h"
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
// A message of the worker bundle with its arguments.
template <class... Args> QString message(const char* key, const Args&... args) {
    return util::MessageFormat::format(bundle().getString(QLatin1String(key)), args...);
}
constexpr int SPACE = platform::key::SPACE;
constexpr int ALT = platform::key::ALT;
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
        const auto text = [](const char* key, const std::string& arg) {
            return util::MessageFormat::format(bundle().getString(QLatin1String(key)),
                                               QString::fromStdString(arg));
        };
        view->logEvent(text("typing.through.0", injector->name()));
        for (const auto& n : choice.notTaken)
            view->logEvent(text("typing.not.through.0", n));
        if (!choice.warning.empty())
            view->logImportantEvent(text("typing.warning.0", choice.warning));
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

quint64 Keybot::add(const QString& text) {
    if (text.isEmpty())
        return 0;
    const long long pauses = pausesOf(text);
    long long backlog = 0;
    int waiting = 0;
    bool warn = false;
    bool gone = false;
    quint64 id = 0;
    {
        std::lock_guard lock(queueMutex_);
        id = nextId_++;
        if (lost_.isEmpty() && typist_ && typist_->lost())
            lost_ = typist_->lostReason(); // another connection of the station lost the keyboard output
        gone = !lost_.isEmpty();
        if (!gone) {
            // The ticket is drawn under the queue's lock: this queue's values keep their order of turns.
            queue_.push_back({id, text, typist_ ? typist_->draw() : 0});
            queuedPauses_ += pauses;
            // The delay, or what typing really takes per key where the backend is slower than that.
            backlog = std::max(queuedPauses_ * keyDelay_, queuedPauses_ * usPerPause_.load() / 1000);
            waiting = static_cast<int>(queue_.size());
            warn = backlog > BEHIND_MS && !behind_.exchange(true);
        }
    }
    if (gone) {
        reportNotTyped(text);
        Result r;
        r.id = id;
        r.value = text;
        r.reason = QStringLiteral("keyboard output lost");
        pushResult(std::move(r));
        return id;
    }
    queueChanged_.notify_all();
    if (warn) {
        // A warning, not a failure: every value is still typed. Values that wait for the focus to leave
        // this window wait for the user, not for faster typing.
        const bool held = onHold_.load();
        const QString key = held ? (waiting == 1 ? QStringLiteral("typing.held.backlog.one.1")
                                                 : QStringLiteral("typing.held.backlog.0.1"))
                                 : (waiting == 1 ? QStringLiteral("typing.behind.one.1")
                                                 : QStringLiteral("typing.behind.0.1"));
        const QString said =
            util::MessageFormat::format(bundle().getString(key), waiting, (backlog + 999) / 1000);
        if (view_)
            view_->logEvent(said);
        else
            std::cout << said.toStdString() << std::endl;
    }
    return id;
}

void Keybot::pushResult(Result r) {
    {
        std::lock_guard lock(queueMutex_);
        results_.push_back(std::move(r));
    }
    if (resultHandler_)
        resultHandler_();
}

std::vector<Keybot::Result> Keybot::takeResults() {
    std::lock_guard lock(queueMutex_);
    return std::exchange(results_, {});
}

namespace {
// The characters of `text` from the `done`-th code point on.
QString restOf(const QString& text, int done) {
    const auto ucs = text.toUcs4();
    return done >= ucs.size()
               ? QString()
               : QString::fromUcs4(reinterpret_cast<const char32_t*>(ucs.data()) + done, ucs.size() - done);
}
QString quoted(const QString& text) {
    return u'\'' + text + u'\'';
}
} // namespace

QString Keybot::Result::logText() const {
    switch (kind) {
    case Kind::Typed:
        return QStringLiteral("typed");
    case Kind::Partly:
        return QStringLiteral("typed without ") + quoted(skipped);
    case Kind::Cut:
        return terminatorMissing ? QStringLiteral("cut before its terminator")
                                 : QStringLiteral("cut after ") + quoted(typed);
    case Kind::NotTyped:
        return QStringLiteral("not typed: ") + reason;
    case Kind::Refused:
        return QStringLiteral("refused: ") + reason;
    }
    return QString();
}

QString Keybot::Result::describe() const {
    // The reasons of this class in the user's language; a backend's reason as it gives it.
    const QString shownReason = reason == QLatin1String("stopped") ? message("reason.stopped")
                                : reason == QLatin1String("keyboard output lost")
                                    ? message("reason.output.lost")
                                    : reason;
    switch (kind) {
    case Kind::Typed:
        return QString();
    case Kind::Partly:
        return message("result.partly.0.1", value, quoted(skipped));
    case Kind::Cut:
        if (terminatorMissing)
            return message("result.cut.terminator.0", quoted(typed));
        return message("result.cut.0.1", quoted(typed), quoted(rest));
    case Kind::NotTyped:
        return message("result.not.typed.0.1", shownReason, value);
    case Kind::Refused:
        return message("result.refused.0.1", quoted(value), shownReason);
    }
    return QString();
}

long long Keybot::pausesOf(const QString& text) const {
    // Each key event is followed by a pause of the delay; ALT codes add one more at their end.
    long long pauses = (startWith_ > 0 ? 2 : 0) + (endWith_ > 0 || endWith2_ > 0 ? 2 : 0) +
                       2 * static_cast<long long>(prefix_.size());
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

void Keybot::setWait(Wait w) {
    if (wait_.exchange(w) == w)
        return;
    if (w == Wait::Typing || w == Wait::OwnWindow)
        waitLogged_ = false;
    queueChanged_.notify_all(); // finishAndStop() stops waiting for a held value
}

void Keybot::napUnlessStopped(int ms) {
    std::unique_lock lock(queueMutex_);
    ++holdsWaited_;
    const bool held = onHold_.load();
    queueChanged_.wait_for(lock, stop_, std::chrono::milliseconds(ms),
                           [this, held] { return onHold_.load() != held; });
    if (stop_.stop_requested())
        throw Interrupted{};
}

void Keybot::waitWhileHeld() {
    // Nothing is typed while this program's window has the focus, while no window has it (the keys
    // would go nowhere) or while the user holds a modifier (the keys would become shortcuts).
    std::optional<std::chrono::steady_clock::time_point> modifiersSince;
    for (;;) {
        if (stop_.stop_requested())
            throw Interrupted{};
        bool resumingNow = false;
        std::chrono::steady_clock::time_point until{};
        {
            std::lock_guard lock(queueMutex_);
            resumingNow = resuming_;
            until = resumeUntil_;
        }
        if (resumingNow) {
            // After a stop the rest goes only into the window that received the first part.
            if (std::chrono::steady_clock::now() >= until)
                throw Interrupted{};
            unsigned long window = 0;
            try {
                window = injector_->focusWindow();
            } catch (const platform::KeyInjectorLost& e) {
                throw Lost{QString::fromUtf8(e.what())};
            }
            if (window != valueWindow_.load()) {
                setWait(Wait::NoFocus);
                napUnlessStopped(POLL_MS * 5);
                continue;
            }
        }
        if (onHold_.load() && !resumingNow) {
            setWait(Wait::OwnWindow);
            std::unique_lock lock(queueMutex_);
            if (onHold_.load()) {
                noteHold(lock);
                ++holdsWaited_;
                if (!queueChanged_.wait(lock, stop_, [this] { return !onHold_.load(); }))
                    throw Interrupted{};
            }
            continue;
        }
        std::optional<bool> focus, modifiers;
        try {
            focus = injector_->hasFocusTarget();
            modifiers = focus.value_or(true) ? injector_->userModifiersDown() : std::nullopt;
        } catch (const platform::KeyInjectorLost& e) {
            throw Lost{QString::fromUtf8(e.what())};
        }
        if (!focus.value_or(true)) {
            setWait(Wait::NoFocus);
            if (!std::exchange(waitLogged_, true))
                report(message("typing.no.focus"), message("typing.no.focus"), nullptr);
            napUnlessStopped(POLL_MS * 5);
            continue;
        }
        if (modifiers.value_or(false)) {
            const auto now = std::chrono::steady_clock::now();
            if (!modifiersSince)
                modifiersSince = now;
            if (now - *modifiersSince >= std::chrono::milliseconds(MODIFIER_GRACE_MS)) {
                setWait(Wait::Modifiers);
                if (!std::exchange(waitLogged_, true))
                    report(message("typing.modifiers.held"), message("typing.modifiers.held"), nullptr);
            }
            napUnlessStopped(POLL_MS);
            continue;
        }
        setWait(Wait::Typing);
        return;
    }
}

void Keybot::noteHold(std::unique_lock<std::mutex>& lock) {
    if (std::exchange(holdLogged_, true))
        return;
    lock.unlock();
    const QString text = message("typing.held");
    report(text, text, nullptr);
    lock.lock();
}

bool Keybot::resuming() const {
    std::lock_guard lock(queueMutex_);
    return resuming_ && typing_;
}

Keybot::Ended Keybot::finishAndStop(int graceMs, int resumeMs) {
    Ended ended;
    std::deque<Queued> dropped;
    {
        std::unique_lock lock(queueMutex_);
        finishing_ = true;
        dropped.swap(queue_);
        releaseTickets(dropped); // the station's other connections need not wait for them
        queuedPauses_ = 0;
        cutValue_.reset();
        cutResult_.reset();
        // A held value cannot go on: the keys would reach this program's own window, or no window, or
        // become shortcuts of the keys the user holds.
        queueChanged_.wait_for(lock, std::chrono::milliseconds(std::max(0, graceMs)), [this] {
            return !typing_ || onHold_.load() || wait_.load() != Wait::Typing || !thread_.joinable();
        });
        // Held in its window's absence: the rest can still go there once that window is back.
        if (resumeMs > 0 && typing_ && thread_.joinable() && !resuming_ && valueWindow_.load() != 0 &&
            (onHold_.load() || wait_.load() != Wait::Typing)) {
            resuming_ = true;
            resumeUntil_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(resumeMs);
            ended.resuming = true;
        }
    }
    if (ended.resuming) {
        ended.discarded = static_cast<int>(dropped.size());
        for (auto& q : dropped) {
            ended.discardedValues.push_back(q.text);
            Result r;
            r.id = q.id;
            r.value = q.text;
            r.reason = QStringLiteral("stopped");
            pushResult(std::move(r));
        }
        queueChanged_.notify_all();
        return ended;
    }
    stopSource_.request_stop();
    queueChanged_.notify_all();
    if (thread_.joinable())
        thread_.join();
    {
        std::lock_guard lock(queueMutex_);
        std::deque<Queued> late;
        late.swap(queue_);
        releaseTickets(late);
        for (auto& q : late)
            dropped.push_back(std::move(q));
        queuedPauses_ = 0;
        typing_ = false;
        behind_ = false;
        ended.cut = std::exchange(cutValue_, std::nullopt);
        finishing_ = false;
    }
    if (typist_ && std::exchange(joined_, false))
        typist_->leave();
    std::optional<Result> cut;
    {
        std::lock_guard lock(queueMutex_);
        cut = std::exchange(cutResult_, std::nullopt);
    }
    if (cut)
        pushResult(*cut);
    ended.discarded = static_cast<int>(dropped.size());
    for (auto& q : dropped) {
        ended.discardedValues.push_back(q.text);
        Result r;
        r.id = q.id;
        r.value = q.text;
        r.reason = QStringLiteral("stopped");
        pushResult(std::move(r));
    }
    if (ended.cut) {
        // A value that waited whole (no window had the focus, keys were held) reached no window at all.
        QString text;
        if (cut && cut->kind == Result::Kind::NotTyped)
            text = message("not.typed.connection.stopped.0", *ended.cut);
        else if (cut && cut->kind == Result::Kind::Cut)
            text = message("value.cut.0", *ended.cut) + u' ' + message("value.cut.detail.0", cut->describe());
        else
            text = message("value.cut.0", *ended.cut);
        report(text, text, nullptr);
    }
    return ended;
}

void Keybot::start() {
    if (thread_.joinable())
        return;
    stopSource_ = std::stop_source();
    if (typist_ && !std::exchange(joined_, true))
        typist_->join();
    thread_ = std::thread([this, token = stopSource_.get_token()] { run(token); });
}

int Keybot::stop() {
    return finishAndStop(0).discarded;
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

void Keybot::releaseTickets(const std::deque<Queued>& dropped) {
    if (!typist_)
        return;
    for (const Queued& q : dropped)
        typist_->release(q.ticket);
}

void Keybot::loseIdle(const QString& why) {
    {
        std::lock_guard lock(queueMutex_);
        if (!lost_.isEmpty())
            return;
        lost_ = why;
    }
    if (view_)
        view_->logImportantEvent(message("typing.lost.0", why));
    if (resultHandler_)
        resultHandler_(); // the connection finds lost() and ends
}

std::optional<Keybot::Queued> Keybot::nextValue(std::stop_token stop) {
    // How often a Keybot with nothing to type looks whether the station's keyboard output was lost.
    constexpr auto lostPoll = std::chrono::milliseconds(100);
    for (;;) {
        quint64 ticket = 0;
        {
            std::unique_lock lock(queueMutex_);
            const auto ready = [this] { return !queue_.empty() && !finishing_; };
            if (typist_) {
                while (!ready()) {
                    if (stop.stop_requested())
                        return std::nullopt;
                    if (typist_->lost()) {
                        lock.unlock();
                        loseIdle(typist_->lostReason());
                        return std::nullopt;
                    }
                    queueChanged_.wait_for(lock, stop, lostPoll, ready);
                }
            } else if (!queueChanged_.wait(lock, stop, ready)) {
                return std::nullopt; // stopped while waiting
            }
            if (onHold_.load()) {
                // Nothing is taken while held: the value stays queued (and a stop discards it whole).
                noteHold(lock);
                wait_ = Wait::OwnWindow;
                queueChanged_.wait(lock, stop, [this] { return !onHold_.load() || finishing_; });
                continue;
            }
            if (!typist_) {
                Queued item = queue_.front();
                queue_.pop_front();
                queuedPauses_ -= pausesOf(item.text);
                typing_ = true;
                return item;
            }
            ticket = queue_.front().ticket;
        }
        // The values of the station's other connections handed over earlier go first.
        const auto turn = typist_->waitTurn(ticket, stop);
        if (!turn)
            return std::nullopt;
        if (*turn == Typist::Turn::Released)
            continue; // dropped meanwhile (Stop)
        std::lock_guard lock(queueMutex_);
        if (queue_.empty() || queue_.front().ticket != ticket || finishing_ || onHold_.load())
            continue;
        Queued item = queue_.front();
        queue_.pop_front();
        queuedPauses_ -= pausesOf(item.text);
        typing_ = true;
        return item;
    }
}

void Keybot::run(std::stop_token stop) {
    stop_ = stop;
    while (!stop.stop_requested()) {
        std::optional<Queued> next = nextValue(stop);
        if (!next)
            break;
        const Queued item = std::move(*next);
        // However the value ends, the next value of the station may go then.
        struct TurnBack {
            Typist* typist;
            quint64 ticket;
            ~TurnBack() {
                if (typist)
                    typist->release(ticket);
            }
        } turnBack{typist_.get(), item.ticket};
        const QString& text = item.text;
        Result result;
        result.id = item.id;
        result.value = text;
        counting_ = false;
        sentPart_.clear();
        skippedPart_.clear();
        charactersDone_ = 0;
        startSent_ = false;
        valueWindow_ = 0;
        bool interrupted = false;
        bool cut = false;
        const auto began = std::chrono::steady_clock::now();
        const unsigned holdsBefore = holdsWaited_.load();
        try {
            if (typist_ && typist_->lost())
                throw Lost{typist_->lostReason()}; // another connection of the station lost it
            // Before any key: the backend refuses a value it cannot type whole.
            std::string refusal;
            try {
                refusal = injector_->cannotType(text.toStdU32String());
            } catch (const platform::KeyInjectorLost& e) {
                throw Lost{QString::fromUtf8(e.what())};
            }
            if (!refusal.empty()) {
                result.kind = Result::Kind::Refused;
                result.reason = QString::fromStdString(refusal);
                report(message("not.typed.refused.0.1", text, result.reason),
                       message("not.typed.refused.0.1", text, result.reason), nullptr);
                interrupted = true;
            } else {
                waitWhileHeld(); // the value waits whole while nothing may be typed
                try {
                    valueWindow_ = injector_->focusWindow();
                } catch (const platform::KeyInjectorLost& e) {
                    throw Lost{QString::fromUtf8(e.what())};
                }
                typeStart();
                startSent_ = startWith_ > 0 || !prefix_.empty();
                counting_ = true;
                typeString(text, false);
                counting_ = false;
                typeEnd();
                // The real time per pause, unless a hold made the user part of it.
                const long long pauses = pausesOf(text);
                if (pauses > 0 && !onHold_.load() && holdsBefore == holdsWaited_.load()) {
                    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now() - began)
                                        .count();
                    usPerPause_ = us / pauses;
                }
            }
        } catch (const Interrupted&) {
            interrupted = true;
            cut = true;
        } catch (const Lost& lost) {
            // Typing ends here; this value and those waiting are named, nothing goes silently.
            counting_ = false;
            releaseHeld();
            std::deque<Queued> waiting;
            {
                std::lock_guard lock(queueMutex_);
                lost_ = lost.why;
                waiting.swap(queue_);
                releaseTickets(waiting);
                queuedPauses_ = 0;
                typing_ = false;
            }
            if (typist_)
                typist_->setLost(lost.why); // typing ends for the whole station
            if (view_)
                view_->logImportantEvent(message("typing.lost.0", lost.why));
            if (charactersDone_ > 0 || startSent_) {
                result.kind = Result::Kind::Cut;
                result.typed = sentPart_;
                result.rest = restOf(text, charactersDone_);
                result.terminatorMissing = result.rest.isEmpty();
                result.reason = QStringLiteral("keyboard output lost");
                const QString part = message("typing.part.0.1", text, result.describe());
                report(part, part, nullptr);
            } else {
                result.reason = QStringLiteral("keyboard output lost");
                reportNotTyped(text);
            }
            try {
                injector_->valueDone();
            } catch (...) {
                // Gone with the backend.
            }
            pushResult(std::move(result));
            for (const Queued& w : waiting) {
                reportNotTyped(w.text);
                Result r;
                r.id = w.id;
                r.value = w.text;
                r.reason = QStringLiteral("keyboard output lost");
                pushResult(std::move(r));
            }
            wait_ = Wait::Typing;
            queueChanged_.notify_all();
            break;
        } catch (const std::exception& e) {
            // Nothing may end the typing thread but a stop; the next value is typed as usual.
            report(message("key.error.typing.0.1", text, QString::fromUtf8(e.what())),
                   QStringLiteral("Error typing %1").arg(text), &e);
            interrupted = true;
            result.kind = charactersDone_ > 0 ? Result::Kind::Cut : Result::Kind::NotTyped;
            result.typed = sentPart_;
            result.rest = restOf(text, charactersDone_);
            result.reason = QString::fromUtf8(e.what());
        }
        counting_ = false;
        if (interrupted)
            releaseHeld();
        try {
            injector_->valueDone();
        } catch (...) {
            // Nothing of the value depends on it.
        }
        if (cut) {
            if (charactersDone_ > 0 || startSent_) {
                result.kind = Result::Kind::Cut;
                result.typed = sentPart_;
                result.rest = restOf(text, charactersDone_);
                result.terminatorMissing = result.rest.isEmpty();
            } else {
                result.kind = Result::Kind::NotTyped;
            }
            result.reason = QStringLiteral("stopped");
        } else if (!interrupted) {
            result.kind = skippedPart_.isEmpty() ? Result::Kind::Typed : Result::Kind::Partly;
            result.skipped = skippedPart_;
        }
        int waiting = 0;
        bool resumed = false;
        {
            std::lock_guard lock(queueMutex_);
            typing_ = false;
            resumed = std::exchange(resuming_, false);
            if (cut && !resumed) {
                cutValue_ = text;
                cutResult_ = result; // reported by finishAndStop(), with the values it drops
            }
            if (queue_.empty())
                behind_ = false; // drained: a new backlog is reported again
            waiting = static_cast<int>(queue_.size());
        }
        wait_ = Wait::Typing;
        if (resumed) {
            // Finished (or given up) after the stop: said now, as the stop has returned long ago.
            QString said;
            if (result.kind == Result::Kind::Cut)
                said = message("value.cut.0", text) + u' ' + message("value.cut.detail.0", result.describe());
            else if (result.kind == Result::Kind::NotTyped)
                said = message("not.typed.connection.stopped.0", text);
            else
                said = message("typed.after.stop.0", text);
            report(said, said, nullptr);
        }
        if (!cut || resumed)
            pushResult(result);
        queueChanged_.notify_all();
        if (!interrupted && typedHandler_)
            typedHandler_(text, waiting);
        if (resumed)
            break; // the connection is over: nothing else is typed
    }
    stop_ = std::stop_token();
}

void Keybot::typeStart() {
    for (const int code : prefix_)
        pressKeyReleaseStartEnd(code, keyDelay_);
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
    const bool wasCounting = std::exchange(counting_, false); // start and terminator are no characters
    struct Restore {
        bool& flag;
        bool value;
        ~Restore() { flag = value; }
    } restore{counting_, wasCounting};
    if (std::find(directKeys_.begin(), directKeys_.end(), code) != directKeys_.end())
        pressKeyRelease(code, delay);
    else
        typeString(QString(QChar(static_cast<char16_t>(code))), true);
}

void Keybot::pressKeyRelease(int code, int delay) {
    // Released at once: a key held through the delay would repeat in the receiving window.
    try {
        keyPress(code);
    } catch (const std::exception& e) {
        report(message("key.error.press.0.1.2", code, layoutName(), QString::fromUtf8(e.what())),
               QStringLiteral("Error on pressing: %1").arg(code), &e);
    }
    try {
        keyRelease(code);
    } catch (const std::exception& e) {
        report(message("key.error.release.0.1.2", code, layoutName(), QString::fromUtf8(e.what())),
               QStringLiteral("Error on releasing: %1").arg(code), &e);
    }
    pause(2 * delay);
}

void Keybot::noteCharacter(const QString& character, bool sent) {
    if (!counting_)
        return;
    ++charactersDone_;
    (sent ? sentPart_ : skippedPart_) += character;
}

void Keybot::typeString(const QString& text, bool complete) {
    // Every key is released right after its press, modifiers of a chord around it: the delay goes
    // between keys, never while one is down (a held key repeats in the receiving window). A chord
    // costs one delay per key event, as before, after its last release.
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
                // Control characters by their code; others as themselves, beyond ASCII with their code
                // and the layout that types them.
                const bool control = cp < 0x20 || (cp >= 0x7F && cp < 0xA0);
                const QString shown = control ? QStringLiteral("<%1>").arg(static_cast<unsigned>(cp))
                                      : cp < 0x7F
                                          ? character
                                          : QStringLiteral("%1 (<%2>)").arg(character).arg(unsigned(cp));
                QString warning = bundle().getString(QStringLiteral("cannot_type")) + shown;
                if (cp >= 0xA0 && keyboardType_ != KeyboardType::ALL)
                    warning += u' ' + bundle().getString(QStringLiteral("cannot_type.useAll"));
                view_->logImportantEvent(warning);
            }
            noteCharacter(character, false);
            continue;
        }
        const std::vector<int>& seq = it->second;

        if (seq.front() == ALT && seq.size() > 1) {
            // ALT + numeric-pad code.
            bool sent = true;
            try {
                keyPress(ALT);
                for (std::size_t i = 1; i < seq.size(); ++i) {
                    keyPress(seq[i]);
                    keyRelease(seq[i]);
                }
                keyRelease(ALT);
            } catch (const std::exception& e) {
                report(message("key.error.alt.0.1.2", character, layoutName(), QString::fromUtf8(e.what())),
                       QStringLiteral("Error pressing/releasing ALT key for : %1").arg(character), &e);
                releaseHeld(); // ALT must not stay down
                sent = false;
            }
            noteCharacter(character, sent);
            pause(keyDelay_ * static_cast<int>(2 * seq.size() + 1));
            continue;
        }

        // A chord; a SPACE after other keys completes a dead key and comes after the release. Some
        // receivers put a dead key typed without any pause before the characters typed earlier.
        const bool deadChord = seq.size() > 1 && seq.back() == SPACE;
        if (deadChord && keyDelay_ < 1)
            pause(1);
        bool deadSpace = false;
        bool sent = true;
        int events = 0;
        for (std::size_t i = 0; i < seq.size(); ++i) {
            if (seq[i] == SPACE && i > 0) {
                deadSpace = true;
                continue;
            }
            try {
                keyPress(seq[i]);
            } catch (const std::exception& e) {
                sent = false;
                report(message("key.error.press.0.1.2", seq[i], layoutName(), QString::fromUtf8(e.what())),
                       QStringLiteral("Error on pressing: %1").arg(seq[i]), &e);
            }
            ++events;
        }
        for (std::size_t i = seq.size(); i-- > 0;) {
            if (seq[i] == SPACE && i > 0)
                continue;
            try {
                keyRelease(seq[i]);
            } catch (const std::exception& e) {
                sent = false;
                report(message("key.error.release.0.1.2", seq[i], layoutName(), QString::fromUtf8(e.what())),
                       QStringLiteral("Error on releasing: %1").arg(seq[i]), &e);
            }
            ++events;
        }
        if (deadSpace) {
            // The accent first reaches the receiver, then the SPACE that completes it.
            pause(keyDelay_ * events);
            events = 0;
            try {
                keyPress(SPACE);
                keyRelease(SPACE);
            } catch (const std::exception& e) {
                sent = false;
                report(message("key.error.deadkey.0", QString::fromUtf8(e.what())),
                       QStringLiteral("Deadkey error"), &e);
                releaseHeld();
            }
            events = 2;
        }
        noteCharacter(character, sent);
        pause(keyDelay_ * events);
    }
}

void Keybot::typeCharacter(char32_t cp, const QString& character) {
    bool sent = true;
    try {
        injector_->typeCharacter(cp);
    } catch (const platform::KeyInjectorLost& e) {
        throw Lost{QString::fromUtf8(e.what())};
    } catch (const std::exception& e) {
        sent = false;
        report(message("key.error.typing.0.1", character, QString::fromUtf8(e.what())),
               QStringLiteral("Error typing %1").arg(character), &e);
    }
    noteCharacter(character, sent);
    pause(keyDelay_);
}

QString Keybot::lostReason() const {
    std::lock_guard lock(queueMutex_);
    return lost_;
}

QStringList Keybot::availableBackends(KeyboardType keyboardType, const QString& except) {
    QStringList ways;
    for (const std::string& name : platform::keyBackendNames()) {
        const QString n = QString::fromStdString(name);
        if (n == QStringLiteral("auto") || n == except)
            continue;
        if (n == QStringLiteral("portal")) {
#ifdef VORNAL_KEYS_PORTAL
            if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
                ways += message("backend.portal.not.tried");
#endif
            continue;
        }
        try {
            if (createInjector(keyboardType, n, nullptr))
                ways += n;
        } catch (const std::exception&) {
            // Not available here.
        }
    }
    if (!ways.isEmpty())
        ways.prepend(QStringLiteral("auto"));
    return ways;
}

bool Keybot::lost() const {
    std::lock_guard lock(queueMutex_);
    return !lost_.isEmpty();
}

void Keybot::reportNotTyped(const QString& text) {
    report(message("not.typed.output.stopped.0", text), QStringLiteral("Not typed: %1").arg(text), nullptr);
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
