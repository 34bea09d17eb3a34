#include "vornal/worker/Connection.h"

#include "vornal/util/DeviceUsers.h"
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

#include <platform/keys/KeyInjector.h>

#include <algorithm>
#include <chrono>
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
    // An open that had not reached the driver when Stop asked it to end is asked again.
    abortTimer_ = new QTimer(this);
    abortTimer_->setInterval(20);
    connect(abortTimer_, &QTimer::timeout, this, [this] {
        if (!openPending_ || !openFinished_ || openFinished_->load())
            abortTimer_->stop();
        else
            Direduva::SerialPortLocal::abortOpen(openingPort_);
    });
    waitTimer_ = new QTimer(this);
    waitTimer_->setInterval(200);
    connect(waitTimer_, &QTimer::timeout, this, &Connection::pollTypingWait);
}

Connection::~Connection() {
    if (resuming_)
        resuming_->stop();
    reopenTimer_->stop();
    // A network port being opened in the background: the attempt is ended, its result dropped with this
    // connection.
    endOpenThread();
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
    // An attempt of a connection stopped just before ends first: one open at a time.
    endOpenThread();
    ++generation_;
    stopRequested_ = false;
    waiting_ = false;
    // 1. Keystroke output (its own thread). A value of the last connection still waiting for its window
    // goes first: it is not continued after this connection's values.
    endResuming();
    keybot_.reset();
    rows_.clear();
    typingLost_.clear();
    lastWait_ = 0;
    if (options_.keys) {
        try {
            keybot_ =
                Keybot::fromConfig(config_, view_.get(), options_.injector ? options_.injector() : nullptr);
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
        openInBackground(true);
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
    startExtras();
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
        abortOpen();
        finish(StopReason::Stopped, QString());
    } else if (waiting_) {
        abortOpen();
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
        reopenDelayMs_ = std::max(10, options_.reconnectPollMs);
        reopenAttempts_ = 0;
        reopenTimer_->start(reopenDelayMs_);
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

void Connection::tryReopen() {
    if (!waiting_ || stopRequested_) {
        reopenTimer_->stop();
        return;
    }
    const QString name = currentName(stablePort_);
    if (Direduva::SerialPortLocal::isNetworkPortName(name.toStdString())) {
        openInBackground(false);
        return;
    }
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

// What a background open brings back.
struct Connection::Opened {
    std::unique_ptr<Direduva::SerialPortLocal> port;
    QString error;
    StartFailure kind = StartFailure::OpenFailed;
};

// A network port is opened on a thread of its own: connecting to a host that does not answer takes the
// connect time-out, which would stop the window meanwhile. One attempt at a time; a reopen's first few
// follow each other at the usual pace (a device server that restarts is back within seconds), then the
// pause doubles up to kMaxNetworkReopenMs.
void Connection::openInBackground(bool starting) {
    if (openPending_ && !starting)
        return;
    // An attempt of a connection stopped before is ended first (a Start right after a Stop).
    endOpenThread();
    openPending_ = true;
    reopenTimer_->stop();
    const unsigned attempt = ++openAttempt_;
    openingPort_ = config_.getPort().toStdString();
    auto result = std::make_shared<Opened>();
    openFinished_ = std::make_shared<std::atomic<bool>>(false);
    openThread_ = std::thread([this, result, attempt, starting, generation = generation_,
                               finished = openFinished_, copy = config::Config::copyConfig(config_)] {
        try {
            result->port = WeightWorker::openPort(copy);
        } catch (const Direduva::InvalidSettingError& e) {
            result->error = QString::fromUtf8(e.what());
            result->kind = StartFailure::InvalidSetting;
        } catch (const std::exception& e) {
            result->error = QString::fromUtf8(e.what());
        }
        finished->store(true);
        // Dropped with this connection when it is gone by then (its destructor waits for this thread).
        util::postQueued(this, [this, result, attempt, starting, generation] {
            openDone(attempt, generation, starting, result);
        });
    });
}

void Connection::endOpenThread() {
    if (!openThread_.joinable())
        return;
    // The open may not have reached the driver yet when first asked: asked again until it is over.
    while (openPending_ && openFinished_ && !openFinished_->load()) {
        Direduva::SerialPortLocal::abortOpen(openingPort_);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    openThread_.join();
    openPending_ = false;
    abortTimer_->stop();
}

void Connection::abortOpen() {
    if (!openPending_ || !openFinished_ || openFinished_->load())
        return;
    Direduva::SerialPortLocal::abortOpen(openingPort_);
    abortTimer_->start();
}

void Connection::openDone(unsigned attempt, unsigned generation, bool starting,
                          const std::shared_ptr<Opened>& result) {
    if (attempt == openAttempt_) {
        openPending_ = false;
        abortTimer_->stop();
    }
    // Stopped meanwhile: a port that opened all the same closes here, with `result`.
    if (generation != generation_ || stopRequested_)
        return;
    if (!starting) {
        if (waiting_)
            reopenDone(std::move(result->port));
        return;
    }
    if (!connecting_)
        return;
    connecting_ = false;
    if (!result->port) {
        // Nothing of it is left when the message is shown.
        abandonStart();
        emit startFailed(result->kind, result->error);
        return;
    }
    if (!openWorker(true, std::move(result->port))) {
        abandonStart();
        return;
    }
    continueStart();
}

void Connection::reopenDone(std::unique_ptr<Direduva::SerialPortLocal> opened) {
    if (!opened || !openWorker(false, std::move(opened))) {
        if (++reopenAttempts_ >= kQuickNetworkReopens)
            reopenDelayMs_ = std::min(reopenDelayMs_ * 2, kMaxNetworkReopenMs);
        reopenTimer_->start(reopenDelayMs_);
        return;
    }
    const QString name = config_.getPort();
    reopenTimer_->stop();
    waiting_ = false;
    emit logEvent(format("reconnected.0", name), true);
    emit reconnected(name);
    worker_->execute();
}

void Connection::finish(StopReason reason, const QString& detail) {
    reopenTimer_->stop();
    ++generation_;
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
    // 6. Typed on the keystroke thread (a line without a value adds nothing); its id ties the data-log
    // row to the typing result.
    quint64 id = 0;
    if (keybot_ && outcome == Outcome::Typed)
        id = keybot_->add(line.getProcessedData());
    // 3. The data log, whatever became of the value: the row is written once that is known, in line
    // order.
    if (dataLog_) {
        rows_.push_back({id, received.getDateTime(), received.getRawData(), received.getProcessedData(),
                         id ? QString() : outcomeText(outcome, options_.untypedResult)});
        writeRows();
    }
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
    for (PendingRow& row : rows_) {
        if (row.id != 0) {
            row.id = 0;
            row.result = QStringLiteral("not typed: stopped");
        }
    }
    writeRows();
    resumingLog_.reset();
}

void Connection::writeRows() {
    while (!rows_.empty() && rows_.front().id == 0) {
        const PendingRow r = std::move(rows_.front());
        rows_.pop_front();
        DataLog* log = dataLog_ ? dataLog_.get() : resumingLog_.get();
        if (!log)
            continue;
        const bool failingBefore = log->failing();
        const auto instrument = config_.getInstrument();
        const QString failure =
            log->append({r.time, config_.getPort(), instrument ? instrument->toPlainString() : QString(),
                         r.raw, r.value, r.result, instrument ? instrument->name() : QString()});
        if (!failure.isEmpty())
            emit logEvent(failure, true);
        if (log->failing() != failingBefore)
            emit dataLogFailing(log->failing(), log->path());
    }
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
        for (PendingRow& row : rows_) {
            if (row.id == r.id) {
                row.id = 0;
                row.result = r.logText();
                break;
            }
        }
        if (r.kind == Keybot::Result::Kind::Cut)
            emit valueCut(format("value.cut.detail.0", r.describe()));
    }
    writeRows();
    if (!resuming_ && !keybot_)
        resumingLog_.reset();
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

void Connection::startExtras() {
    // A second reader of the same device (a terminal program, "cat") takes bytes meant for this one.
    if (const QStringList others = util::otherProcessesUsing(config_.getPort()); !others.isEmpty())
        emit logEvent(format("port.used.by.others.0.1", config_.getPort(), others.join(QStringLiteral(", "))),
                      true);
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
    const bool hasCommand = command && !command->isEmpty();
    // Without a command the socket still answers vornal-cli request, with the reason.
    if (!hasCommand && !options_.requestServer)
        return;
    requester_ = std::make_unique<RequestSender>(
        hasCommand ? *command : QByteArray(), [this](const QByteArray& bytes) {
            if (!worker_ || waiting_)
                throw std::runtime_error("the port is not open");
            worker_->port().putData(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                              std::size_t(bytes.size())));
        });
    requester_->setTarget(config_.getPort());
    connect(requester_.get(), &RequestSender::sent, this, [this](const QByteArray& bytes) {
        emit logEvent(format("request.sent.0", RequestSender::formatCommand(bytes)), false);
        emit requestSent();
    });
    connect(requester_.get(), &RequestSender::failed, this,
            [this](const QString& why) { emit logEvent(format("request.failed.0", why), true); });
    connect(requester_.get(), &RequestSender::serverMessage, this,
            [this](const QString& message, bool important) { emit logEvent(message, important); });
    const QString every = config_.getRequestEverySeconds();
    if (hasCommand && !every.isEmpty()) {
        requester_->setInterval(every.toInt());
        emit logEvent(format("request.every.0", every), false);
    }
    QString why;
    if (options_.requestServer && !requester_->listen(&why))
        emit logEvent(format("request.socket.unavailable.0", why), false);
    if (hasCommand && options_.hotkey && !config_.getRequestHotkey().isEmpty())
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
    if (!requester_ || requester_->command().isEmpty()) {
        emit logEvent(
            WeightWorker::text(active_ && !connecting_ ? "request.no.command" : "request.not.connected"),
            true);
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
        resumingLog_ = std::move(dataLog_);
    }
    keybot_.reset();
    // Rows still waiting for a result cannot get one any more (but the one of a value being finished).
    for (PendingRow& row : rows_) {
        if (row.id != 0 && !resuming_) {
            row.id = 0;
            row.result = QStringLiteral("not typed: stopped");
        }
    }
    writeRows();
    if (soundBot_)
        soundBot_->close();
    soundBot_.reset();
    ignorer_.reset();
    stopExtras();
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
