#include "vornal/worker/RequestSender.h"

#include "vornal/util/MessageFormat.h"
#include "vornal/util/ResourceBundle.h"
#include "vornal/worker/DataLine.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN
#include <windows.h>

#include <sddl.h>

#include <vector>
#endif

namespace vornal::worker {

namespace {

QString workerText(const char* key) {
    return util::ResourceBundle::get(QStringLiteral("vornal.worker.WorkerBundle"))
        .getString(QLatin1String(key));
}

// A message of the worker bundle with its arguments.
template <class... Args> QString format(const char* key, const Args&... args) {
    return util::MessageFormat::format(workerText(key), args...);
}

#ifdef Q_OS_UNIX
// The user at the other end of a local socket, as the system tells it.
std::optional<uid_t> peerUid(qintptr fd) {
#if defined(SO_PEERCRED)
    struct ucred cred {};
    socklen_t length = sizeof cred;
    if (::getsockopt(int(fd), SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0)
        return std::nullopt;
    return cred.uid;
#else
    uid_t uid = 0;
    gid_t gid = 0;
    if (::getpeereid(int(fd), &uid, &gid) != 0)
        return std::nullopt;
    return uid;
#endif
}

// True when `dir` is a folder (not a link) of this user that nobody else may enter; else `why` says.
bool privateFolder(const QString& dir, QString* why) {
    struct stat st {};
    if (::lstat(QFile::encodeName(dir).constData(), &st) != 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!S_ISDIR(st.st_mode))
        *why = workerText("folder.not.folder");
    else if (st.st_uid != ::getuid())
        *why = workerText("folder.other.user");
    else if (st.st_mode & 077)
        *why = workerText("folder.open.to.others");
    else
        return true;
    return false;
}
#endif

#ifdef Q_OS_WIN
// The account a process runs as, as a security identifier ("S-1-5-21-..."); nothing when the system
// does not tell (e.g. a process of another user that we may not look into).
std::optional<QString> processUser(HANDLE process) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(process, TOKEN_QUERY, &token))
        return std::nullopt;
    std::optional<QString> user;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    LPWSTR text = nullptr;
    if (size && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
        user = QString::fromWCharArray(text);
        ::LocalFree(text);
    }
    ::CloseHandle(token);
    return user;
}

// The account of the process at the other end of a named pipe: its server as seen by a client, its
// client as seen by the server.
std::optional<QString> pipePeerUser(qintptr pipe, bool peerIsServer) {
    ULONG pid = 0;
    const BOOL known = peerIsServer ? ::GetNamedPipeServerProcessId(HANDLE(pipe), &pid)
                                    : ::GetNamedPipeClientProcessId(HANDLE(pipe), &pid);
    if (!known)
        return std::nullopt;
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return std::nullopt;
    auto user = processUser(process);
    ::CloseHandle(process);
    return user;
}
#endif

// True when the socket's other end is this user; `peerIsServer` says which end that is (the
// listener as seen by a client, or a client as seen by the listener). A peer whose user the system
// does not tell counts as another user.
bool sameUser(const QLocalSocket& socket, bool peerIsServer, QString* who = nullptr) {
#ifdef Q_OS_UNIX
    Q_UNUSED(peerIsServer);
    const auto uid = peerUid(socket.socketDescriptor());
    if (uid && *uid == ::getuid())
        return true;
    if (who)
        *who = uid ? format("peer.user.0", *uid) : workerText("peer.unknown");
    return false;
#elif defined(Q_OS_WIN)
    // The pipe is open only to this user already (its access list, QLocalServer::UserAccessOption);
    // this also keeps out a pipe of the same name created first by someone else.
    const auto peer = pipePeerUser(socket.socketDescriptor(), peerIsServer);
    const auto own = processUser(::GetCurrentProcess());
    if (peer && own && *peer == *own)
        return true;
    if (who)
        *who = peer ? format("peer.user.0", *peer) : workerText("peer.unknown");
    return false;
#else
    Q_UNUSED(socket);
    Q_UNUSED(peerIsServer);
    Q_UNUSED(who);
    return true;
#endif
}

} // namespace

RequestSender::RequestSender(QByteArray command, Write write, QObject* parent)
    : QObject(parent), command_(std::move(command)), write_(std::move(write)) {
    connect(&timer_, &QTimer::timeout, this, &RequestSender::request);
    connect(&watch_, &QTimer::timeout, this, &RequestSender::checkServer);
}

RequestSender::~RequestSender() {
    // The clients go with the server, while the count they keep still exists.
    watch_.stop();
    server_.reset();
}

QString RequestSender::formatCommand(const QByteArray& bytes) {
    return DataLine::transformControlChars(QString::fromLatin1(bytes));
}

void RequestSender::setInterval(int seconds) {
    if (seconds <= 0) {
        timer_.stop();
        return;
    }
    timer_.start(seconds * 1000);
}

bool RequestSender::request() {
    if (command_.isEmpty()) {
        emit failed(workerText("request.command.missing"));
        return false;
    }
    try {
        write_(command_);
    } catch (const std::exception& e) {
        emit failed(QString::fromUtf8(e.what()));
        return false;
    }
    ++sentCount_;
    emit sent(command_);
    return true;
}

QString RequestSender::serverName(QString* error) {
    const QString chosen = qEnvironmentVariable("VORNAL_REQUEST_SOCKET");
    if (!chosen.isEmpty())
        return chosen;
    static const QString socket = QStringLiteral("vornal-request");
#ifdef Q_OS_UNIX
    QString why;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && privateFolder(runtime, &why))
        return runtime + u'/' + socket;
    // No private runtime folder: one of our own in the temporary folder, for this user only.
    const QString own = QDir::tempPath() + QStringLiteral("/vornal-") + QString::number(::getuid());
    if (::mkdir(QFile::encodeName(own).constData(), 0700) != 0 && errno != EEXIST) {
        why = QString::fromLocal8Bit(std::strerror(errno));
    } else if (privateFolder(own, &why)) {
        return own + u'/' + socket;
    }
    if (error)
        *error = format("request.socket.no.folder.0.1", own, why);
    return QString();
#else
    Q_UNUSED(error);
    // A named pipe: one name per user, open to that user only (QLocalServer::UserAccessOption).
    QString user = qEnvironmentVariable("USERNAME", qEnvironmentVariable("USER"));
    user.replace(u'\\', u'_').replace(u'/', u'_');
    return socket + u'-' + user;
#endif
}

QString RequestSender::serverName(const QString& profile, QString* error) {
    const QString base = serverName(error);
    if (base.isEmpty() || profile.isEmpty())
        return base;
    QString suffix;
    for (const char c : profile.toUtf8()) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '-' ||
            u == '_')
            suffix += QLatin1Char(c);
        else
            suffix += QStringLiteral("%%1").arg(u, 2, 16, QLatin1Char('0')).toUpper();
    }
    return base + u'-' + suffix;
}

bool RequestSender::listen(QString* error) {
    wanted_ = true;
    watch_.start(1000);
    return openServer(error);
}

bool RequestSender::listening() const {
    return server_ && server_->isListening();
}

bool RequestSender::openServer(QString* error) {
    server_.reset();
    serverName_ = serverName(profile_, error);
    if (serverName_.isEmpty())
        return false;
    // A live listener answers and is kept; a name left behind by a connection that crashed is taken over.
    {
        QLocalSocket probe;
        probe.connectToServer(serverName_);
        if (probe.waitForConnected(500)) {
            QString who;
            if (!sameUser(probe, true, &who))
                *error = format("request.socket.held.0.1", QDir::toNativeSeparators(serverName_), who);
            else
                *error = workerText("request.socket.other.connection");
            return false;
        }
    }
    QLocalServer::removeServer(serverName_);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(serverName_)) {
        *error = format("request.socket.cannot.listen.0.1", QDir::toNativeSeparators(serverName_),
                        server_->errorString());
        server_.reset();
        return false;
    }
    connect(server_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection())
            serve(socket);
    });
    return true;
}

// Once a second while listening is wanted: a listener that failed (the server closes itself when it
// cannot accept, e.g. with no descriptors left) is reported and opened again; a name that another
// connection held is taken over once that connection has ended.
void RequestSender::checkServer() {
    if (!wanted_)
        return;
    if (listening()) {
        // Said once the listener has stayed open a whole interval, so that a listener that keeps failing
        // (descriptors still short) gives two messages, not two a second.
        if (broken_)
            emit serverMessage(workerText("request.socket.open.again"), false);
        broken_ = false;
        return;
    }
    if (server_) {
        if (!broken_)
            emit serverMessage(format("request.socket.failed.0.1", QDir::toNativeSeparators(serverName_),
                                      server_->errorString()),
                               true);
        server_.reset();
        broken_ = true;
    }
    QString why;
    if (openServer(&why) && !broken_)
        emit serverMessage(workerText("request.socket.taken.over"), false);
}

void RequestSender::serve(QLocalSocket* socket) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // Only this user's own clients; a full house turns new clients away at once.
    if (!sameUser(*socket, false)) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    if (clients_ >= MAX_CLIENTS) {
        socket->write("error: too many clients at once, try again\n");
        socket->flush();
        socket->disconnectFromServer();
        return;
    }
    ++clients_;
    connect(socket, &QObject::destroyed, this, [this] { --clients_; });
    // A client that keeps the line open without a whole line, or sends too much, is dropped.
    auto* idle = new QTimer(socket);
    idle->setSingleShot(true);
    connect(idle, &QTimer::timeout, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    idle->start(CLIENT_IDLE_MS);
    socket->setReadBufferSize(MAX_LINE + 1);
    struct State {
        QByteArray received;
        bool answered = false; // one line per client
    };
    auto state = std::make_shared<State>();
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, state] {
        if (state->answered)
            return;
        state->received += socket->read(MAX_LINE + 1 - state->received.size());
        const Received what = judge(state->received);
        if (what == Received::More)
            return;
        if (what == Received::TooLong) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        state->answered = true;
        if (what == Received::Unknown) {
            socket->write("error: unknown command\n");
        } else {
            QString reason;
            const auto keep =
                connect(this, &RequestSender::failed, socket, [&reason](const QString& r) { reason = r; });
            const bool ok = request();
            disconnect(keep);
            // "ok", what was sent and, after a tab, where (the command shows its tabs as <9>).
            socket->write(ok ? "ok " + (formatCommand(command_) + u'\t' + target_).toUtf8() + '\n'
                             : "error: " + reason.toUtf8() + '\n');
        }
        socket->flush();
        socket->disconnectFromServer();
    });
}

RequestSender::Received RequestSender::judge(const QByteArray& received) {
    const qsizetype end = received.indexOf('\n');
    if (end < 0)
        return received.size() > MAX_LINE ? Received::TooLong : Received::More;
    if (end > MAX_LINE)
        return Received::TooLong;
    return received.left(end).trimmed() == "request" ? Received::Request : Received::Unknown;
}

QString RequestSender::requestFromRunning(int timeoutMs, QString* sent, const QString& profile) {
    QString error;
    const QString name = serverName(profile, &error);
    if (name.isEmpty())
        return error;
    const QString shown = QDir::toNativeSeparators(name);
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs)) {
        switch (socket.error()) {
        case QLocalSocket::ServerNotFoundError:
            return QStringLiteral("no Vornal connection is running (start one with vornal-cli run or in the "
                                  "window, and connect)");
        case QLocalSocket::ConnectionRefusedError:
            return QStringLiteral("no Vornal connection takes requests: the one that did has ended and left "
                                  "%1 behind (start one with vornal-cli run or in the window, and connect)")
                .arg(shown);
        case QLocalSocket::SocketAccessError:
            return QStringLiteral("cannot reach the Vornal connection at %1: permission denied (%2)")
                .arg(shown, socket.errorString());
        default:
            return QStringLiteral("cannot reach the Vornal connection at %1: %2")
                .arg(shown, socket.errorString());
        }
    }
    QString who;
    if (!sameUser(socket, true, &who))
        return QStringLiteral("the request socket %1 is held by %2, not by a Vornal connection of yours; "
                              "nothing was sent")
            .arg(shown, who);
    socket.write("request\n");
    socket.flush();
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(timeoutMs))
            return QStringLiteral("the running connection did not answer");
    QByteArray answer = socket.readLine(4096);
    if (answer.endsWith('\n'))
        answer.chop(1);
    if (answer == "ok" || answer.startsWith("ok ")) {
        if (sent)
            *sent = QString::fromUtf8(answer.mid(3));
        return QString();
    }
    return QString::fromUtf8(answer.startsWith("error: ") ? answer.mid(7) : answer);
}

} // namespace vornal::worker
