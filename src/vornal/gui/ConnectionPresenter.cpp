#include "ConnectionPresenter.h"

#include "EventLog.h"
#include "MessageBoxes.h"

#include "vornal/publish/Publisher.h"
#include "vornal/util/MessageFormat.h"
#include "vornal/util/Queued.h"
#include "vornal/util/ResourceBundle.h"
#include "vornal/worker/Connection.h"
#include "vornal/worker/Keybot.h"

#include <QDir>
#include <QLabel>
#include <QTimer>
#include <QWidget>

namespace vornal {

using config::ConfigHelper;
using util::MessageFormat;

ConnectionPresenter::ConnectionPresenter(QWidget* window, const util::ResourceBundle& bundle, EventLog* log,
                                         QLabel* status)
    : QObject(window), window_(window), bundle_(bundle), log_(log), status_(status) {
    backlogTimer_ = new QTimer(this);
    backlogTimer_->setInterval(250);
    connect(backlogTimer_, &QTimer::timeout, this, &ConnectionPresenter::refreshLineStatus);
}

ConnectionPresenter::~ConnectionPresenter() {
    if (connection_) {
        connection_->disconnect(this);
        delete connection_; // ends the reading and the typing
        connection_ = nullptr;
    }
    // What the broker has not taken by then stays queued on disk for the next start.
    if (publisher_) {
        publisher_->disconnect(this);
        publisher_->stop(1000);
    }
}

QString ConnectionPresenter::text(const QString& key) const {
    return bundle_.getString(key);
}

void ConnectionPresenter::setStatus(const QString& status) {
    status_->setText(status);
}

void ConnectionPresenter::create() {
    using worker::Connection;
    connection_ = new Connection(this);
    // Log lines come from the reading and typing threads too; the event log takes them from any thread.
    connect(
        connection_, &Connection::logEvent, this,
        [this](const QString& t, bool important) { important ? logImportantEvent(t) : logEvent(t); },
        Qt::DirectConnection);
    connect(
        connection_, &Connection::connectedChanged, this,
        [this](bool on) {
            connected_ = on;
            // Always after the current event, also on the user-interface thread.
            util::postQueued(this, [this, on] {
                showConnectedStatus(on);
                emit connectedChanged(on);
            });
        },
        Qt::DirectConnection);
    connect(connection_, &Connection::warning, this, [this](const QString& title, const QString& message) {
        MessageBoxes::warning(window_, message, title);
    });
    connect(
        connection_, &Connection::outputFailed, this, [this](Connection::Output output, const QString& why) {
            if (output == Connection::Output::Keys)
                MessageBoxes::error(window_, text(QStringLiteral("error.initializing.keyboard.output")) + why,
                                    text(QStringLiteral("error")));
            else
                MessageBoxes::error(window_,
                                    text(QStringLiteral("error.while.initializing.sound.output")) + why,
                                    text(QStringLiteral("sound.output.error")));
        });
    connect(connection_, &Connection::capsLockOn, this, [this] {
        MessageBoxes::warning(window_, text(QStringLiteral("please.turn.off.caps.lock")),
                              text(QStringLiteral("warning")));
    });
    connect(connection_, &Connection::startFailed, this,
            [this](Connection::StartFailure kind, const QString& why) {
                MessageBoxes::error(window_, why,
                                    text(kind == Connection::StartFailure::InvalidSetting
                                             ? QStringLiteral("invalid.setting")
                                             : QStringLiteral("error.opening.port")));
            });
    // A network port connects in the background: Stop ends the attempt.
    connect(connection_, &Connection::connecting, this, [this](const QString& port) {
        setStatus(MessageFormat::format(text(QStringLiteral("connection.connecting.0")), port));
        emit connecting(port);
    });
    connect(connection_, &Connection::started, this, [this] {
        const auto instrument = config_.getInstrument().value_or(ConfigHelper::Instrument::getDefault());
        logEvent(text(QStringLiteral("VororaZeZovFrame2.deviceLabel.text")) + u' ' +
                 instrument.toPlainString());
        if (!config_.getCustomRegEx().isEmpty())
            logEvent(text(QStringLiteral("custom.regex.log")) + config_.getCustomRegEx());
        logEvent(text(QStringLiteral("keyboard.output.started.type")) + u' ' +
                 config_.getKeyboardType().toString());
    });
    connect(
        connection_, &Connection::line, this,
        [this](const worker::DataLine& line, const worker::DataLine& received) { showLine(line, received); });
    // The waiting count in the status falls as values are typed.
    connect(connection_, &Connection::valueTyped, this, &ConnectionPresenter::refreshLineStatus);
    connect(connection_, &Connection::typingWaitChanged, this, &ConnectionPresenter::refreshLineStatus);
    // A cut value stays in the status until the user acts (Start), like a lost connection.
    connect(connection_, &Connection::valueCut, this, [this](const QString& report) {
        connectionLost_ = MessageFormat::format(text(QStringLiteral("value.cut.status.0")), report);
        setStatus(connectionLost_);
        emit notice(text(QStringLiteral("value.cut.caption")), connectionLost_);
    });
    // The chosen typing way is not available: the window shows the choice where it is made.
    connect(connection_, &Connection::keyBackendUnavailable, this, [this] { emit keyBackendUnavailable(); });
    // A data log that cannot be written stays in the status until it can be again.
    connect(connection_, &Connection::dataLogFailing, this, [this](bool failing, const QString& path) {
        dataLogProblem_ = failing ? MessageFormat::format(text(QStringLiteral("status.dataLog.failing.0")),
                                                          QDir::toNativeSeparators(path))
                                  : QString();
        refreshLineStatus();
    });
    // While the port is gone the status (and the tray's tool tip) say so for the whole wait: the line
    // count of before would look like a connection that works.
    connect(connection_, &Connection::waitingForPort, this, [this](const QString& port, const QString& why) {
        waitingStatus_ = MessageFormat::format(text(QStringLiteral("connection.waiting.0.1")), port, why);
        setStatus(waitingStatus_);
        emit trayStatus(MessageFormat::format(text(QStringLiteral("tray.waiting.0")), port));
        emit notice(text(QStringLiteral("connection.lost.caption")), waitingStatus_);
    });
    connect(connection_, &Connection::reconnected, this, [this](const QString& port) {
        waitingStatus_.clear();
        emit trayStatus(QString());
        const QString status = MessageFormat::format(text(QStringLiteral("connection.reconnected.0")), port);
        setStatus(status);
        emit notice(text(QStringLiteral("connection.reconnected.caption")), status);
    });
    connect(
        connection_, &Connection::stopped, this, [this](Connection::StopReason reason, const QString& why) {
            waitingStatus_.clear();
            emit trayStatus(QString());
            // Nothing of the connection that ended stays in the status.
            lastLineCount_ = -1;
            dataLogProblem_.clear();
            if (reason == Connection::StopReason::Stopped) {
                if (!connected_)
                    showStatusIdle();
                return;
            }
            if (reason == Connection::StopReason::TypingLost) {
                connectionLost_ = MessageFormat::format(text(QStringLiteral("typing.stopped.status.0")), why);
                setStatus(connectionLost_);
                emit notice(text(QStringLiteral("typing.stopped.caption")), connectionLost_);
                return;
            }
            // Kept until the user acts (Start), so that a lost instrument is not missed.
            connectionLost_ =
                MessageFormat::format(text(QStringLiteral("connection.lost.0.1")), config_.getPort(), why);
            setStatus(connectionLost_);
            emit notice(text(QStringLiteral("connection.lost.caption")), connectionLost_);
        });
}

void ConnectionPresenter::start(const config::Config& config, bool typingHeld) {
    config_ = config;
    if (!connection_)
        create();
    // The connection sets up typing, the Caps Lock check, sound, the duplicate filter, the port and the
    // reading, in that order.
    worker::Connection::Options options;
    options.reconnect = config_.getReconnect();
    // A click on Stop takes the focus from the target: the value being typed is finished there once
    // the user goes back to it (or reported exactly when that does not happen in time).
    options.resumeCutMs = worker::Keybot::RESUME_MS;
    // A device server that does not answer would stop the window for the connect time-out.
    options.openInBackground = true;
    setTypingHeld(typingHeld);
    lastLineCount_ = -1;
    startPublishing();
    connection_->start(config_, options);
}

void ConnectionPresenter::startPublishing() {
    QStringList key;
    for (const QString& k : config::Config::keys())
        if (k.startsWith(QStringLiteral("mqtt")))
            key << config_.getByKey(k);
    key << publish::Publisher::instrumentName(config_);
    if (publisher_ && publisherKey_ == key.join(u'\n'))
        return;
    publisher_.reset();
    brokerProblem_.clear();
    emit brokerStatus(QString());
    publisherKey_ = key.join(u'\n');
    if (config_.getMqttBroker().isEmpty())
        return;
    publish::Publisher::Settings settings;
    QString why;
    if (!publish::Publisher::fromConfig(config_, &settings, &why)) {
        // Typing goes on without the broker; the reason stays in the log.
        logImportantEvent(MessageFormat::format(text(QStringLiteral("broker.unusable.0")), why));
        publisherKey_.clear();
        return;
    }
    publisher_ = std::make_unique<publish::Publisher>(settings);
    connect(publisher_.get(), &publish::Publisher::logEvent, this, [this](const QString& t, bool important) {
        if (important)
            logImportantEvent(t);
        else
            logEvent(t);
    });
    connect(publisher_.get(), &publish::Publisher::brokerStatus, this, [this](bool reachable, qint64 queued) {
        brokerProblem_ = reachable
                             ? QString()
                             : MessageFormat::format(text(QStringLiteral("broker.unreachable.0")), queued);
        emit brokerStatus(brokerProblem_);
        refreshLineStatus();
    });
    connect(publisher_.get(), &publish::Publisher::requestReceived, this, [this] {
        if (connection_ && connection_->isActive())
            request();
    });
    connect(connection_, &worker::Connection::reading, publisher_.get(), &publish::Publisher::publish);
    if (!publisher_->start(&why)) {
        logImportantEvent(MessageFormat::format(text(QStringLiteral("broker.unusable.0")), why));
        publisher_.reset();
        publisherKey_.clear();
    }
}

void ConnectionPresenter::stop() {
    if (connection_)
        connection_->stop();
}

bool ConnectionPresenter::stopOrBusy() {
    connectionLost_.clear();
    if (connection_ && (connection_->isConnecting() || connection_->isWaitingForPort())) {
        stop();
        return true;
    }
    if (connected_) {
        stop();
        return true;
    }
    return connection_ && connection_->isActive();
}

bool ConnectionPresenter::isActive() const {
    return connection_ && connection_->isActive();
}

bool ConnectionPresenter::canRequest() const {
    return connection_ && connection_->canRequest();
}

void ConnectionPresenter::request() {
    if (connection_)
        connection_->request();
}

void ConnectionPresenter::setTypingHeld(bool held) {
    if (!connection_)
        return;
    if (!connection_->setTypingHeld(held))
        return;
    refreshLineStatus();
}

void ConnectionPresenter::showConnectedStatus(bool connected) {
    const QString statusKey = connected ? QStringLiteral("switch.to.target.application")
                                        : QStringLiteral("VororaZeZovFrame2.statusJLabel.text");
    // A lost connection stays in the status until the user acts.
    setStatus(!connected && !connectionLost_.isEmpty() ? connectionLost_ : text(statusKey));
    if (connected) {
        backlogTimer_->start();
    } else {
        backlogTimer_->stop();
        lastLineCount_ = -1;
    }
}

void ConnectionPresenter::showStatusIdle() {
    setStatus(text(QStringLiteral("VororaZeZovFrame2.statusJLabel.text")));
}

void ConnectionPresenter::showLine(const worker::DataLine& line, const worker::DataLine& received) {
    // The event log (the duplicate filter, sound and typing are the connection's). A reading held back
    // as unstable is shown as a line without a known value.
    if (connection_ && connection_->lastOutcome() == worker::Connection::Outcome::Unstable)
        log_->eventLogAppend(EventLog::timePrefix(received.getDateTime()) + received.getRawData() + u'\n',
                             QStringLiteral("unknown"));
    else
        log_->appendDataLine(line);
    lastLines_.push_back(received.rawData());
    while (lastLines_.size() > static_cast<size_t>(kLastReceivedLines))
        lastLines_.pop_front();
    // The line count in the status.
    lastLineCount_ = line.getCount();
    refreshLineStatus();
}

QStringList ConnectionPresenter::lastReceivedLines() const {
    return QStringList(lastLines_.begin(), lastLines_.end());
}

void ConnectionPresenter::refreshLineStatus() {
    if (!waitingStatus_.isEmpty()) {
        if (status_->text() != waitingStatus_)
            setStatus(waitingStatus_);
        return;
    }
    // A value typed after the end of the connection brings no line count back.
    if (lastLineCount_ < 0 || !connected_)
        return;
    const bool held = connection_ && connection_->typingHeld();
    const QString waitText = connection_ ? connection_->typingWaitText() : QString();
    QString status = held ? text(QStringLiteral("typing.held.status"))
                     : !waitText.isEmpty()
                         ? waitText
                         : text(QStringLiteral("line.count")) + QString::number(lastLineCount_);
    const int waiting = connection_ ? connection_->waitingValues() : 0;
    if (waiting == 1)
        status += u' ' + text(QStringLiteral("values.waiting.one"));
    else if (waiting > 0)
        status += u' ' + MessageFormat::format(text(QStringLiteral("values.waiting.0")), waiting);
    if (connection_ && connection_->typingBehind())
        status += u' ' + text(QStringLiteral("typing.behind.status"));
    if (!dataLogProblem_.isEmpty())
        status = dataLogProblem_ + u' ' + status;
    if (!brokerProblem_.isEmpty())
        status = brokerProblem_ + QStringLiteral(" - ") + status;
    if (status_->text() != status)
        setStatus(status);
}

void ConnectionPresenter::logEvent(const QString& t) {
    log_->logEvent(t);
}

void ConnectionPresenter::logImportantEvent(const QString& t) {
    log_->logImportantEvent(t);
}

} // namespace vornal
