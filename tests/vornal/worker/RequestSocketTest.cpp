// The request socket of `vornal-cli request` under attack and under pressure: a private folder, the peer's
// user checked on both sides, one message per cause, the name taken over from a connection that ended,
// bounded and timed-out clients, and a listener that runs out of descriptors and comes back.
#include "vornal/worker/RequestSender.h"

#include "support/WaitFor.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <future>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using vornal::test::waitFor;
using vornal::worker::RequestSender;

namespace {

// Sets an environment variable for one test and puts the old value back.
class EnvGuard {
public:
    EnvGuard(const char* name, const QByteArray& value) : name_(name), had_(qEnvironmentVariableIsSet(name)) {
        old_ = qgetenv(name);
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~EnvGuard() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

sockaddr_un address(const QString& path) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    const QByteArray p = QFile::encodeName(path);
    std::memcpy(a.sun_path, p.constData(),
                std::min<std::size_t>(std::size_t(p.size()), sizeof a.sun_path - 1));
    return a;
}

// A listening socket made with the system calls alone (a squatter, a socket left behind).
int bindRaw(const QString& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un a = address(path);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || listen(fd, 64) != 0)
        return -1;
    return fd;
}

// A client made with the system calls alone; -1 when the connect fails.
int connectRaw(const QString& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const sockaddr_un a = address(path);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    return fd;
}

// What the other end sent, "" while it sends nothing, and "<closed>" once it has closed.
QByteArray readSome(int fd) {
    char buffer[256];
    const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
        return "<closed>";
    return n > 0 ? QByteArray(buffer, n) : QByteArray();
}

QString askRunning() {
    auto answer = std::async(std::launch::async, [] { return RequestSender::requestFromRunning(2000); });
    waitFor([&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 10000);
    return answer.get();
}

struct App {
    int argc = 0;
    QCoreApplication app{argc, nullptr};
};

} // namespace

TEST(RequestSocket, LivesInAFolderOnlyThisUserCanEnter) {
    QTemporaryDir dir;
    const QString run = dir.filePath(QStringLiteral("run"));
    const QString tmp = dir.filePath(QStringLiteral("tmp"));
    ASSERT_TRUE(QDir().mkpath(run));
    ASSERT_TRUE(QDir().mkpath(tmp));
    ASSERT_EQ(chmod(QFile::encodeName(run).constData(), 0700), 0);
    EnvGuard chosen("VORNAL_REQUEST_SOCKET", QByteArray());
    EnvGuard runtime("XDG_RUNTIME_DIR", QFile::encodeName(run));
    EnvGuard temp("TMPDIR", QFile::encodeName(tmp));
    EnvGuard user("USER", QByteArray());
    QString error;
    EXPECT_EQ(RequestSender::serverName(&error), run + QStringLiteral("/vornal-request"));
    // Each profile of a station has a socket of its own in the same folder; a name that could leave the
    // folder or clash with another's is written out byte by byte.
    EXPECT_EQ(RequestSender::serverName(QStringLiteral("Balance_1"), &error),
              run + QStringLiteral("/vornal-request-Balance_1"));
    EXPECT_EQ(RequestSender::serverName(QStringLiteral("../Waage 2/\u00e4"), &error),
              run + QStringLiteral("/vornal-request-%2E%2E%2FWaage%202%2F%C3%A4"));
    EXPECT_EQ(RequestSender::serverName(QString(), &error), run + QStringLiteral("/vornal-request"));

    // A runtime folder open to others is not used: a folder of our own, closed to others, instead.
    ASSERT_EQ(chmod(QFile::encodeName(run).constData(), 0755), 0);
    const QString own = tmp + QStringLiteral("/vornal-") + QString::number(getuid());
    EXPECT_EQ(RequestSender::serverName(&error), own + QStringLiteral("/vornal-request"))
        << error.toStdString();
    struct stat st {};
    ASSERT_EQ(lstat(QFile::encodeName(own).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, getuid());

    // A folder of that name that others may enter (made by someone else before us) is refused.
    ASSERT_EQ(chmod(QFile::encodeName(own).constData(), 0777), 0);
    EXPECT_EQ(RequestSender::serverName(&error), QString());
    EXPECT_TRUE(error.contains(QStringLiteral("open to other users"))) << error.toStdString();
    App app;
    RequestSender sender("S\r\n", [](const QByteArray&) {});
    EXPECT_FALSE(sender.listen(&error));
    EXPECT_TRUE(RequestSender::requestFromRunning(500).contains(QStringLiteral("open to other users")));
}

// Another user binds the name first (possible wherever the name is shared, as in the old /tmp name):
// the listener says so and vornal-cli request sends nothing to it.
TEST(RequestSocket, ASquatterOfAnotherUserGetsNothing) {
    if (geteuid() != 0)
        GTEST_SKIP() << "playing another user needs root";
    QTemporaryDir dir;
    ASSERT_EQ(chmod(QFile::encodeName(dir.path()).constData(), 01777), 0);
    const QString path = dir.filePath(QStringLiteral("shared.socket"));
    int report[2], control[2];
    ASSERT_EQ(pipe(report), 0);
    ASSERT_EQ(pipe(control), 0);
    const pid_t squatter = fork();
    ASSERT_GE(squatter, 0);
    if (squatter == 0) {
        close(report[0]);
        close(control[1]);
        signal(SIGPIPE, SIG_IGN);
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(3);
        const int listener = bindRaw(path);
        if (listener < 0)
            _exit(4);
        long received = 0;
        for (;;) {
            pollfd fds[2] = {{listener, POLLIN, 0}, {control[0], POLLIN, 0}};
            if (poll(fds, 2, 10000) <= 0 || fds[1].revents)
                break;
            const int client = accept(listener, nullptr, nullptr);
            pollfd c{client, POLLIN, 0};
            char buffer[256];
            if (poll(&c, 1, 1000) > 0)
                received += std::max<ssize_t>(0, read(client, buffer, sizeof buffer));
            [[maybe_unused]] const auto n = write(client, "ok\n", 3); // pretends success
            close(client);
        }
        const QByteArray text = QByteArray::number(qlonglong(received));
        [[maybe_unused]] const auto n = write(report[1], text.constData(), size_t(text.size()));
        _exit(0);
    }
    close(report[1]);
    close(control[0]);
    ASSERT_TRUE(waitFor([&] { return QFileInfo::exists(path); }, 5000));
    EnvGuard chosen("VORNAL_REQUEST_SOCKET", QFile::encodeName(path));
    App app;
    QString error;
    RequestSender sender("S\r\n", [](const QByteArray&) {});
    EXPECT_FALSE(sender.listen(&error));
    EXPECT_TRUE(error.contains(QStringLiteral("held by user id 65534"))) << error.toStdString();
    const QString answer = askRunning();
    EXPECT_TRUE(answer.contains(QStringLiteral("nothing was sent"))) << answer.toStdString();
    [[maybe_unused]] const auto n = write(control[1], "q", 1);
    char buffer[64] = {};
    const ssize_t got = read(report[0], buffer, sizeof buffer - 1);
    int status = 0;
    waitpid(squatter, &status, 0);
    ASSERT_GT(got, 0);
    EXPECT_EQ(QByteArray(buffer, got), "0") << "the squatter received bytes";
}

TEST(RequestSocket, EachCauseHasItsOwnMessageAndADeadListenerIsTakenOver) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("request.socket"));
    EnvGuard chosen("VORNAL_REQUEST_SOCKET", QFile::encodeName(path));
    App app;
    EXPECT_TRUE(askRunning().contains(QStringLiteral("no Vornal connection is running")));

    // A connection that was killed leaves its socket behind.
    const int dead = bindRaw(path);
    ASSERT_GE(dead, 0);
    close(dead);
    QString answer = askRunning();
    EXPECT_TRUE(answer.contains(QStringLiteral("has ended"))) << answer.toStdString();

    if (geteuid() != 0) {
        ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0), 0);
        answer = askRunning();
        EXPECT_TRUE(answer.contains(QStringLiteral("permission denied"))) << answer.toStdString();
    }

    // A connection without a request command takes the name over and says what is missing.
    QString error;
    RequestSender none(QByteArray(), [](const QByteArray&) {});
    ASSERT_TRUE(none.listen(&error)) << error.toStdString();
    answer = askRunning();
    EXPECT_TRUE(answer.contains(QStringLiteral("no request command"))) << answer.toStdString();
}

TEST(RequestSocket, TheSurvivorTakesTheNameOverWhenTheFirstEnds) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("request.socket"));
    EnvGuard chosen("VORNAL_REQUEST_SOCKET", QFile::encodeName(path));
    App app;
    int firstSent = 0, secondSent = 0;
    auto first = std::make_unique<RequestSender>("A", [&](const QByteArray&) { ++firstSent; });
    RequestSender second("B", [&](const QByteArray&) { ++secondSent; });
    QStringList messages;
    QObject::connect(&second, &RequestSender::serverMessage, [&](const QString& m, bool) { messages << m; });
    QString error;
    ASSERT_TRUE(first->listen(&error));
    EXPECT_FALSE(second.listen(&error));
    EXPECT_TRUE(error.contains(QStringLiteral("takes them over"))) << error.toStdString();
    EXPECT_EQ(askRunning(), QString());
    EXPECT_EQ(firstSent, 1);
    first.reset();
    ASSERT_TRUE(waitFor([&] { return second.listening(); }, 5000)) << "the survivor never took the name over";
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("now reaches this one"))) << messages[0].toStdString();
    EXPECT_EQ(askRunning(), QString());
    EXPECT_EQ(secondSent, 1);
}

TEST(RequestSocket, ClientsAreBoundedTimedOutAndLimitedToALine) {
    signal(SIGPIPE, SIG_IGN);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("request.socket"));
    EnvGuard chosen("VORNAL_REQUEST_SOCKET", QFile::encodeName(path));
    App app;
    int sent = 0;
    RequestSender sender("S\r\n", [&](const QByteArray&) { ++sent; });
    QString error;
    ASSERT_TRUE(sender.listen(&error)) << error.toStdString();

    std::vector<int> idle;
    for (int i = 0; i < RequestSender::MAX_CLIENTS; ++i) {
        idle.push_back(connectRaw(path));
        ASSERT_GE(idle.back(), 0);
    }
    waitFor([] { return false; }, 300);
    // One more is turned away at once.
    const int extra = connectRaw(path);
    ASSERT_GE(extra, 0);
    QByteArray turnedAway;
    ASSERT_TRUE(waitFor([&] { return (turnedAway += readSome(extra)).contains("<closed>"); }, 3000));
    EXPECT_TRUE(turnedAway.startsWith("error: too many clients")) << turnedAway.toStdString();
    close(extra);

    // Idle clients are dropped after the time-out; a flood without a line break at once.
    for (int fd : idle)
        EXPECT_EQ(readSome(fd), QByteArray()) << "dropped too early";
    const int flood = connectRaw(path);
    ASSERT_GE(flood, 0);
    const QByteArray chunk(4096, 'x');
    long flooded = 0;
    bool cut = waitFor(
        [&] {
            const ssize_t n =
                send(flood, chunk.constData(), std::size_t(chunk.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                flooded += n;
            return (n < 0 && errno == EPIPE) || readSome(flood) == "<closed>";
        },
        3000);
    EXPECT_TRUE(cut) << "a client sent " << flooded << " bytes without a line break and was kept";
    std::printf("a client without a line break was dropped after it had sent %ld bytes\n", flooded);
    EXPECT_LT(flooded, 4L * 1024 * 1024);
    close(flood);
    int closedCount = 0;
    waitFor(
        [&] {
            closedCount = 0;
            for (int fd : idle)
                closedCount += readSome(fd) == "<closed>" ? 1 : 0;
            return closedCount == int(idle.size());
        },
        RequestSender::CLIENT_IDLE_MS + 3000);
    EXPECT_EQ(closedCount, int(idle.size())) << "idle clients were kept";
    for (int fd : idle)
        close(fd);
    EXPECT_EQ(askRunning(), QString());
    EXPECT_EQ(sent, 1);
}

// The process may open only a few more descriptors than it needs: clients that hold them make accepting
// fail. The listener reports it and comes back once descriptors are free again.
TEST(RequestSocket, AListenerOutOfDescriptorsIsReportedAndOpenedAgain) {
    signal(SIGPIPE, SIG_IGN);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("request.socket"));
    int report[2], control[2];
    ASSERT_EQ(pipe(report), 0);
    ASSERT_EQ(pipe(control), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(report[0]);
        close(control[1]);
        qputenv("VORNAL_REQUEST_SOCKET", QFile::encodeName(path));
        App app;
        RequestSender sender("S\r\n", [](const QByteArray&) {});
        auto say = [&](const QByteArray& text) {
            [[maybe_unused]] const auto n = write(report[1], text.constData(), size_t(text.size()));
        };
        QObject::connect(&sender, &RequestSender::serverMessage,
                         [&](const QString& m, bool) { say(m.toUtf8() + '\n'); });
        QString error;
        if (!sender.listen(&error))
            _exit(3);
        // A few descriptors more than now: the clients exhaust them.
        const int open = int(QDir(QStringLiteral("/proc/self/fd"))
                                 .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                                 .size());
        const rlimit limit{rlim_t(open + 4), rlim_t(open + 4)};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            _exit(4);
        say("ready\n");
        waitFor(
            [&] {
                pollfd p{control[0], POLLIN, 0};
                return poll(&p, 1, 0) > 0;
            },
            60000);
        _exit(0);
    }
    close(report[1]);
    close(control[0]);
    QByteArray messages;
    auto collect = [&] {
        char buffer[1024];
        pollfd p{report[0], POLLIN, 0};
        while (poll(&p, 1, 0) > 0) {
            const ssize_t n = read(report[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            messages.append(buffer, n);
        }
    };
    for (int i = 0; i < 500 && !messages.contains("ready"); ++i) {
        collect();
        usleep(10000);
    }
    ASSERT_TRUE(messages.contains("ready"));
    // Many idle clients: more than the listener may hold descriptors for.
    std::vector<int> clients;
    for (int i = 0; i < 40; ++i) {
        const int fd = connectRaw(path);
        if (fd >= 0)
            clients.push_back(fd);
        usleep(20000);
    }
    for (int i = 0; i < 300 && !messages.contains("failed"); ++i) {
        collect();
        usleep(10000);
    }
    for (int fd : clients)
        close(fd);
    // Once they are gone, a request is answered again.
    QByteArray answer;
    for (int i = 0; i < 100 && !answer.startsWith("ok"); ++i) {
        collect();
        answer.clear();
        const int fd = connectRaw(path);
        if (fd >= 0) {
            [[maybe_unused]] const auto n = send(fd, "request\n", 8, MSG_NOSIGNAL);
            for (int j = 0; j < 100 && !answer.contains('\n') && !answer.contains("<closed>"); ++j) {
                answer += readSome(fd);
                usleep(10000);
            }
            close(fd);
        }
        if (!answer.startsWith("ok"))
            usleep(100000);
    }
    // The listener says it is back once it has stayed open a whole second.
    for (int i = 0; i < 300 && !messages.contains("open again"); ++i) {
        collect();
        usleep(10000);
    }
    [[maybe_unused]] const auto n = write(control[1], "q", 1);
    int status = 0;
    waitpid(child, &status, 0);
    collect();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(messages.contains("failed"))
        << "the listener's failure was not reported: " << messages.toStdString();
    EXPECT_EQ(messages.count("failed"), 1) << "reported once: " << messages.toStdString();
    EXPECT_TRUE(messages.contains("open again")) << messages.toStdString();
    EXPECT_TRUE(answer.startsWith("ok")) << "no answer after the clients left: " << answer.toStdString()
                                         << "; messages: " << messages.toStdString();
}
