#pragma once

#include "vornal/config/Config.h"
#include "vornal/worker/DataLine.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QLabel;
class QTimer;
class QWidget;

namespace vornal::util {
class ResourceBundle;
}
namespace vornal::worker {
class Connection;
class Typist;
} // namespace vornal::worker
namespace vornal::publish {
class Publisher;
}

namespace vornal {

class EventLog;

// Between the window and its connection: starts and stops it, follows its state, and shows what it
// reports: lines in the event log, the line count, waits and losses in the status line, problems as
// dialogs over the window. The window decides what its controls look like from the signals.
class ConnectionPresenter : public QObject {
    Q_OBJECT
public:
    static constexpr int kLastReceivedLines = 20;

    ConnectionPresenter(QWidget* window, const util::ResourceBundle& bundle, EventLog* log, QLabel* status);
    ~ConnectionPresenter() override;

    // The instrument's name at a station of several: it leads every line of the log and the status
    // ("Balance: ..."). Empty (a station of one): the texts are those of a single instrument.
    void setProfileName(const QString& name);
    QString profileName() const;
    // The instrument's name a start gives its connection (its data-log rows, its request socket; empty
    // at a station of one).
    void setConnectionName(const QString& name) { connectionName_ = name; }
    // The station's typing turn, shared by every connection of the window.
    void setTypist(std::shared_ptr<worker::Typist> typist) { typist_ = std::move(typist); }
    // The station's one broker publisher for a start with these settings (null: none), asked at each
    // start; the station owns it (one broker connection, one queue and one id sequence for all).
    void setPublishing(std::function<publish::Publisher*(const config::Config&)> publishing) {
        publishing_ = std::move(publishing);
    }
    // Publishes this connection's readings through `publisher` (null: not at all) under its instrument's
    // topic level.
    void attachPublisher(publish::Publisher* publisher);
    // The broker's state for the status line: "" when reachable (or no broker).
    void setBrokerProblem(const QString& problem);
    // A request from the broker for the instrument of that topic level: sent when it is this one's.
    void requestFromBroker(const QString& instrument);

    enum class State { Idle, Connecting, Connected, Waiting };
    State state() const;
    // The value of the last line (processed; empty for a line without one) and the port in use.
    QString lastValue() const { return lastValue_; }
    QString port() const { return config_.getPort(); }
    // What the tray says for this connection ("" when all is well).
    QString trayText() const { return trayText_; }

    // Starts a connection with `config` (the connection is created at the first start). `typingHeld`:
    // the window has the keyboard focus.
    void start(const config::Config& config, bool typingHeld);
    void stop();
    // A click on Start/Stop while a connection exists: stops an attempt, a wait for the port or a
    // connection, and says true; true too while a connection is still ending (its end switches the
    // window to idle); false when nothing runs and a start may follow.
    bool stopOrBusy();
    // The connection runs or is still ending.
    bool isActive() const;
    bool isConnected() const { return connected_; }
    bool canRequest() const;
    void request();
    // Typing waits while the window has the keyboard focus.
    void setTypingHeld(bool held);

    // One processed line (and the line as received): the event log, the lines kept for the expression
    // dialog, the line count.
    void showLine(const worker::DataLine& line, const worker::DataLine& received);
    // The lines received last (raw, as received), oldest first.
    QStringList lastReceivedLines() const;

    void logEvent(const QString& text);
    void logImportantEvent(const QString& text);
    // The idle text of the status line.
    void showStatusIdle();
    // The status after a change to connected or idle: a lost connection stays until the user acts.
    void showConnectedStatus(bool connected);

    worker::Connection* connection() const { return connection_; }

signals:
    // A network port is being connected in the background.
    void connecting(const QString& port);
    // Connected or idle; on the user-interface thread, after the current event.
    void connectedChanged(bool connected);
    // Something the user should notice while the window is hidden.
    void notice(const QString& caption, const QString& message);
    // What the tray icon's tool tip says ("" for the program's name).
    void trayStatus(const QString& status);
    // The chosen way of typing is not available.
    void keyBackendUnavailable();
    // Something of state(), lastValue() or trayText() changed.
    void changed();

private:
    QString text(const QString& key) const;
    void create();
    void setStatus(const QString& status);
    // `text` with the instrument's name before it, when it has one.
    QString named(const QString& text) const;
    void setTrayText(const QString& text);
    void refreshLineStatus();

    QWidget* window_;
    const util::ResourceBundle& bundle_;
    EventLog* log_;
    QLabel* status_;
    // The settings of the running connection.
    config::Config config_;
    std::atomic<bool> connected_{false};
    worker::Connection* connection_ = nullptr;
    // Why the last connection was lost; shown in the status until the user acts.
    QString connectionLost_;
    // What the status says while the port is gone (empty otherwise).
    QString waitingStatus_;
    // What the status says while the data log cannot be written (empty otherwise).
    QString dataLogProblem_;
    // Readings to the broker: kept from one Start to the next while the broker settings stay, so that
    // what is queued keeps going out after Stop; ended with the window.
    std::function<publish::Publisher*(const config::Config&)> publishing_;
    QPointer<publish::Publisher> publisher_;
    QMetaObject::Connection readingLink_;
    QString instrument_; // the topic level of this connection's readings
    QString brokerProblem_;
    qint32 lastLineCount_ = -1;
    QTimer* backlogTimer_;
    std::deque<QString> lastLines_;
    QString lastValue_;
    QString trayText_;
    QString connectionName_;
    std::shared_ptr<worker::Typist> typist_;
    // Read by the reading and typing threads (their log lines).
    mutable std::mutex nameMutex_;
    QString profileName_;
};

} // namespace vornal
