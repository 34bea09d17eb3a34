#include "vornal/worker/Connection.h"

#include "vornal/worker/Keybot.h"
#include "vornal/worker/LineExtras.h"
#include "vornal/worker/PortReopener.h"
#include "vornal/worker/SoundBot.h"
#include "vornal/worker/WeightWorker.h"

#include "vornal/util/MessageFormat.h"
#include "vornal/util/Queued.h"

#include <Direduva/SerialPortLocal.h>
#include <platform/hotkey/GlobalHotkey.h>

#include <Direduva/Errors.h>

#include <QPointer>
#include <QTimer>

#include <platform/keys/KeyInjector.h>

#include <algorithm>
#include <span>
#include <stdexcept>

namespace vornal::worker {

using config::ConfigHelper;

namespace {
// A message of the worker bundle with its arguments.
template <class... Args> QString format(const char* key, const Args&... args) {
    return util::MessageFormat::format(WeightWorker::text(key), args...);
}
} // namespace

// The worker's and the Keybot's view: everything becomes a signal of the connection.
class Connection::View final : public WeightWorkerView {
public:
    explicit View(Connection* c) : c_(c) {}
    void logEvent(const QString& text) override { emit c_->logEvent(text, false); }
    void logImportantEvent(const QString& text) override { emit c_->logEvent(text, true); }
    void setConnectedInGUI(bool connected) override {
        // A worker that ends because its port went away keeps the connected look while the connection
        // waits for the port.
        if (!connected && c_->keepsConnectedLook())
            return;
        emit c_->connectedChanged(connected);
    }
    void update(const DataLine& line) override { c_->dispatch(line); }
    void showWarning(const QString& title, const QString& message) override {
        emit c_->warning(title, message);
    }

private:
    Connection* c_;
};

Connection::Connection(QObject* parent) : QObject(parent), view_(std::make_unique<View>(this)) {
    PortReopener::Hooks hooks;
    hooks.openNow = [this](const QString& name) {
        const QString before = config_.getPort();
        config_.setPort(name);
        if (openWorker(false))
            return true;
        config_.setPort(before);
        return false;
    };
    hooks.adopt = [this](PortReopener::Port port) { return openWorker(false, std::move(port)); };
    hooks.reopened = [this](const QString& name) { reopened(name); };
    reopener_ = std::make_unique<PortReopener>(std::move(hooks));
    extras_ = std::make_unique<LineExtras>();
    connect(extras_.get(), &LineExtras::logEvent, this, &Connection::logEvent);
    connect(extras_.get(), &LineExtras::dataLogFailing, this, &Connection::dataLogFailing);
    connect(extras_.get(), &LineExtras::requestSent, this, &Connection::requestSent);
    connect(extras_.get(), &LineExtras::hotkeyPressed, this, [this] { request(); });
    waitTimer_ = new QTimer(this);
    waitTimer_->setInterval(200);
    connect(waitTimer_, &QTimer::timeout, this, &Connection::pollTypingWait);
}

Connection::~Connection() {
    if (resuming_)
        resuming_->stop();
    // A network port being opened in the background: the attempt is ended, its result dropped with this
    // connection.
    reopener_->cancel();
    reopener_->endOpen();
    extras_->stop();
    if (worker_)
        worker_->cancel();
    worker_.reset(); // joins the reading thread, closes the port
    if (keybot_)
        keybot_->stop();
    if (soundBot_)
        soundBot_->close();
}

bool Connection::start(const config::Config& config, const Options& options) {
    if (active_)
        return false;
    config_ = config::Config::copyConfig(config);
    options_ = options;
    // An attempt of a connection stopped just before ends first: one open at a time.
    reopener_->endOpen();
    reopener_->cancel();
    stopRequested_ = false;
    waiting_ = false;
    // 1. Keystroke output (its own thread). A value of the last connection still waiting for its window
    // goes first: it is not continued after this connection's values.
    endResuming();
    keybot_.reset();
    extras_->clearRows();
    typingLost_.clear();
    lastWait_ = 0;
    if (options_.keys) {
        try {
            keybot_ =
                Keybot::fromConfig(config_, view_.get(), options_.injector ? options_.injector() : nullptr);
            keybot_->setTypist(options_.typist);
            keybot_->setPrefix(config_.getPrefixKeyCodes());
            keybot_->setHeld(typingHeld_);
            keybot_->setTypedHandler(
                [this](const QString& value, int waiting) { emit valueTyped(value, waiting); });
            // Results come from the typing thread; they are taken on this one.
            const QPointer<Connection> self(this);
            keybot_->setResultHandler([self] {
                util::postQueued(self.data(), [self] {
                    if (self)
                        self->takeTypingResults();
                });
            });
            keybot_->start();
        } catch (const platform::KeyInjectorUnavailable& e) {
            keybot_.reset();
            const QString chosen = config_.getKeyBackend();
            if (!chosen.isEmpty() && chosen != QStringLiteral("auto")) {
                // The user chose this way: a connection that types nothing is no answer to that.
                const QStringList ways = Keybot::availableBackends(config_.getKeyboardType(), chosen);
                emit outputFailed(
                    Output::Keys,
                    format("backend.unavailable.0.1.2", chosen, QString::fromUtf8(e.what()),
                           ways.isEmpty() ? WeightWorker::text("backend.none.other")
                                          : format("backend.available.0", ways.join(QStringLiteral(", ")))));
                emit keyBackendUnavailable(chosen);
                return false;
            }
            emit outputFailed(Output::Keys, QString::fromUtf8(e.what()));
            if (options_.keysRequired)
                return false;
        } catch (const std::exception& e) {
            keybot_.reset();
            emit outputFailed(Output::Keys, QString::fromUtf8(e.what()));
            if (options_.keysRequired)
                return false;
        }
    }
    // 2. Caps Lock would turn typed letters upside down.
    if (keybot_ && keybot_->capsLockOn().value_or(false))
        emit capsLockOn();
    // 3. Sound.
    soundBot_.reset();
    if (options_.sound && config_.getSound() != ConfigHelper::Sound::NONE) {
        try {
            soundBot_ = SoundBot::forSound(config_.getSound());
        } catch (const std::exception& e) {
            emit outputFailed(Output::Sound, QString::fromUtf8(e.what()));
        }
    }
    // 4. Duplicate filter.
    ignorer_.reset();
    if (config_.ignoreDuplicates)
        ignorer_ = Ignorer::fromConfig(config_);
    // 5. The reading worker opens the port. A network connection can take the connect time-out and the
    // RFC 2217 answer's: on a thread of its own when the caller must not wait.
    if (options_.openInBackground &&
        Direduva::SerialPortLocal::isNetworkPortName(config_.getPort().toStdString())) {
        active_ = true;
        connecting_ = true;
        emit logEvent(format("connecting.0", config_.getPort()), false);
        emit connecting(config_.getPort());
        reopener_->openInBackground(config_, [this](PortReopener::Opened result) {
            // Stopped meanwhile: a port that opened all the same closes here, with `result`.
            if (stopRequested_ || !connecting_)
                return;
            connecting_ = false;
            if (!result.port) {
                // Nothing of it is left when the message is shown.
                abandonStart();
                emit startFailed(result.invalidSetting ? StartFailure::InvalidSetting
                                                       : StartFailure::OpenFailed,
                                 result.error);
                return;
            }
            if (!openWorker(true, std::move(result.port))) {
                abandonStart();
                return;
            }
            continueStart();
        });
        return true;
    }
    if (!openWorker(true)) {
        abandonStart();
        return false;
    }
    continueStart();
    return true;
}

void Connection::abandonStart() {
    // Nothing half-open stays behind: no typing thread, no sound device, the idle look.
    if (keybot_)
        keybot_->stop();
    keybot_.reset();
    if (soundBot_)
        soundBot_->close();
    soundBot_.reset();
    ignorer_.reset();
    connecting_ = false;
    active_ = false;
    emit connectedChanged(false);
}

void Connection::continueStart() {
    stablePort_ = stableName(config_.getPort());
    active_ = true;
    emit started();
    // The stable-reading filter, the data log and the requests.
    LineExtras::Options extras;
    extras.requestServer = options_.requestServer;
    extras.hotkey = options_.hotkey;
    extras.hotkeyBackend = options_.hotkeyBackend;
    extras.profileName = options_.profileName;
    extras_->start(config_, extras, [this](const QByteArray& bytes) {
        if (!worker_ || waiting_)
            throw std::runtime_error("the port is not open");
        worker_->port().putData(
            std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())));
    });
    if (keybot_)
        waitTimer_->start();
    // The reading starts.
    worker_->execute();
}

bool Connection::openWorker(bool reporting, std::unique_ptr<Direduva::SerialPortLocal> opened) {
    try {
        worker_ = opened ? createWorker(config_, view_.get(), std::move(opened))
                         : createWorker(config_, view_.get());
    } catch (const Direduva::InvalidSettingError& e) {
        if (reporting)
            emit startFailed(StartFailure::InvalidSetting, QString::fromUtf8(e.what()));
        return false;
    } catch (const std::exception& e) {
        if (reporting)
            emit startFailed(StartFailure::OpenFailed, QString::fromUtf8(e.what()));
        return false;
    }
    worker_->setHangupReportedByOwner(options_.reconnect);
    // Direct: the connection is over (or waiting) in the same step in which the worker reports its end.
    connect(worker_.get(), &WeightWorker::finished, this, &Connection::workerFinished, Qt::DirectConnection);
    return true;
}

int Connection::stop() {
    stopRequested_ = true;
    const int dropped = endOutputs();
    if (connecting_) {
        // The attempt ends within moments; its port, if it opened all the same, is closed then.
        reopener_->abortOpen();
        finish(StopReason::Stopped, QString());
    } else if (waiting_) {
        reopener_->abortOpen();
        // Nothing is open: the end is now.
        if (!typingLost_.isEmpty())
            finish(StopReason::TypingLost, typingLost_);
        else
            finish(StopReason::Stopped, QString());
    } else if (worker_) {
        worker_->cancel();
    }
    return dropped;
}

void Connection::workerFinished() {
    if (!worker_)
        return;
    const std::optional<QString> hangup = worker_->hangupReason();
    const std::optional<QString> failure = worker_->failureReason();
    // Deleted once its finished() signal has returned; this connection stays its only owner until then.
    worker_.release()->deleteLater();
    if (hangup && options_.reconnect && !stopRequested_) {
        waiting_ = true;
        emit logEvent(format("port.gone.waiting.0.1", config_.getPort(), *hangup), true);
        emit waitingForPort(config_.getPort(), *hangup);
        reopener_->wait(config_, stablePort_, options_.reconnectPollMs);
        return;
    }
    if (!typingLost_.isEmpty())
        finish(StopReason::TypingLost, typingLost_);
    else if (stopRequested_ || (!hangup && !failure))
        finish(StopReason::Stopped, QString());
    else if (hangup)
        finish(StopReason::PortGone, *hangup);
    else
        finish(StopReason::Failed, *failure);
}

void Connection::reopened(const QString& name) {
    waiting_ = false;
    extras_->setPort(name);
    emit logEvent(format("reconnected.0", name), true);
    emit reconnected(name);
    worker_->execute();
}

void Connection::finish(StopReason reason, const QString& detail) {
    reopener_->cancel();
    const bool wasWaiting = waiting_ || connecting_;
    waiting_ = false;
    connecting_ = false;
    endOutputs();
    if (wasWaiting) {
        emit logEvent(WeightWorker::text("stopped"), false);
        emit connectedChanged(false);
    }
    active_ = false;
    emit stopped(reason, detail);
}

void Connection::dispatch(const DataLine& received) {
    DataLine line = received;
    Outcome outcome = received.hasValue() ? Outcome::Typed : Outcome::NoValue;
    // 1. Readings the instrument did not mark as stable, and repeats within one placement.
    const StabilityFilter::Verdict v = extras_->judge(line);
    if (v == StabilityFilter::Verdict::Unstable)
        outcome = Outcome::Unstable;
    else if (v == StabilityFilter::Verdict::SamePlacement)
        outcome = Outcome::SamePlacement;
    else if (v == StabilityFilter::Verdict::Zero)
        outcome = Outcome::Zero;
    // 2. Duplicates lose their value.
    if (ignorer_) {
        const bool had = line.hasValue();
        ignorer_->process(line);
        if (had && !line.hasValue())
            outcome = Outcome::Duplicate;
    }
    if (outcome == Outcome::Typed && !keybot_)
        outcome = Outcome::NotTyped;
    lastOutcome_ = outcome;
    // 6. Typed on the keystroke thread (a line without a value adds nothing); its id ties the data-log
    // row to the typing result.
    quint64 id = 0;
    if (keybot_ && outcome == Outcome::Typed)
        id = keybot_->add(line.getProcessedData());
    // 3. The data log, whatever became of the value: the row is written once that is known, in line
    // order.
    if (extras_->logging())
        extras_->addRow(id, received, outcomeText(outcome, options_.untypedResult));
    // 4. The sound of a value.
    if (soundBot_ && line.hasValue())
        soundBot_->beep();
    // 5. The event log and the status.
    emit this->line(line, received);
    if (id)
        emit valueQueued(keybot_->pendingCount());
}

void Connection::endResuming() {
    if (!resuming_)
        return;
    resuming_->stop();
    takeTypingResults();
    resuming_.reset();
    extras_->settleAll(QStringLiteral("not typed: stopped"));
    extras_->closeLog();
}

void Connection::takeTypingResults() {
    std::vector<Keybot::Result> results;
    if (resuming_) {
        results = resuming_->takeResults();
        if (!resuming_->resuming() && !keybot_) {
            // Its last value is done: its row can be written, the data log closed.
            resuming_->stop();
            for (auto& r : resuming_->takeResults())
                results.push_back(std::move(r));
            resuming_.reset();
        }
    }
    if (keybot_)
        for (auto& r : keybot_->takeResults())
            results.push_back(std::move(r));
    for (const Keybot::Result& r : results) {
        extras_->settle(r.id, r.logText());
        if (r.kind == Keybot::Result::Kind::Cut)
            emit valueCut(format("value.cut.detail.0", r.describe()));
    }
    if (!resuming_ && !keybot_)
        extras_->closeLog();
    if (keybot_ && keybot_->lost() && typingLost_.isEmpty() && active_ && !stopRequested_ &&
        !endingOutputs_) {
        // Nothing more can be typed: the connection ends instead of reading values into nothing.
        typingLost_ = format("typing.lost.reason.0", keybot_->lostReason());
        emit logEvent(format("connection.ends.0", typingLost_), true);
        stop();
    }
}

void Connection::pollTypingWait() {
    const int now = keybot_ ? static_cast<int>(keybot_->waiting()) : 0;
    if (now != lastWait_) {
        lastWait_ = now;
        emit typingWaitChanged();
    }
}

QString Connection::typingWaitText() const {
    if (!keybot_)
        return QString();
    switch (keybot_->waiting()) {
    case Keybot::Wait::NoFocus:
        return WeightWorker::text("typing.wait.no.focus");
    case Keybot::Wait::Modifiers:
        return WeightWorker::text("typing.wait.modifiers");
    default:
        return QString();
    }
}

QString Connection::outcomeText(Outcome outcome, const QString& untyped) {
    switch (outcome) {
    case Outcome::Typed:
        return QStringLiteral("typed");
    case Outcome::NotTyped:
        return untyped;
    case Outcome::NoValue:
        return QStringLiteral("no value");
    case Outcome::Duplicate:
        return QStringLiteral("duplicate");
    case Outcome::Unstable:
        return QStringLiteral("unstable");
    case Outcome::SamePlacement:
        return QStringLiteral("same placement");
    case Outcome::Zero:
        return QStringLiteral("zero");
    }
    return QString();
}

bool Connection::canRequest() const {
    const auto command = ConfigHelper::RequestCommand::toBytes(config_.getRequestCommand());
    return command && !command->isEmpty();
}

bool Connection::request() {
    if (!extras_->canRequest()) {
        emit logEvent(
            WeightWorker::text(active_ && !connecting_ ? "request.no.command" : "request.not.connected"),
            true);
        return false;
    }
    return extras_->request();
}

bool Connection::keepsConnectedLook() const {
    if (waiting_)
        return true;
    return options_.reconnect && !stopRequested_ && worker_ && worker_->hangupReason().has_value();
}

int Connection::endOutputs() {
    // The value being typed is finished (or named in the log when it cannot be); the rest is dropped.
    int dropped = 0;
    waitTimer_->stop();
    endingOutputs_ = true;
    bool resuming = false;
    if (keybot_) {
        const Keybot::Ended ended = keybot_->finishAndStop(Keybot::FINISH_VALUE_MS, options_.resumeCutMs);
        dropped = ended.discarded;
        resuming = ended.resuming;
        if (dropped > 0) {
            // Named, as many as fit in a line: the user may have to enter them by hand.
            constexpr int shown = 20;
            QStringList names;
            for (int i = 0; i < dropped && i < shown; ++i)
                names += ended.discardedValues[static_cast<std::size_t>(i)];
            QString list = names.join(QStringLiteral(", "));
            if (dropped > shown)
                list += format("values.dropped.more.0", dropped - shown);
            emit logEvent(format("values.dropped.0.1", dropped, list), true);
        }
        takeTypingResults();
    }
    if (resuming) {
        // Its row waits for it; the rows behind it wait too, to keep the line order.
        emit logEvent(format("value.resumes.after.stop.0", options_.resumeCutMs / 1000), true);
        resuming_ = std::move(keybot_);
    }
    keybot_.reset();
    // Rows still waiting for a result cannot get one any more (but the one of a value being finished).
    if (!resuming_)
        extras_->settleAll(QStringLiteral("not typed: stopped"));
    if (soundBot_)
        soundBot_->close();
    soundBot_.reset();
    ignorer_.reset();
    // The data log stays open for the row of a value being finished.
    extras_->stop(resuming);
    endingOutputs_ = false;
    return dropped;
}

bool Connection::setTypingHeld(bool held) {
    if (held == typingHeld_)
        return false;
    typingHeld_ = held;
    if (keybot_)
        keybot_->setHeld(held);
    return true;
}

bool Connection::typingBehind() const {
    return keybot_ && keybot_->isBehind();
}

int Connection::waitingValues() const {
    return keybot_ ? keybot_->pendingCount() : 0;
}

QString Connection::injectorName() const {
    return keybot_ ? keybot_->injectorName() : QString();
}

QString Connection::stableName(const QString& port) {
    return PortReopener::stableName(port);
}

QString Connection::currentName(const QString& stable) {
    return PortReopener::currentName(stable);
}

} // namespace vornal::worker
