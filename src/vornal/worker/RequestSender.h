#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class QLocalServer;
class QLocalSocket;

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

    // The local socket on which a running connection of this user takes requests from `vornal-cli
    // request`. On Linux and other Unix systems a socket in a folder only this user can enter:
    // "$XDG_RUNTIME_DIR/vornal-request" when that folder is this user's and closed to others, else
    // "vornal-<uid>/vornal-request" in the temporary folder, made with mode 0700 (a folder of that name
    // that belongs to someone else or is open to others is not used). On Windows a named pipe with the
    // user's name in it, open only to this user. The environment variable VORNAL_REQUEST_SOCKET chooses
    // another (several connections side by side, tests). "" with `error` set when no private place exists.
    static QString serverName(QString* error = nullptr);
    // The socket of one profile's connection (several instruments of a station run side by side): the
    // name above with "-" and the profile name (letters, digits, "-" and "_" as they are, every other
    // byte of its UTF-8 as "%XX"). An empty profile: serverName().
    static QString serverName(const QString& profile, QString* error);

    // At most this many clients at a time; each is dropped after CLIENT_IDLE_MS without a whole line
    // and at once when it sends more than MAX_LINE bytes without a line break.
    static constexpr int MAX_CLIENTS = 16;
    static constexpr int CLIENT_IDLE_MS = 5000;
    static constexpr int MAX_LINE = 256;

    // The protocol of the socket, on what a client has sent so far: wait for more, a request, another
    // line (answered "error: unknown command"), or too much without a line break (the client is dropped).
    // One line is read; blanks around it do not count.
    enum class Received { More, Request, Unknown, TooLong };
    static Received judge(const QByteArray& received);

    // Listens on serverName(); each client of this user that writes "request\n" triggers request() and is
    // answered "ok\n" or "error: ...\n" (clients of other users are dropped unanswered). False (with the
    // reason) when a live connection of this user listens already; this one then takes the name over
    // once that one has ended (serverMessage() says so). A listener that fails (no descriptors left) is
    // reported through serverMessage() and opened again.
    bool listen(QString* error);
    bool listening() const;
    // Asks the connection listening on serverName() for a reading. "" on success, else the reason, one
    // for each cause: nothing listens, a connection ended and left its socket, no permission, a socket of
    // another user, no request command set, no answer. On success `sent` says what was sent, a tab, and
    // to which port, as far as the connection tells.
    static QString requestFromRunning(int timeoutMs = 3000, QString* sent = nullptr,
                                      const QString& profile = QString());
    // The profile whose socket listen() takes (empty: serverName()). Set before listen().
    void setProfile(const QString& profile) { profile_ = profile; }
    // What the answer to `vornal-cli request` names as the receiver (the port).
    void setTarget(const QString& target) { target_ = target; }

public slots:
    // Writes the command now. Emits sent() or failed().
    bool request();

signals:
    void sent(const QByteArray& command);
    void failed(const QString& reason);
    // The listener changed: taken over after another connection ended, failed and opened again.
    void serverMessage(const QString& message, bool important);

private:
    QByteArray command_;
    QString target_;
    QString profile_;
    Write write_;
    QTimer timer_;
    qint64 sentCount_ = 0;
    bool openServer(QString* error);
    void checkServer();
    void serve(QLocalSocket* socket);

    std::unique_ptr<QLocalServer> server_;
    QString serverName_;
    QTimer watch_; // retries a name held by another connection, re-opens a failed listener
    bool wanted_ = false;
    bool broken_ = false; // the listener failed and is not open yet
    int clients_ = 0;
};

} // namespace vornal::worker
