// Real typing on Wayland: a headless sway started here (as an unprivileged user when run as root, since
// sway refuses root), a Wayland-native Qt text field (the receiver program), and `vornal-cli type` with
// WAYLAND_DISPLAY set and no DISPLAY. Skipped when sway, wtype or the receiver cannot run here.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;

QString cliPath() {
    return QStringLiteral(VORNAL_BIN_DIR "/vornal-cli");
}

QString printableAscii() {
    QString s;
    for (char c = 0x20; c <= 0x7E; ++c)
        s += QLatin1Char(c);
    return s;
}

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

// A headless sway with the seat's keyboard layout `layout`, an idle wtype as the seat's keyboard (so
// that clients have a keyboard before ours appears) and the receiver with the focus.
class Session {
public:
    explicit Session(const QString& layout) {
        const QString sway = QStandardPaths::findExecutable(QStringLiteral("sway"));
        const QString wtype = QStandardPaths::findExecutable(QStringLiteral("wtype"));
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (sway.isEmpty() || wtype.isEmpty() || (getuid() == 0 && setpriv.isEmpty())) {
            skip_ = "sway, wtype or setpriv is not installed (scripts/deps.sh test)";
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
        if (getuid() == 0) {
            // sway refuses to run as root: its files belong to the unprivileged user.
            for (const QString& p : {dir_.path(), runtime_, conf})
                if (::chown(QFile::encodeName(p).constData(), kNobody, kNobody) != 0) {
                    skip_ = "cannot hand the test folder to an unprivileged user";
                    return;
                }
        }
        QProcessEnvironment env;
        env.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
        env.insert(QStringLiteral("HOME"), dir_.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_);
        env.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
        env.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
        env.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
        start(sway_, env, sway, {QStringLiteral("-c"), conf});
        const QString socket = runtime_ + QStringLiteral("/wayland-1");
        if (!waitFor([&] { return QFile::exists(socket); }, 10000)) {
            skip_ = "sway did not start: " + sway_.readAllStandardError().right(400).toStdString();
            return;
        }
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-1"));
        start(wtype_, env, wtype, {QStringLiteral("-s"), QStringLiteral("600000")});
        QThread::msleep(300);
        env_ = env;
        env_.remove(QStringLiteral("WLR_BACKENDS"));
        env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        out_ = dir_.filePath(QStringLiteral("received.txt"));
        receiver_.setProcessEnvironment(env_);
        receiver_.start(QStringLiteral(VORNAL_RECEIVER), {out_});
        if (!waitFor([&] { return QFile::exists(out_ + QStringLiteral(".ready")); }, 15000))
            skip_ = "the Wayland receiver did not get the focus: " +
                    receiver_.readAllStandardError().right(400).toStdString();
    }
    ~Session() {
        for (QProcess* p : {&receiver_, &wtype_, &sway_}) {
            p->kill();
            p->waitForFinished(5000);
        }
    }
    const std::string& skipReason() const { return skip_; }

    struct Result {
        int code;
        QString err;
    };
    // Runs vornal-cli type with `args` in the session (no DISPLAY).
    Result type(const QStringList& args, bool withWayland = true) {
        QProcess p;
        QProcessEnvironment env = env_;
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        if (!withWayland)
            env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        p.setProcessEnvironment(env);
        p.start(cliPath(), QStringList{"--store", dir_.filePath(QStringLiteral("prefs.txt")), "type"} + args);
        p.waitForFinished(60000);
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardError())};
    }
    // What the text field received since the last call, once `expected` arrived or 10 s passed. The
    // field keeps its text: each call compares what was added.
    QString received(const QString& expected) {
        waitFor([&] { return readFile(out_) == before_ + expected; }, 10000);
        QThread::msleep(50); // nothing more may follow
        const QString all = readFile(out_);
        const QString added = all.startsWith(before_) ? all.mid(before_.size()) : all;
        before_ = all;
        return added;
    }

private:
    void start(QProcess& p, const QProcessEnvironment& env, const QString& program, const QStringList& args) {
        p.setProcessEnvironment(env);
        if (getuid() == 0)
            p.start(QStandardPaths::findExecutable(QStringLiteral("setpriv")),
                    QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", program} + args);
        else
            p.start(program, args);
        p.waitForStarted();
    }

    QTemporaryDir dir_;
    QString runtime_, out_, before_;
    QProcessEnvironment env_;
    QProcess sway_, wtype_, receiver_;
    std::string skip_;
};

} // namespace

TEST(WaylandTyping, EveryPrintableCharacterOnTheSeatLayoutsUsAndDe) {
    for (const char* seatLayout : {"us", "de"}) {
        Session s(QString::fromLatin1(seatLayout));
        if (!s.skipReason().empty())
            GTEST_SKIP() << s.skipReason();
        for (const char* layout : {"QUERTY", "US_INTERNATIONAL", "AZERTY", "GERMAN", "ALL"}) {
            for (const char* delay : {"0", "1"}) {
                const auto r = s.type({"--layout", layout, "--delay", delay, "--", printableAscii()});
                EXPECT_EQ(r.code, 0) << r.err.toStdString();
                EXPECT_TRUE(
                    r.err.contains(QStringLiteral("typing through Wayland (virtual keyboard) on wayland-1")))
                    << r.err.toStdString();
                EXPECT_EQ(s.received(printableAscii()).toStdString(), printableAscii().toStdString())
                    << layout << " at delay " << delay << " on the seat layout " << seatLayout;
            }
        }
    }
}

TEST(WaylandTyping, AllTypesTextBeyondAsciiOtherLayoutsNameWhatTheyCannotType) {
    Session s(QStringLiteral("de"));
    if (!s.skipReason().empty())
        GTEST_SKIP() << s.skipReason();
    const QString text = QString::fromUtf8("23,5 \xC2\xB0"
                                           "C \xC2\xB1"
                                           "0,1 \xC2\xB5m 12 \xE2\x82\xAC M\xC3\xBC\xC3\x9Fig "
                                           "\xC3\x89t\xC3\xA9 \xC2\xB2 \xCE\xA9");
    auto r = s.type({"--layout", "ALL", "--delay", "0", "--", text});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(s.received(text).toStdString(), text.toStdString());
    // Many different characters: beyond those the keymap has from the start, it grows before the value.
    QString many;
    for (char32_t c = 0xC0; c < 0x180; ++c)
        many += QString::fromUcs4(&c, 1);
    r = s.type({"--layout", "ALL", "--delay", "0", "--", many});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(s.received(many).toStdString(), many.toStdString());
    // GERMAN keeps its character set: the accent is named, the rest typed.
    r = s.type({"--layout", "GERMAN", "--delay", "0", "--", QString::fromUtf8("x\xC3\xA9y")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("<233>"))) << r.err.toStdString();
    EXPECT_EQ(s.received(QStringLiteral("xy")).toStdString(), "xy");
}

TEST(WaylandTyping, ForcedBackendsAndAWaylandSessionWithoutAnyAreExplained) {
    Session s(QStringLiteral("us"));
    if (!s.skipReason().empty())
        GTEST_SKIP() << s.skipReason();
    auto r = s.type({"--backend", "x11", "x"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("DISPLAY is not set"))) << r.err.toStdString();
    r = s.type({"--backend", "carrier-pigeon", "x"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("auto wayland portal x11"))) << r.err.toStdString();
    r = s.type({"--backend", "wayland", "ok"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(s.received(QStringLiteral("ok")).toStdString(), "ok");
    // No WAYLAND_DISPLAY and no DISPLAY: every backend tried says why.
    r = s.type({"x"}, false);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("WAYLAND_DISPLAY is not set"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("DISPLAY is not set"))) << r.err.toStdString();
}
