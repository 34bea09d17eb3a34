#include "vornal/worker/Connection.h"

#include "vornal/worker/DataLog.h"
#include "vornal/worker/Keybot.h"
#include "vornal/worker/RequestSender.h"
#include "vornal/worker/SoundBot.h"
#include "vornal/worker/StabilityFilter.h"
#include "vornal/worker/WeightWorker.h"

#include "vornal/util/MessageFormat.h"
#include "vornal/util/Queued.h"

#include <Direduva/SerialPortLocal.h>
#include <platform/hotkey/GlobalHotkey.h>

#include <Direduva/Errors.h>

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

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
    reopenTimer_ = new QTimer(this);
    connect(reopenTimer_, &QTimer::timeout, this, &Connection::tryReopen);
}

Connection::~Connection() {
    reopenTimer_->stop();
    hotkey_.reset();
    requester_.reset();
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
    stopRequested_ = false;
    waiting_ = false;
    // 1. Keystroke output (its own thread).
    keybot_.reset();
    if (options_.keys) {
        try {
            keybot_ =
                Keybot::fromConfig(config_, view_.get(), options_.injector ? options_.injector() : nullptr);
            keybot_->setHeld(typingHeld_);
            keybot_->setTypedHandler(
                [this](const QString& value, int waiting) { emit valueTyped(value, waiting); });
            keybot_->start();
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
    // 5. The reading worker opens the port.
    if (!openWorker(true)) {
        // Nothing half-open stays behind: no typing thread, no sound device, the idle look.
        if (keybot_)
            keybot_->stop();
        keybot_.reset();
        if (soundBot_)
            soundBot_->close();
        soundBot_.reset();
        ignorer_.reset();
        emit connectedChanged(false);
        return false;
    }
    stablePort_ = stableName(config_.getPort());
    active_ = true;
    emit started();
    // The stable-reading filter, the data log and the requests.
    startExtras();
    // The reading starts.
    worker_->execute();
    return true;
}

bool Connection::openWorker(bool reporting) {
    try {
        worker_ = createWorker(config_, view_.get());
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
    if (waiting_) {
        // Nothing is open: the end is now.
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
        reopenTimer_->start(std::max(10, options_.reconnectPollMs));
        return;
    }
    if (stopRequested_ || (!hangup && !failure))
        finish(StopReason::Stopped, QString());
    else if (hangup)
        finish(StopReason::PortGone, *hangup);
    else
        finish(StopReason::Failed, *failure);
}

void Connection::tryReopen() {
    if (!waiting_ || stopRequested_) {
        reopenTimer_->stop();
        return;
    }
    const QString name = currentName(stablePort_);
    // A device file that is not there yet needs no open attempt.
    if (name.startsWith(u'/') && !QFileInfo::exists(name))
        return;
    const QString before = config_.getPort();
    config_.setPort(name);
    const bool opened = openWorker(false);
    if (!opened) {
        config_.setPort(before);
        return; // still gone, or not ready yet: the next tick tries again
    }
    reopenTimer_->stop();
    waiting_ = false;
    emit logEvent(format("reconnected.0", name), true);
    emit reconnected(name);
    worker_->execute();
}

void Connection::finish(StopReason reason, const QString& detail) {
    reopenTimer_->stop();
    const bool wasWaiting = waiting_;
    waiting_ = false;
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
    if (stability_) {
        const StabilityFilter::Verdict v = stability_->process(line);
        if (v == StabilityFilter::Verdict::Unstable)
            outcome = Outcome::Unstable;
        else if (v == StabilityFilter::Verdict::SamePlacement)
            outcome = Outcome::SamePlacement;
        else if (v == StabilityFilter::Verdict::Zero)
            outcome = Outcome::Zero;
    }
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
    // 3. The data log, whatever became of the value.
    if (dataLog_) {
        const bool failingBefore = dataLog_->failing();
        const QString failure = dataLog_->append(
            {received.getDateTime(), config_.getPort(),
             config_.getInstrument() ? config_.getInstrument()->toPlainString() : QString(),
             received.getRawData(), received.getProcessedData(), outcomeText(outcome, options_.untypedResult),
             config_.getInstrument() ? config_.getInstrument()->name() : QString()});
        if (!failure.isEmpty())
            emit logEvent(failure, true);
        if (dataLog_->failing() != failingBefore)
            emit dataLogFailing(dataLog_->failing(), dataLog_->path());
    }
    // 4. The sound of a value.
    if (soundBot_ && line.hasValue())
        soundBot_->beep();
    // 5. The event log and the status.
    emit this->line(line, received);
    // 6. Typed on the keystroke thread (a line without a value adds nothing).
    if (keybot_) {
        keybot_->add(line.getProcessedData());
        if (line.hasValue())
            emit valueQueued(keybot_->pendingCount());
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

void Connection::startExtras() {
    if (const auto filter = StabilityFilter::fromConfig(config_)) {
        stability_ = std::make_unique<StabilityFilter>(*filter);
        emit logEvent(
            WeightWorker::text(filter->oncePerPlacement() ? "stable.once.per.placement" : "stable.only"),
            false);
    } else if (config_.getTypeOnlyStable() || config_.getOncePerPlacement()) {
        emit logEvent(WeightWorker::text("stable.no.rule"), true);
    }
    if (!config_.getDataLogFile().isEmpty()) {
        dataLog_ = std::make_unique<DataLog>(config_.getDataLogFile(), config_.getDataLogMaxBytes(),
                                             config_.getDataLogKeep());
        emit logEvent(format("data.log.0", QDir::toNativeSeparators(config_.getDataLogFile())), false);
    }
    const auto command = ConfigHelper::RequestCommand::toBytes(config_.getRequestCommand());
    if (!command || command->isEmpty())
        return;
    requester_ = std::make_unique<RequestSender>(*command, [this](const QByteArray& bytes) {
        if (!worker_ || waiting_)
            throw std::runtime_error("the port is not open");
        worker_->port().putData(
            std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())));
    });
    requester_->setTarget(config_.getPort());
    connect(requester_.get(), &RequestSender::sent, this, [this](const QByteArray& bytes) {
        emit logEvent(format("request.sent.0", RequestSender::formatCommand(bytes)), false);
        emit requestSent();
    });
    connect(requester_.get(), &RequestSender::failed, this,
            [this](const QString& why) { emit logEvent(format("request.failed.0", why), true); });
    const QString every = config_.getRequestEverySeconds();
    if (!every.isEmpty()) {
        requester_->setInterval(every.toInt());
        emit logEvent(format("request.every.0", every), false);
    }
    QString why;
    if (options_.requestServer && !requester_->listen(&why))
        emit logEvent(format("request.socket.unavailable.0", why), false);
    if (options_.hotkey && !config_.getRequestHotkey().isEmpty())
        grabHotkey();
}

void Connection::grabHotkey() {
    const auto chord = ConfigHelper::RequestHotkey::parse(config_.getRequestHotkey());
    if (!chord)
        return;
    std::string why;
    hotkey_ = options_.hotkeyBackend ? options_.hotkeyBackend(&why) : platform::createGlobalHotkey(&why);
    if (hotkey_) {
        // The press arrives on the backend's thread; the request is sent on this one.
        const QPointer<Connection> self(this);
        why = hotkey_->grab({chord->modifiers, chord->key.toStdString()}, [self] {
            util::postQueued(self.data(), [self] {
                if (self)
                    self->request();
            });
        });
        if (why.empty()) {
            emit logEvent(format("hotkey.sends.0", config_.getRequestHotkey()), false);
            return;
        }
        hotkey_.reset();
    }
    emit logEvent(format("hotkey.unusable.0.1", config_.getRequestHotkey(), QString::fromStdString(why)),
                  true);
}

void Connection::stopExtras() {
    if (hotkey_)
        hotkey_->release();
    hotkey_.reset();
    requester_.reset();
    dataLog_.reset();
    stability_.reset();
}

bool Connection::canRequest() const {
    const auto command = ConfigHelper::RequestCommand::toBytes(config_.getRequestCommand());
    return command && !command->isEmpty();
}

bool Connection::request() {
    if (!requester_) {
        emit logEvent(WeightWorker::text(active_ ? "request.no.command" : "request.not.connected"), true);
        return false;
    }
    return requester_->request();
}

bool Connection::keepsConnectedLook() const {
    if (waiting_)
        return true;
    return options_.reconnect && !stopRequested_ && worker_ && worker_->hangupReason().has_value();
}

int Connection::endOutputs() {
    // The value being typed is finished (or named in the log when it cannot be); the rest is dropped.
    int dropped = 0;
    if (keybot_)
        dropped = keybot_->finishAndStop().discarded;
    keybot_.reset();
    if (soundBot_)
        soundBot_->close();
    soundBot_.reset();
    ignorer_.reset();
    stopExtras();
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
#ifdef Q_OS_LINUX
    const QString target = QFileInfo(port).canonicalFilePath();
    if (target.isEmpty())
        return port;
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        if (link.isSymLink() && link.canonicalFilePath() == target)
            return link.absoluteFilePath();
    }
#endif
    return port;
}

QString Connection::currentName(const QString& stable) {
#ifdef Q_OS_LINUX
    if (stable.startsWith(QStringLiteral("/dev/serial/by-id/"))) {
        const QString target = QFileInfo(stable).canonicalFilePath();
        return target.isEmpty() ? stable : target;
    }
#endif
    return stable;
}

} // namespace vornal::worker
