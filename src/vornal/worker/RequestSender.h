#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class QLocalServer;

namespace vornal::worker {

// Asks the instrument for a reading: writes the request command to the port on request() (the Request
// button, the global hotkey, `vornal-cli request`) and, when an interval is set, every so many seconds.
// Lives on the thread that owns the connection; the write function runs there.
class RequestSender : public QObject {
    Q_OBJECT
public:
    // Writes the bytes to the port; throws std::exception on failure.
    using Write = std::function<void(const QByteArray&)>;

    RequestSender(QByteArray command, Write write, QObject* parent = nullptr);
    ~RequestSender() override;

    // The bytes in the notation of the setting (ConfigHelper::RequestCommand): control characters and
    // bytes above 126 as "<code>".
    static QString formatCommand(const QByteArray& bytes);

    // Sends every `seconds` seconds from now on; 0 stops the timer.
    void setInterval(int seconds);
    int interval() const { return timer_.isActive() ? timer_.interval() / 1000 : 0; }

    const QByteArray& command() const { return command_; }
    qint64 sentCount() const { return sentCount_; }

    // The name of the local socket on which a running connection of this user takes requests from
    // `vornal-cli request`; the environment variable VORNAL_REQUEST_SOCKET chooses another (several
    // connections side by side, tests).
    static QString serverName();
    // Listens on serverName(); each connection that writes "request\n" triggers request() and is answered
    // "ok\n" or "error: ...\n". False (with the reason) when another connection of this user listens already.
    bool listen(QString* error);
    // Asks the connection listening on serverName() for a reading. "" on success, else the reason;
    // `sent` then says what was sent, a tab, and to which port, as far as the connection tells.
    static QString requestFromRunning(int timeoutMs = 3000, QString* sent = nullptr);
    // What the answer to `vornal-cli request` names as the receiver (the port).
    void setTarget(const QString& target) { target_ = target; }

public slots:
    // Writes the command now. Emits sent() or failed().
    bool request();

signals:
    void sent(const QByteArray& command);
    void failed(const QString& reason);

private:
    QByteArray command_;
    QString target_;
    Write write_;
    QTimer timer_;
    qint64 sentCount_ = 0;
    std::unique_ptr<QLocalServer> server_;
};

} // namespace vornal::worker
