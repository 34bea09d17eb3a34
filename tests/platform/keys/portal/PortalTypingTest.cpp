// The desktop-portal backend of `vornal-cli type` against a recording portal on a private session bus:
// the request/response handshake, the restore token, refusal, a session closed while typing, and the
// keysyms sent. No real desktop is involved. Skipped when dbus-daemon is not installed.
#include "platform/keys/portal/PortalInjector.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

QString readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// A private bus that activates nothing (so no real portal is started), with the recording portal on it,
// in a KDE session whose keyboard settings (kxkbrc) name `layout`.
class PortalBus {
public:
    explicit PortalBus(const QString& mode, const QString& layout = QStringLiteral("us")) {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) {
            skip_ = "dbus-daemon is not installed (scripts/deps.sh test)";
            return;
        }
        const QString conf = dir_.filePath(QStringLiteral("bus.conf"));
        QFile f(conf);
        f.open(QIODevice::WriteOnly);
        f.write(QStringLiteral(
                    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                    "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                    "<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                    "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                    "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n")
                    .arg(dir_.path())
                    .toUtf8());
        f.close();
        daemon_.start(daemon, {QStringLiteral("--config-file=") + conf, QStringLiteral("--nofork"),
                               QStringLiteral("--print-address=1")});
        if (!daemon_.waitForReadyRead(10000)) {
            skip_ = "dbus-daemon did not start: " + daemon_.readAllStandardError().toStdString();
            return;
        }
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        log_ = dir_.filePath(QStringLiteral("portal.log"));
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
        env_.insert(QStringLiteral("XDG_DATA_HOME"), dir_.filePath(QStringLiteral("data")));
        env_.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("config")));
        env_.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("KDE"));
        QDir().mkpath(dir_.filePath(QStringLiteral("config")));
        QFile kxkbrc(dir_.filePath(QStringLiteral("config/kxkbrc")));
        kxkbrc.open(QIODevice::WriteOnly);
        kxkbrc.write(QStringLiteral("[Layout]\nLayoutList=%1\nUse=true\n").arg(layout).toUtf8());
        kxkbrc.close();
        env_.remove(QStringLiteral("DISPLAY"));
        env_.remove(QStringLiteral("WAYLAND_DISPLAY"));
        portal_.setProcessEnvironment(env_);
        portal_.start(QStringLiteral(VORNAL_RECORDING_PORTAL), {log_, mode});
        QElapsedTimer t;
        t.start();
        while (!readFile(log_).startsWith(QStringLiteral("ready")) && t.elapsed() < 10000)
            QThread::msleep(20);
        if (!readFile(log_).startsWith(QStringLiteral("ready")))
            skip_ = "the recording portal did not start";
    }
    ~PortalBus() {
        for (QProcess* p : {&portal_, &daemon_}) {
            p->kill();
            p->waitForFinished(5000);
        }
    }
    const std::string& skipReason() const { return skip_; }
    const QString& address() const { return address_; }
    QString dataHome() const { return dir_.filePath(QStringLiteral("data")); }
    QStringList log() const { return readFile(log_).split(u'\n', Qt::SkipEmptyParts); }

    struct Result {
        int code;
        QString err;
        QStringList log; // what the portal recorded for this run
    };
    Result type(const QStringList& args, const QMap<QString, QString>& extraEnv = {}) {
        const int before = readFile(log_).split(u'\n', Qt::SkipEmptyParts).size();
        QProcess p;
        QProcessEnvironment env = env_;
        for (auto it = extraEnv.begin(); it != extraEnv.end(); ++it)
            env.insert(it.key(), it.value());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(VORNAL_BIN_DIR "/vornal-cli"),
                QStringList{"--store", dir_.filePath(QStringLiteral("prefs.txt")), "type"} + args);
        p.waitForFinished(60000);
        QThread::msleep(100);
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardError()),
                readFile(log_).split(u'\n', Qt::SkipEmptyParts).mid(before)};
    }
    QString storedToken() const {
        return readFile(dir_.filePath(QStringLiteral("data/vornal/remote-desktop-restore-token")));
    }

private:
    QTemporaryDir dir_;
    QProcess daemon_, portal_;
    QString address_, log_;
    QProcessEnvironment env_;
    std::string skip_;
};

QStringList keys(const QStringList& log) {
    QStringList out;
    for (const QString& l : log)
        if (l.startsWith(QStringLiteral("key ")) || l.startsWith(QStringLiteral("code ")) ||
            l.startsWith(QStringLiteral("refused ")) || l == QStringLiteral("closed"))
            out += l;
    return out;
}

} // namespace

TEST(PortalTyping, HandshakeKeysymsAndTheRestoreToken) {
    PortalBus bus(QStringLiteral("grant"));
    if (!bus.skipReason().empty())
        GTEST_SKIP() << bus.skipReason();
    auto r = bus.type({"--backend", "portal", "--layout", "GERMAN", "--delay", "0", "--", "Ab ~"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(
        QStringLiteral("typing through desktop portal (RemoteDesktop) on the desktop's layout us")))
        << r.err.toStdString();
    ASSERT_GE(r.log.size(), 3) << r.log.join(u'\n').toStdString();
    EXPECT_EQ(r.log[0].toStdString(), "CreateSession session_handle_token=vornal");
    EXPECT_EQ(r.log[1].toStdString(), "SelectDevices session=ok types=1 persist_mode=2 restore_token=");
    EXPECT_EQ(r.log[2].toStdString(), "Start session=ok");
    // Characters as keysyms, without the modifiers of the layout's chords (the desktop finds the keys).
    EXPECT_EQ(keys(r.log).join(u' ').toStdString(),
              "key 41 1 key 41 0 key 62 1 key 62 0 key 20 1 key 20 0 key 7e 1 key 7e 0");
    EXPECT_EQ(bus.storedToken().toStdString(), "token-1");

    // The next start hands the token back, so that the desktop need not ask again. An accent is typed as
    // its character (no SPACE after it); ALL sends any character.
    r = bus.type({"--backend", "portal", "--layout", "US_INTERNATIONAL", "--delay", "0", "--", "'x"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    ASSERT_GE(r.log.size(), 2);
    EXPECT_EQ(r.log[1].toStdString(),
              "SelectDevices session=ok types=1 persist_mode=2 restore_token=token-1");
    EXPECT_EQ(keys(r.log).join(u' ').toStdString(), "key 27 1 key 27 0 key 78 1 key 78 0");
    // Characters the desktop's layout (us) lacks are refused before any key of the value.
    r = bus.type({"--backend", "portal", "--layout", "ALL", "--delay", "0", "--",
                  QString::fromUtf8("1\xC2\xB0\xE2\x82\xAC")});
    EXPECT_EQ(r.code, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(
        QString::fromUtf8("Cannot type '\xC2\xB0', '\xE2\x82\xAC' on the desktop's layout us: ")))
        << r.err.toStdString();
    EXPECT_EQ(keys(r.log).join(u' ').toStdString(), "");
}

TEST(PortalTyping, BeyondTheFirstTwoLevelsKeyCodesWithAltGrAndDeadKeys) {
    PortalBus bus(QStringLiteral("grant"), QStringLiteral("de"));
    if (!bus.skipReason().empty())
        GTEST_SKIP() << bus.skipReason();
    // On de: ° is Shift+^ (by key code: the fourth level of 0 has it too, and a desktop sent its keysym
    // types that key's first level), € AltGr+E, ± Shift+AltGr+9 (evdev: RALT 100, LEFTSHIFT 42, E 18,
    // 9 is 10), ^ only as a dead key (41) completed by SPACE (57). @ of the GERMAN chord CONTROL ALT Q is
    // AltGr+Q (16), never its keysym (which the desktop would type at the first level: q).
    auto r = bus.type({"--backend", "portal", "--layout", "ALL", "--delay", "0", "--",
                       QString::fromUtf8("\xC2\xB0\xE2\x82\xAC\xC2\xB1^")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("on the desktop's layout de"))) << r.err.toStdString();
    EXPECT_EQ(keys(r.log).join(u' ').toStdString(),
              "code 42 1 code 41 1 code 41 0 code 42 0 "
              "code 100 1 code 18 1 code 18 0 code 100 0 "
              "code 42 1 code 100 1 code 10 1 code 10 0 code 100 0 code 42 0 "
              "code 41 1 code 41 0 code 57 1 code 57 0");
    r = bus.type({"--backend", "portal", "--layout", "GERMAN", "--delay", "0", "--", "a@"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(keys(r.log).join(u' ').toStdString(),
              "key 61 1 key 61 0 code 100 1 code 16 1 code 16 0 code 100 0");
    // What de lacks is named, and nothing of the value is typed.
    r = bus.type({"--backend", "portal", "--layout", "ALL", "--delay", "0", "--",
                  QString::fromUtf8("12 \xC5\x93\xE2\x8C\x80")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(
        QString::fromUtf8("Cannot type '\xC5\x93', '\xE2\x8C\x80' on the desktop's layout de: no key of it")))
        << r.err.toStdString();
    EXPECT_EQ(keys(r.log).join(u' ').toStdString(), "");
}

TEST(PortalTyping, AnUnreadableLayoutIsSaidOnceAndOnlyWhatEveryLayoutHasIsTyped) {
    PortalBus bus(QStringLiteral("grant"));
    if (!bus.skipReason().empty())
        GTEST_SKIP() << bus.skipReason();
    const QMap<QString, QString> elsewhere{
        {QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("Hyprland")}};
    auto r = bus.type({"--backend", "portal", "--delay", "0", "--", "Ab 1,5"}, elsewhere);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.err.count(QStringLiteral("could not be read")), 1) << r.err.toStdString();
    EXPECT_EQ(keys(r.log).size(), 12);
    r = bus.type({"--backend", "portal", "--delay", "0", "--", "a@b"}, elsewhere);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(
        r.err.contains(QStringLiteral("Cannot type '@': the desktop's keyboard layout could not be read")))
        << r.err.toStdString();
    EXPECT_TRUE(keys(r.log).isEmpty());
}

TEST(PortalTyping, ChosenByItselfInAWaylandSessionWithoutAVirtualKeyboard) {
    PortalBus bus(QStringLiteral("grant"));
    if (!bus.skipReason().empty())
        GTEST_SKIP() << bus.skipReason();
    const auto r = bus.type({"--delay", "0", "--", "1"},
                            {{QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("no-such-display")},
                             {QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland")}});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("not typing through Wayland virtual keyboard: cannot connect")))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("typing through desktop portal"))) << r.err.toStdString();
    EXPECT_EQ(keys(r.log).join(u' ').toStdString(), "key 31 1 key 31 0");
}

TEST(PortalTyping, RefusalAndAMissingKeyboardAreClearAndTypeNothing) {
    {
        PortalBus bus(QStringLiteral("refuse"));
        if (!bus.skipReason().empty())
            GTEST_SKIP() << bus.skipReason();
        const auto r = bus.type({"--backend", "portal", "x"});
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(r.err.contains(QStringLiteral("typing was not allowed when the desktop asked")))
            << r.err.toStdString();
        EXPECT_TRUE(keys(r.log).isEmpty());
        EXPECT_TRUE(bus.storedToken().isEmpty());
    }
    PortalBus bus(QStringLiteral("no-keyboard"));
    const auto r = bus.type({"--backend", "portal", "x"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("offers no keyboard"))) << r.err.toStdString();
}

TEST(PortalTyping, AClosedSessionStopsTypingAndNamesTheValue) {
    PortalBus bus(QStringLiteral("close-after=2"));
    if (!bus.skipReason().empty())
        GTEST_SKIP() << bus.skipReason();
    const auto r = bus.type({"--backend", "portal", "--delay", "0", "--", "abc"});
    EXPECT_EQ(r.code, 1);
    // The session object is gone: the next character is not sent at all.
    EXPECT_EQ(keys(r.log).join(u' ').toStdString(), "key 61 1 key 61 0 closed");
    EXPECT_TRUE(r.err.contains(QStringLiteral("Cannot type: the desktop ended the remote-desktop session")))
        << r.err.toStdString();
    // Exactly what reached the window: "a" did, "bc" did not.
    EXPECT_TRUE(r.err.contains(QStringLiteral("Only part of abc was typed: typed 'a', not typed 'bc'")))
        << r.err.toStdString();
}

TEST(PortalTyping, TheAllowedSessionServesEveryConnectionOfTheRunUntilTheDesktopEndsIt) {
    PortalBus bus(QStringLiteral("close-after=4"));
    if (!bus.skipReason().empty())
        GTEST_SKIP() << bus.skipReason();
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
    qputenv("XDG_CURRENT_DESKTOP", "KDE");
    qputenv("XDG_DATA_HOME", bus.dataHome().toUtf8());
    static int argc = 1;
    static char name[] = "typing_portal";
    static char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    using namespace vornal::platform;
    const CharChords layout{{U'a', {65}}};
    std::string why;
    auto first = openPortalInjector(layout, &why);
    ASSERT_NE(first, nullptr) << why;
    first->keyPress(65); // two keysyms: 'a' pressed and released at once
    first->keyRelease(65);
    first.reset();
    // The next connection of the run gets the same session (no second question) ...
    auto second = openPortalInjector(layout, &why);
    ASSERT_NE(second, nullptr) << why;
    EXPECT_EQ(bus.log().count(QStringLiteral("Start session=ok")), 1);
    try {
        second->keyPress(65); // the fourth keysym: the desktop closes the session after it
    } catch (const KeyInjectorLost&) {
    }
    // ... which the desktop has ended: every key says so, and the next opening asks again.
    EXPECT_THROW(second->keyPress(65), KeyInjectorLost);
    EXPECT_THROW(second->typeCharacter(U'a'), KeyInjectorLost);
    auto third = openPortalInjector(layout, &why);
    ASSERT_NE(third, nullptr) << why;
    EXPECT_EQ(bus.log().count(QStringLiteral("Start session=ok")), 2);
}
