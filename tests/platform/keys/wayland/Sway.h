#pragma once
// A headless sway for the Wayland typing tests, in a folder of its own (its XDG_RUNTIME_DIR inside),
// as an unprivileged user when the test runs as root (sway refuses root). Programs started with
// startAsUser() run as that user in a process group of their own, so that stop() ends them with
// every child (a browser starts several).

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <list>
#include <memory>
#include <string>

#include <signal.h>
#include <unistd.h>

namespace vornal::test {

inline bool waitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QThread::msleep(20);
    }
    return true;
}

inline QString readText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

class Sway {
public:
    static constexpr uid_t kUser = 65534;

    // Starts sway with the seat's keyboard layout `layout`; skipReason() says why when it cannot.
    explicit Sway(const QString& layout = QStringLiteral("us")) {
        const QString sway = QStandardPaths::findExecutable(QStringLiteral("sway"));
        setpriv_ = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (sway.isEmpty() || (getuid() == 0 && setpriv_.isEmpty())) {
            skip_ = "sway or setpriv is not installed (scripts/deps.sh test)";
            return;
        }
        runtime_ = dir_.filePath(QStringLiteral("runtime"));
        QDir().mkpath(runtime_);
        QFile::setPermissions(runtime_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString conf = dir_.filePath(QStringLiteral("sway.conf"));
        {
            QFile f(conf);
            f.open(QIODevice::WriteOnly);
            f.write(
                QStringLiteral("xwayland disable\ninput type:keyboard xkb_layout %1\n").arg(layout).toUtf8());
        }
        if (!giveToUser(dir_.path()) || !giveToUser(runtime_) || !giveToUser(conf)) {
            skip_ = "cannot hand the test folder to an unprivileged user";
            return;
        }
        env_.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
        env_.insert(QStringLiteral("HOME"), dir_.path());
        env_.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
        env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_);
        QProcessEnvironment swayEnv = env_;
        swayEnv.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
        swayEnv.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
        swayEnv.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
        sway_ = &startAsUser(sway, {QStringLiteral("-c"), conf}, swayEnv);
        const QString socket = runtime_ + QStringLiteral("/wayland-1");
        if (!waitUntil([&] { return QFile::exists(socket); }, 10000)) {
            skip_ = "sway did not start: " + sway_->readAllStandardError().right(400).toStdString();
            return;
        }
        env_.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-1"));
    }
    ~Sway() {
        for (auto it = started_.rbegin(); it != started_.rend(); ++it)
            stop(**it);
    }
    Sway(const Sway&) = delete;
    Sway& operator=(const Sway&) = delete;

    const std::string& skipReason() const { return skip_; }
    // The session's environment: WAYLAND_DISPLAY, XDG_RUNTIME_DIR, HOME; no DISPLAY.
    const QProcessEnvironment& env() const { return env_; }
    QString filePath(const QString& name) const { return dir_.filePath(name); }
    // Hands a file or folder made by the test to the unprivileged user (when running as root).
    static bool giveToUser(const QString& path) {
        return getuid() != 0 || ::chown(QFile::encodeName(path).constData(), kUser, kUser) == 0;
    }

    // Starts `program` as the session's user, in a process group of its own; the session owns it and
    // stops it at its end.
    // With `errFile`, the program's standard error goes there.
    QProcess& startAsUser(const QString& program, const QStringList& args, const QProcessEnvironment& env,
                          const QString& errFile = {}) {
        QProcess& p = *started_.emplace_back(std::make_unique<QProcess>());
        p.setProcessEnvironment(env);
        if (!errFile.isEmpty())
            p.setStandardErrorFile(errFile);
        p.setChildProcessModifier([] { ::setpgid(0, 0); });
        if (getuid() == 0)
            p.start(setpriv_,
                    QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", program} + args);
        else
            p.start(program, args);
        p.waitForStarted();
        return p;
    }
    // Kills the compositor at once, as a crash would.
    void kill() { stop(*sway_); }
    // Stops the compositor (SIGSTOP, as a hung one) or lets it go on.
    void pause(bool paused) {
        if (sway_ && sway_->processId() > 0)
            ::kill(static_cast<pid_t>(sway_->processId()), paused ? SIGSTOP : SIGCONT);
    }

    // Ends `p` and everything it started.
    static void stop(QProcess& p) {
        if (p.state() == QProcess::NotRunning)
            return;
        const auto pid = static_cast<pid_t>(p.processId());
        if (pid > 0)
            ::kill(-pid, SIGKILL);
        p.kill();
        p.waitForFinished(5000);
    }

private:
    QTemporaryDir dir_;
    QString runtime_, setpriv_;
    QProcessEnvironment env_;
    std::list<std::unique_ptr<QProcess>> started_;
    QProcess* sway_ = nullptr;
    std::string skip_;
};

} // namespace vornal::test
