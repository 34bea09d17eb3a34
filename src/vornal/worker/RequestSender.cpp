#include "vornal/worker/RequestSender.h"

#include "vornal/worker/DataLine.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <exception>

namespace vornal::worker {

RequestSender::RequestSender(QByteArray command, Write write, QObject* parent)
    : QObject(parent), command_(std::move(command)), write_(std::move(write)) {
    connect(&timer_, &QTimer::timeout, this, &RequestSender::request);
}

RequestSender::~RequestSender() = default;

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

QString RequestSender::serverName() {
    const QString chosen = qEnvironmentVariable("VORNAL_REQUEST_SOCKET");
    if (!chosen.isEmpty())
        return chosen;
    return QStringLiteral("vornal-request-") + qEnvironmentVariable("USER", qEnvironmentVariable("USERNAME"));
}

bool RequestSender::listen(QString* error) {
    // A live listener answers and is kept; a name left behind by a connection that crashed is taken over.
    {
        QLocalSocket probe;
        probe.connectToServer(serverName());
        if (probe.waitForConnected(500)) {
            *error = QStringLiteral("another Vornal connection takes the requests of vornal-cli request");
            return false;
        }
    }
    QLocalServer::removeServer(serverName());
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(serverName())) {
        *error = server_->errorString();
        server_.reset();
        return false;
    }
    connect(server_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine())
                    return;
                const QByteArray line = socket->readLine(64).trimmed();
                if (line != "request") {
                    socket->write("error: unknown command\n");
                } else {
                    QString reason;
                    const auto keep = connect(this, &RequestSender::failed, socket,
                                              [&reason](const QString& r) { reason = r; });
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
    });
    return true;
}

QString RequestSender::requestFromRunning(int timeoutMs, QString* sent) {
    QLocalSocket socket;
    socket.connectToServer(serverName());
    if (!socket.waitForConnected(timeoutMs))
        return QStringLiteral("no Vornal connection is running (start one with vornal-cli run or in the "
                              "window, and connect)");
    socket.write("request\n");
    socket.flush();
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(timeoutMs))
            return QStringLiteral("the running connection did not answer");
    const QByteArray answer = socket.readLine().chopped(1);
    if (answer == "ok" || answer.startsWith("ok ")) {
        if (sent)
            *sent = QString::fromUtf8(answer.mid(3));
        return QString();
    }
    return QString::fromUtf8(answer.startsWith("error: ") ? answer.mid(7) : answer);
}

} // namespace vornal::worker
