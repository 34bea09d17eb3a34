#pragma once
// ser2net (a real serial device server) in front of a socat pty pair, for the tests of network ports:
// ttyA is ser2net's serial port, the test plays the instrument on ttyB. One raw TCP and one RFC 2217
// accepter on 127.0.0.1, ports chosen by the system. Skip the test when start() says why it cannot run.

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

namespace vornal::test {

// A TCP port on 127.0.0.1 that nothing listens on at the moment.
inline int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

inline bool loopbackAccepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

class Ser2net {
public:
    Ser2net() = default;
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;
    ~Ser2net() {
        stopServer();
        if (instrument_ >= 0)
            ::close(instrument_);
        if (socat_.state() != QProcess::NotRunning) {
            socat_.terminate();
            socat_.waitForFinished(3000);
        }
    }

    // Starts the pty pair and ser2net. Empty when they run, else why not.
    QString start() {
        ser2net_ =
            QStandardPaths::findExecutable(QStringLiteral("ser2net"), {"/usr/sbin", "/usr/bin", "/sbin"});
        const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
        if (ser2net_.isEmpty() || socat.isEmpty())
            return QStringLiteral("needs ser2net and socat (scripts/deps.sh test)");
        if (!dir_.isValid())
            return QStringLiteral("no temporary folder");
        ttyA_ = dir_.filePath("ttyA");
        ttyB_ = dir_.filePath("ttyB");
        socat_.start(socat, {"pty,raw,echo=0,link=" + ttyA_, "pty,raw,echo=0,link=" + ttyB_});
        if (!socat_.waitForStarted())
            return QStringLiteral("socat did not start");
        for (int i = 0; i < 100 && !(QFile::exists(ttyA_) && QFile::exists(ttyB_)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        instrument_ = ::open(ttyB_.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (instrument_ < 0)
            return QStringLiteral("the pty pair did not come up");
        rawPort_ = freeLoopbackPort();
        rfcPort_ = freeLoopbackPort();
        QFile conf(dir_.filePath("ser2net.yaml"));
        if (!conf.open(QIODevice::WriteOnly))
            return QStringLiteral("cannot write the ser2net configuration");
        conf.write(QStringLiteral("connection: &raw\n"
                                  "  accepter: tcp,127.0.0.1,%1\n"
                                  "  connector: serialdev,%3,9600n81,local\n"
                                  "connection: &rfc\n"
                                  "  accepter: telnet(rfc2217),tcp,127.0.0.1,%2\n"
                                  "  connector: serialdev,%3,9600n81,local\n"
                                  "  options:\n"
                                  "    kickolduser: true\n")
                       .arg(rawPort_)
                       .arg(rfcPort_)
                       .arg(ttyA_)
                       .toUtf8());
        conf.close();
        return startServer() ? QString() : QStringLiteral("ser2net did not start: ") + serverOutput_;
    }

    // ser2net alone, stopped and started again (the pty pair stays).
    bool startServer() {
        server_.setProcessChannelMode(QProcess::MergedChannels);
        server_.start(ser2net_, {"-n", "-d", "-c", dir_.filePath("ser2net.yaml")});
        if (!server_.waitForStarted())
            return false;
        for (int i = 0; i < 250 && !(loopbackAccepts(rawPort_) && loopbackAccepts(rfcPort_)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        serverOutput_ = QString::fromLocal8Bit(server_.readAll());
        return loopbackAccepts(rfcPort_) && loopbackAccepts(rawPort_);
    }
    void stopServer() {
        if (server_.state() == QProcess::NotRunning)
            return;
        server_.terminate();
        if (!server_.waitForFinished(5000)) {
            server_.kill();
            server_.waitForFinished(3000);
        }
    }

    // What the instrument sends; true when all of it was written.
    bool send(const QByteArray& bytes) {
        return ::write(instrument_, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // What reaches the instrument within ms, or until done holds.
    QByteArray receive(int ms, const std::function<bool(const QByteArray&)>& done) {
        QByteArray got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done(got) && std::chrono::steady_clock::now() < end) {
            pollfd p{instrument_, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                char buf[512];
                const ssize_t n = ::read(instrument_, buf, sizeof buf);
                if (n > 0)
                    got.append(buf, n);
            }
        }
        return got;
    }

    QString rfc() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(rfcPort_); }
    QString raw() const { return QStringLiteral("tcp://127.0.0.1:%1").arg(rawPort_); }
    // ser2net's side of the pty pair (its termios holds the settings ser2net applied).
    QString serialPort() const { return ttyA_; }
    QString dir() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QString ser2net_, ttyA_, ttyB_, serverOutput_;
    QProcess socat_, server_;
    int instrument_ = -1;
    int rawPort_ = 0, rfcPort_ = 0;
};

} // namespace vornal::test
