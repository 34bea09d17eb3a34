// The desktop-portal backend of `vornal-cli type` against real desktops started headless here: KDE Plasma
// (KWin, xdg-desktop-portal-kde: asks nothing for the keyboard), GNOME Shell and bare mutter
// (xdg-desktop-portal-gnome: asks at each start; the question is answered through the accessibility bus),
// each in a D-Bus session of its own (desktop-session.sh), typing into a Wayland-native Qt text field.
// Skipped where a desktop cannot start here, with the reason.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <iostream>

#include <unistd.h>

namespace {

QString readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

bool waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QThread::msleep(20);
    }
    return true;
}

QString u8(const char* s) {
    return QString::fromUtf8(s);
}

class Desktop {
public:
    Desktop(const QString& which, const QString& layout) {
        dir_.setAutoRemove(true);
        session_.setProgram(QStringLiteral(VORNAL_DESKTOP_SESSION));
        session_.setArguments({which, dir_.path(), layout, QStringLiteral(VORNAL_RECEIVER)});
        session_.setChildProcessModifier([] { ::setsid(); }); // its own group: ended as a whole
        session_.start();
        if (!session_.waitForStarted()) {
            fail_ = "cannot run desktop-session.sh";
            return;
        }
        const QString envFile = dir_.filePath(QStringLiteral("env"));
        waitFor([&] { return QFile::exists(envFile) || session_.state() == QProcess::NotRunning; }, 120000);
        if (QFile::exists(dir_.filePath(QStringLiteral("skip")))) {
            skip_ = readFile(dir_.filePath(QStringLiteral("skip"))).trimmed().toStdString();
            return;
        }
        if (!QFile::exists(envFile)) {
            fail_ = "the " + which.toStdString() + " desktop did not start: " +
                    readFile(dir_.filePath(QStringLiteral("fail"))).toStdString();
            return;
        }
        env_ = QProcessEnvironment::systemEnvironment();
        env_.remove(QStringLiteral("DISPLAY"));
        env_.remove(QStringLiteral("QT_QPA_PLATFORM"));
        for (const QString& line : readFile(envFile).split(u'\n', Qt::SkipEmptyParts))
            env_.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
        out_ = dir_.filePath(QStringLiteral("received.txt"));
    }
    ~Desktop() {
        if (::testing::Test::HasFailure()) // what the desktop's programs said, for the failure's reader
            for (const QString& log : QDir(dir_.filePath(QStringLiteral("log"))).entryList(QDir::Files))
                std::cerr << "--- " << log.toStdString() << " (end)\n"
                          << readFile(dir_.filePath(QStringLiteral("log/") + log)).right(1500).toStdString()
                          << "\n";
        if (session_.processId() > 0) {
            ::kill(-static_cast<pid_t>(session_.processId()), SIGTERM);
            if (!session_.waitForFinished(10000))
                ::kill(-static_cast<pid_t>(session_.processId()), SIGKILL);
            session_.waitForFinished(5000);
        }
        // The document portal's file system is unmounted by a helper of its own once the portal has
        // gone: the folder can be removed after that.
        waitFor([&] { return !readFile(QStringLiteral("/proc/mounts")).contains(dir_.path()); }, 10000);
        dir_.remove();
    }
    const std::string& skipReason() const { return skip_; }
    const std::string& failure() const { return fail_; }

    struct Result {
        int code;
        QString err;
    };
    // Starts vornal-cli type with the portal backend and `args`.
    std::unique_ptr<QProcess> start(const QStringList& args) {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env_);
        p->start(QStringLiteral(VORNAL_BIN_DIR "/vornal-cli"),
                 QStringList{"--store", dir_.filePath(QStringLiteral("prefs.txt")), "type", "--backend",
                             "portal"} +
                     args);
        p->waitForStarted();
        return p;
    }
    Result type(const QStringList& args) {
        auto once = [&] {
            auto p = start(args);
            p->waitForFinished(90000);
            return Result{p->exitCode(), QString::fromUtf8(p->readAllStandardError())};
        };
        Result r = once();
        // GNOME's question is answered by the test's accessibility helper in place of a person; now and
        // then (about 1 run in 12) the dialog is gone before the helper ticks its box, and the portal
        // reports the request as ended. That is the stand-in person's miss, reported correctly by
        // Vornal (refusal, nothing typed): ask again once.
        if (r.code != 0 && r.err.contains(QStringLiteral("ended the remote-desktop request"))) {
            std::cerr << "the desktop's question was not answered in time; asking again\n";
            r = once();
        }
        return r;
    }
    // What the text field received since the last call, once `expected` arrived or `ms` passed.
    QString received(const QString& expected, int ms = 5000) {
        waitFor([&] { return readFile(out_) == before_ + expected; }, ms);
        QThread::msleep(300); // nothing more may follow
        const QString all = readFile(out_);
        const QString added = all.startsWith(before_) ? all.mid(before_.size()) : all;
        before_ = all;
        return added;
    }
    // Waits until at least `n` characters arrived since the last call to received().
    bool receivedAtLeast(int n, int ms) {
        return waitFor([&] { return readFile(out_).size() >= before_.size() + n; }, ms);
    }
    // GNOME Shell ends its remote-desktop sessions, as when the screen locks (the test's extension).
    void endRemoteDesktop() {
        QFile f(dir_.filePath(QStringLiteral("home/end-remote-desktop")));
        f.open(QIODevice::WriteOnly);
    }
    // Sends `sig` to the process that owns the D-Bus name `name` on the desktop's session bus now (a
    // backend may have been started again by D-Bus activation since the desktop came up).
    void signalOwner(const char* name, int sig) {
        QProcess q;
        q.setProcessEnvironment(env_);
        q.start(QStringLiteral("gdbus"),
                {"call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                 "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.GetConnectionUnixProcessID",
                 QString::fromLatin1(name)});
        q.waitForFinished(10000);
        // "(uint32 1234,)"
        const QString out = QString::fromUtf8(q.readAllStandardOutput());
        const pid_t pid = out.section(u' ', 1).section(u',', 0, 0).toInt();
        ASSERT_GT(pid, 0) << "no owner of " << name << ": " << out.toStdString();
        ::kill(pid, sig);
    }

private:
    QTemporaryDir dir_;
    QProcess session_;
    QProcessEnvironment env_;
    QString out_, before_;
    std::string skip_, fail_;
};

#define START_DESKTOP(d, which, layout)                                                                      \
    Desktop d(QStringLiteral(which), QStringLiteral(layout));                                                \
    if (!d.skipReason().empty())                                                                             \
        GTEST_SKIP() << d.skipReason();                                                                      \
    ASSERT_TRUE(d.failure().empty()) << d.failure()

const char* kAltGrText = "12,50 \xE2\x82\xAC \xC2\xB0"
                         "C \xC2\xB5m \xC2\xB1"
                         "0,1 @ {[]} \\ | ~ \xC3\x9F \xC3\x84";
// An accent the German layout has only as a dead key: at delay 0 a busy Qt window may put the accent
// ahead of keys typed just before it, so it is typed at the default delay.
const char* kDeadKeyText = "2^3 a^b";
const char* kLong = "abcdefghijklmnopqrstuvwxyz0123456789";
// The loss is caused between two keys (typed 60 ms apart), as it comes at a random moment in use: a
// backend lost in the millisecond between a key and its confirmation leaves open whether that key
// arrived, and it is then reported as not typed.
constexpr int kBetweenKeys = 25;

// A value cut by the loss of the desktop: what arrived is the start of the value, nothing after it, and the
// command fails and names exactly the part typed and the part not typed.
void expectCutExactly(const Desktop::Result& r, const QString& arrived, const char* why) {
    const QString value = QString::fromLatin1(kLong);
    EXPECT_NE(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(value.startsWith(arrived)) << arrived.toStdString();
    EXPECT_LT(arrived.size(), value.size()) << arrived.toStdString();
    EXPECT_TRUE(r.err.contains(QString::fromLatin1(why))) << r.err.toStdString();
    EXPECT_TRUE(
        r.err.contains(QStringLiteral("typed '%1', not typed '%2'").arg(arrived, value.mid(arrived.size()))))
        << "arrived: " << arrived.toStdString() << "\n"
        << r.err.toStdString();
}

} // namespace

TEST(PortalDesktops, KdePlasmaOnAGermanLayout) {
    START_DESKTOP(d, "kde", "de");
    // Plain text, the keyboard type GERMAN: @ is AltGr+Q, never the first level of Q.
    auto r = d.type({"--layout", "GERMAN", "--delay", "0", "--", "Hello World 12,50 kg @home"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("on the desktop's layout de"))) << r.err.toStdString();
    EXPECT_EQ(d.received(QStringLiteral("Hello World 12,50 kg @home")).toStdString(),
              "Hello World 12,50 kg @home");
    // ALL with characters on AltGr, on Shift+AltGr and behind a dead key.
    r = d.type({"--layout", "ALL", "--delay", "0", "--", u8(kAltGrText)});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(d.received(u8(kAltGrText)).toStdString(), kAltGrText);
    r = d.type({"--layout", "ALL", "--delay", "20", "--", u8(kDeadKeyText)});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(d.received(u8(kDeadKeyText)).toStdString(), kDeadKeyText);
    // What the layout lacks is refused whole, named, and nothing of the value is typed.
    r = d.type({"--layout", "ALL", "--delay", "0", "--", u8("ab \xC5\x93 \xE2\x8C\x80")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(u8("Cannot type '\xC5\x93', '\xE2\x8C\x80' on the desktop's layout de:")))
        << r.err.toStdString();
    EXPECT_EQ(d.received(QString(), 1000).toStdString(), "");
    // A long key delay: no key is held long enough to repeat (KDE repeats after about 600 ms).
    r = d.type({"--layout", "QUERTY", "--delay", "700", "--", "ab"});
    EXPECT_EQ(d.received(QStringLiteral("ab")).toStdString(), "ab") << r.err.toStdString();
    // The portal backend killed mid-value: typing stops at once and the value is reported cut.
    auto p = d.start({"--layout", "QUERTY", "--delay", "60", "--", QString::fromLatin1(kLong)});
    ASSERT_TRUE(d.receivedAtLeast(8, 30000));
    QThread::msleep(kBetweenKeys);
    d.signalOwner("org.freedesktop.impl.portal.desktop.kde", SIGKILL);
    p->waitForFinished(30000);
    r = {p->exitCode(), QString::fromUtf8(p->readAllStandardError())};
    expectCutExactly(r, d.received(QString(), 1500),
                     "portal backend (org.freedesktop.impl.portal.desktop.kde)");
}

TEST(PortalDesktops, GnomeShellOnAGermanLayout) {
    START_DESKTOP(d, "gnome", "de");
    auto r = d.type({"--layout", "GERMAN", "--delay", "0", "--", "Hello World 12,50 kg @home"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("on the desktop's layout de"))) << r.err.toStdString();
    EXPECT_EQ(d.received(QStringLiteral("Hello World 12,50 kg @home")).toStdString(),
              "Hello World 12,50 kg @home");
    r = d.type({"--layout", "ALL", "--delay", "0", "--", u8(kAltGrText)});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(d.received(u8(kAltGrText)).toStdString(), kAltGrText);
    r = d.type({"--layout", "ALL", "--delay", "20", "--", u8(kDeadKeyText)});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(d.received(u8(kDeadKeyText)).toStdString(), kDeadKeyText);
    r = d.type({"--layout", "ALL", "--delay", "0", "--", u8("ab \xC5\x93")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(u8("Cannot type '\xC5\x93' on the desktop's layout de:")))
        << r.err.toStdString();
    EXPECT_EQ(d.received(QString(), 1000).toStdString(), "");
    // GNOME repeats a held key after about 500 ms.
    r = d.type({"--layout", "QUERTY", "--delay", "700", "--", "ab"});
    EXPECT_EQ(d.received(QStringLiteral("ab")).toStdString(), "ab") << r.err.toStdString();
    // The desktop ends the session mid-value (as when the screen locks).
    auto p = d.start({"--layout", "QUERTY", "--delay", "60", "--", QString::fromLatin1(kLong)});
    ASSERT_TRUE(d.receivedAtLeast(8, 30000));
    QThread::msleep(kBetweenKeys);
    d.endRemoteDesktop();
    p->waitForFinished(30000);
    r = {p->exitCode(), QString::fromUtf8(p->readAllStandardError())};
    expectCutExactly(r, d.received(QString(), 1500), "the desktop ended the remote-desktop session");
}

TEST(PortalDesktops, BareMutterOnItsUsLayout) {
    START_DESKTOP(d, "mutter", "us");
    QString ascii;
    for (char c = 0x20; c <= 0x7E; ++c)
        ascii += QLatin1Char(c);
    auto r = d.type({"--layout", "QUERTY", "--delay", "0", "--", ascii});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("on the desktop's layout us"))) << r.err.toStdString();
    EXPECT_EQ(d.received(ascii).toStdString(), ascii.toStdString());
    r = d.type({"--layout", "ALL", "--delay", "0", "--", u8("12,50 \xE2\x82\xAC")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(u8("Cannot type '\xE2\x82\xAC' on the desktop's layout us:")))
        << r.err.toStdString();
    EXPECT_EQ(d.received(QString(), 1000).toStdString(), "");
    auto p = d.start({"--layout", "QUERTY", "--delay", "60", "--", QString::fromLatin1(kLong)});
    ASSERT_TRUE(d.receivedAtLeast(8, 30000));
    QThread::msleep(kBetweenKeys);
    d.signalOwner("org.freedesktop.impl.portal.desktop.gnome", SIGKILL);
    p->waitForFinished(30000);
    r = {p->exitCode(), QString::fromUtf8(p->readAllStandardError())};
    expectCutExactly(r, d.received(QString(), 1500),
                     "portal backend (org.freedesktop.impl.portal.desktop.gnome)");
}
