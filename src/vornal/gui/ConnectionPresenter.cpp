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
}

QString ConnectionPresenter::text(const QString& key) const {
    return bundle_.getString(key);
}

void ConnectionPresenter::setProfileName(const QString& name) {
    std::lock_guard lock(nameMutex_);
    profileName_ = name;
}

QString ConnectionPresenter::profileName() const {
    std::lock_guard lock(nameMutex_);
    return profileName_;
}

QString ConnectionPresenter::named(const QString& text) const {
    const QString name = profileName();
    return name.isEmpty() ? text : name + QStringLiteral(": ") + text;
}

void ConnectionPresenter::setStatus(const QString& status) {
    status_->setText(named(status));
}

void ConnectionPresenter::setTrayText(const QString& text) {
    trayText_ = text;
    emit trayStatus(text);
    emit changed();
}

ConnectionPresenter::State ConnectionPresenter::state() const {
    if (!connection_)
        return State::Idle;
    if (connection_->isConnecting())
        return State::Connecting;
    if (connection_->isWaitingForPort())
        return State::Waiting;
    return connected_ ? State::Connected : State::Idle;
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
                emit changed();
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
        emit changed();
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
        emit notice(text(QStringLiteral("value.cut.caption")), named(connectionLost_));
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
        setTrayText(MessageFormat::format(text(QStringLiteral("tray.waiting.0")), port));
        emit notice(text(QStringLiteral("connection.lost.caption")), named(waitingStatus_));
    });
    connect(connection_, &Connection::reconnected, this, [this](const QString& port) {
        waitingStatus_.clear();
        setTrayText(QString());
        const QString status = MessageFormat::format(text(QStringLiteral("connection.reconnected.0")), port);
        setStatus(status);
        emit notice(text(QStringLiteral("connection.reconnected.caption")), named(status));
    });
    connect(
        connection_, &Connection::stopped, this, [this](Connection::StopReason reason, const QString& why) {
            waitingStatus_.clear();
            setTrayText(QString());
            emit changed();
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
                emit notice(text(QStringLiteral("typing.stopped.caption")), named(connectionLost_));
                return;
            }
            // Kept until the user acts (Start), so that a lost instrument is not missed.
            connectionLost_ =
                MessageFormat::format(text(QStringLiteral("connection.lost.0.1")), config_.getPort(), why);
            setStatus(connectionLost_);
            emit notice(text(QStringLiteral("connection.lost.caption")), named(connectionLost_));
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
    // Every connection of the station types through its one typing turn (whole values, in the order
    // their lines came) and names its instrument (data log, request socket) at a station of several.
    options.typist = typist_;
    options.profileName = connectionName_;
    setTypingHeld(typingHeld);
    lastLineCount_ = -1;
    attachPublisher(publishing_ ? publishing_(config_) : nullptr);
    connection_->start(config_, options);
}

void ConnectionPresenter::attachPublisher(publish::Publisher* publisher) {
    QObject::disconnect(readingLink_);
    publisher_ = publisher;
    if (!publisher_ || !connection_)
        return;
    instrument_ = publish::Publisher::instrumentName(config_, connectionName_);
    readingLink_ = connect(connection_, &worker::Connection::reading, this,
                           [this](const worker::DataLog::Row& row, int stable) {
                               if (publisher_)
                                   publisher_->publishFor(instrument_, row, stable);
                           });
}

void ConnectionPresenter::setBrokerProblem(const QString& problem) {
    if (brokerProblem_ == problem)
        return;
    brokerProblem_ = problem;
    refreshLineStatus();
}

void ConnectionPresenter::requestFromBroker(const QString& instrument) {
    if (publisher_ && instrument == instrument_ && connection_ && connection_->isActive())
        request();
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
    if (!connected && connectionLost_.isEmpty())
        showStatusIdle();
    else
        setStatus(!connected ? connectionLost_ : text(statusKey));
    if (connected) {
        backlogTimer_->start();
    } else {
        backlogTimer_->stop();
        lastLineCount_ = -1;
    }
}

void ConnectionPresenter::showStatusIdle() {
    // The window's own idle text, whichever instrument went idle.
    status_->setText(text(QStringLiteral("VororaZeZovFrame2.statusJLabel.text")));
}

void ConnectionPresenter::showLine(const worker::DataLine& line, const worker::DataLine& received) {
    // The event log (the duplicate filter, sound and typing are the connection's). A reading held back
    // as unstable is shown as a line without a known value.
    if (connection_ && connection_->lastOutcome() == worker::Connection::Outcome::Unstable)
        log_->eventLogAppend(EventLog::timePrefix(received.getDateTime()) + named(received.getRawData()) +
                                 u'\n',
                             QStringLiteral("unknown"));
    else
        log_->appendDataLine(line,
                             profileName().isEmpty() ? QString() : profileName() + QStringLiteral(": "));
    lastLines_.push_back(received.rawData());
    while (lastLines_.size() > static_cast<size_t>(kLastReceivedLines))
        lastLines_.pop_front();
    lastValue_ = line.getProcessedData();
    emit changed();
    // The line count in the status.
    lastLineCount_ = line.getCount();
    refreshLineStatus();
}

QStringList ConnectionPresenter::lastReceivedLines() const {
    return QStringList(lastLines_.begin(), lastLines_.end());
}

void ConnectionPresenter::refreshLineStatus() {
    if (!waitingStatus_.isEmpty()) {
        if (status_->text() != named(waitingStatus_))
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
    if (status_->text() != named(status))
        setStatus(status);
}

void ConnectionPresenter::logEvent(const QString& t) {
    log_->logEvent(named(t));
}

void ConnectionPresenter::logImportantEvent(const QString& t) {
    log_->logImportantEvent(named(t));
}

} // namespace vornal
