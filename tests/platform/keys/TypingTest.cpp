// Types through Keybot and the X11 backend into a text field of this process and compares what
// arrived, on the X layouts us, fr and de. Needs an X server with XTEST (DISPLAY); skipped without.
#include "support/Cli.h"
#include "vornal/util/ResourceBundle.h"
#include "vornal/worker/Keybot.h"
#include "vornal/worker/WeightWorkerView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <cstdlib>
#include <mutex>

using namespace vornal;
using worker::Keybot;
using KT = config::ConfigHelper::KeyboardType;
using MT = config::ConfigHelper::KeyMapType;

namespace {

class Problems : public worker::WeightWorkerView {
public:
    void logEvent(const QString&) override {}
    void logImportantEvent(const QString& t) override {
        std::lock_guard lock(m_);
        lines_ += t;
    }
    void setConnectedInGUI(bool) override {}
    void update(const worker::DataLine&) override {}
    QStringList lines() const {
        std::lock_guard lock(m_);
        return lines_;
    }

private:
    mutable std::mutex m_;
    QStringList lines_;
};

void spin(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
}

QString printableAscii() {
    QString s;
    for (char c = 0x20; c <= 0x7E; ++c)
        s += QLatin1Char(c);
    return s;
}

class TypingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            return;
        // Dead keys (the US International and AZERTY/German accents followed by SPACE) are completed by
        // the receiver's input method. Qt's own compose method does it like a desktop's; with
        // QT_IM_MODULE=none the accent vanishes and only the space arrives, so the method is fixed here.
        qputenv("QT_IM_MODULE", "compose");
        static int argc = 1;
        static char name[] = "typing_x11";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        util::ResourceBundle::setLocale(QStringLiteral("en"));
        edit_ = new QPlainTextEdit;
        edit_->resize(900, 200);
        edit_->show();
    }
    static void TearDownTestSuite() {
        if (!app_)
            return;
        setLayout("us");
        delete edit_;
        edit_ = nullptr;
    }

    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "no X display (DISPLAY is not set)";
        try {
            platform::createKeyInjector({});
        } catch (const std::exception& e) {
            GTEST_SKIP() << e.what();
        }
    }

    static void setLayout(const char* layout) {
        const std::string cmd = std::string("setxkbmap ") + layout;
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        spin(300); // the receiver reloads its keymap
    }

    // Locks or unlocks Caps Lock the way the key would.
    static void setCapsLock(bool on) {
        Display* dpy = XOpenDisplay(nullptr);
        ASSERT_NE(dpy, nullptr);
        XkbLockModifiers(dpy, XkbUseCoreKbd, LockMask, on ? LockMask : 0);
        XSync(dpy, False);
        XCloseDisplay(dpy);
        spin(100);
    }

    // Types `text` as one value and returns what the field received.
    QString type(KT layout, MT type, const QString& text, int start = 0, int end = 0, int delay = 2,
                 bool capsLock = false) {
        edit_->clear();
        edit_->activateWindow();
        edit_->setFocus();
        spin(100);
        EXPECT_TRUE(edit_->hasFocus());
        problems_ = std::make_unique<Problems>();
        Keybot bot(delay, start, end, 0, 0, layout, type, problems_.get());
        // The X11 backend chooses shift levels with Caps Lock taken into account: no warning is due.
        // Caps Lock changes no character of the key maps; with ALL (characters beyond ASCII typed as
        // themselves) a receiver may capitalise some (µ), so then it is reported.
        EXPECT_EQ(bot.capsLockOn(), capsLock && layout == KT::ALL)
            << "Caps Lock " << (capsLock ? "on" : "off");
        bot.start();
        bot.add(text);
        QElapsedTimer t;
        t.start();
        while (!bot.waitUntilIdle(5) && t.elapsed() < 60000)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        spin(150);
        bot.stop();
        EXPECT_TRUE(problems_->lines().isEmpty()) << problems_->lines().join(u'\n').toStdString();
        return edit_->toPlainText();
    }

    static inline QApplication* app_ = nullptr;
    // `vornal-cli run` on the simulated scale SIM1, ENTER after each value, typing into the emptied,
    // focused edit field.
    void startRun(QProcess& p, const QTemporaryDir& dir, const QStringList& settings) {
        setLayout("us");
        edit_->clear();
        edit_->activateWindow();
        edit_->setFocus();
        spin(100);
        vornal::test::startCli(p, QStringList{"--store", dir.filePath("prefs.txt"), "--simulate", "run",
                                              "--port", "SIM1", "--set", "outputTerminator=ENTER"} +
                                      settings);
    }

    static inline QPlainTextEdit* edit_ = nullptr;
    std::unique_ptr<Problems> problems_;
};

} // namespace

TEST_F(TypingTest, EveryPrintableCharacterOnEachLayout) {
    struct Case {
        const char* xLayout;
        KT layout;
    };
    const Case cases[] = {{"us", KT::QUERTY}, {"us", KT::US_INTERNATIONAL},
                          {"fr", KT::AZERTY}, {"de", KT::GERMAN},
                          {"us", KT::ALL},    {"fr", KT::ALL},
                          {"de", KT::ALL}};
    for (const Case& c : cases) {
        setLayout(c.xLayout);
        for (int delay : {0, 1, 5})
            EXPECT_EQ(type(c.layout, MT::ALPHANUMERIC_COMPLETE, printableAscii(), 0, 0, delay).toStdString(),
                      printableAscii().toStdString())
                << c.layout.name().toStdString() << " on X layout " << c.xLayout << " at delay " << delay;
    }
}

TEST_F(TypingTest, CapsLockIsSeenAndDoesNotChangeTheText) {
    for (const char* xLayout : {"us", "de"}) {
        setLayout(xLayout);
        setCapsLock(true);
        const QString text = QStringLiteral("Abc XyZ 1+2 ~#@!");
        const KT layout = std::string(xLayout) == "de" ? KT::GERMAN : KT::QUERTY;
        EXPECT_EQ(type(layout, MT::ALPHANUMERIC_COMPLETE, text, 0, 0, 2, true).toStdString(),
                  text.toStdString())
            << xLayout;
        setCapsLock(false);
    }
    setLayout("us");
}

TEST_F(TypingTest, NumericValueWithStartKeyAndTerminator) {
    setLayout("de");
    // Start TAB, value, terminator ENTER: the text field shows them as a tab and a line break.
    EXPECT_EQ(type(KT::GERMAN, MT::NUMERIC, QStringLiteral("-12,345"), 9, 10).toStdString(), "\t-12,345\n");
    setLayout("fr");
    EXPECT_EQ(type(KT::AZERTY, MT::NUMERIC, QStringLiteral("+0.5"), 0, 44).toStdString(), "+0.5,");
    setLayout("us");
}

TEST_F(TypingTest, DeadKeyCharactersKeepTheirOrderAtDelayZero) {
    // Some receivers put an accent typed without any pause before the characters typed earlier.
    setLayout("us");
    const QString text = QStringLiteral("a'b\"c`d^e~f a'b\"c`d^e~f");
    for (int run = 0; run < 5; ++run)
        EXPECT_EQ(type(KT::US_INTERNATIONAL, MT::ALPHANUMERIC_COMPLETE, text, 0, 0, 0).toStdString(),
                  text.toStdString())
            << "run " << run;
    setLayout("fr");
    for (int run = 0; run < 3; ++run)
        EXPECT_EQ(type(KT::AZERTY, MT::ALPHANUMERIC_COMPLETE, text, 0, 0, 0).toStdString(),
                  text.toStdString())
            << "run " << run;
    setLayout("us");
}

TEST_F(TypingTest, PlainCharactersOfTheLayoutNeedNoDeadKeyAndNoRemap) {
    // French has ~ and ` as plain characters on AltGr+2 / AltGr+7: typed directly, without a dead key,
    // a SPACE or a borrowed keycode (each remap notifies every X client).
    setLayout("fr");
    Display* watcher = XOpenDisplay(nullptr);
    ASSERT_NE(watcher, nullptr);
    XSync(watcher, True);
    const QString text = QStringLiteral("~`#{[|\\^@]}~");
    EXPECT_EQ(type(KT::AZERTY, MT::ALPHANUMERIC_COMPLETE, text, 0, 0, 0).toStdString(), text.toStdString());
    int mappingChanges = 0;
    XSync(watcher, False);
    while (XPending(watcher) > 0) {
        XEvent e;
        XNextEvent(watcher, &e);
        mappingChanges += e.type == MappingNotify ? 1 : 0;
    }
    XCloseDisplay(watcher);
    EXPECT_EQ(mappingChanges, 0);
    setLayout("us");
}

TEST_F(TypingTest, AllTypesCharactersBeyondAsciiAlsoWithCapsLock) {
    // On de: ° µ € are on keys, é ñ Ω ± are not (lent keycodes), with Caps Lock off and on.
    const QString text = QString::fromUtf8("23,5 \xC2\xB0"
                                           "C 3 \xC2\xB5m \xC2\xB1"
                                           "0,1 12 \xE2\x82\xAC \xC3\xA9\xC3\x89 \xC3\xB1 \xCE\xA9");
    for (const char* xLayout : {"de", "us"}) {
        setLayout(xLayout);
        EXPECT_EQ(type(KT::ALL, MT::ALPHANUMERIC_COMPLETE, text, 0, 0, 1).toStdString(), text.toStdString())
            << xLayout;
        // With Caps Lock on the warning is due (µ would come out capitalised or not at all); the rest
        // is typed exactly.
        setCapsLock(true);
        QString withoutMu = text;
        withoutMu.remove(QChar(0xB5));
        EXPECT_EQ(type(KT::ALL, MT::ALPHANUMERIC_COMPLETE, withoutMu, 0, 0, 1, true).toStdString(),
                  withoutMu.toStdString())
            << xLayout << " with Caps Lock";
        setCapsLock(false);
    }
    setLayout("us");
}
using vornal::test::startCli;

TEST_F(TypingTest, CommandLineTypesIntoTheFocusedWindowAndReturnsWhenDone) {
    setLayout("de");
    edit_->clear();
    edit_->activateWindow();
    edit_->setFocus();
    spin(100);
    QTemporaryDir dir;
    QProcess p;
    startCli(p, {"--store", dir.filePath("prefs.txt"), "type", "--layout", "GERMAN", "--delay", "1", "--",
                 "Zug #7: 3 Stk. @ 1,50 = 4,50 (y/z)"});
    ASSERT_EQ(p.state(), QProcess::Running);
    QElapsedTimer t;
    t.start();
    while (p.state() != QProcess::NotRunning && t.elapsed() < 30000)
        spin(10);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    spin(100);
    EXPECT_EQ(edit_->toPlainText().toStdString(), "Zug #7: 3 Stk. @ 1,50 = 4,50 (y/z)");

    // Characters the chosen key map lacks are named on standard error; the rest is typed.
    edit_->clear();
    startCli(p, {"--store", dir.filePath("prefs.txt"), "type", "--layout", "GERMAN", "--keymap", "NUMERIC",
                 "--delay", "1", "x-1.5"});
    ASSERT_EQ(p.state(), QProcess::Running);
    while (p.state() != QProcess::NotRunning && t.elapsed() < 60000)
        spin(10);
    spin(100);
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(QString::fromUtf8(p.readAllStandardError()).contains(QStringLiteral(": x")));
    EXPECT_EQ(edit_->toPlainText().toStdString(), "-1.5");
    setLayout("us");
}

TEST_F(TypingTest, CommandLineRunTypesTheValuesOfTheInstrument) {
    QTemporaryDir dir;
    QProcess p;
    startRun(p, dir, {"--set", "startWith=SPACE", "--set", "delay=1", "--verbose"});
    ASSERT_EQ(p.state(), QProcess::Running);
    QElapsedTimer t;
    t.start();
    while (edit_->toPlainText().count(u'\n') < 2 && t.elapsed() < 20000)
        spin(10);
    p.terminate();
    while (p.state() != QProcess::NotRunning && t.elapsed() < 30000)
        spin(10);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), 0) << err.toStdString();
    const QStringList lines = edit_->toPlainText().split(u'\n');
    ASSERT_GE(lines.size(), 3) << edit_->toPlainText().toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral(" 12."))) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral(" 12."))) << lines[1].toStdString();
    // --verbose: each value is logged once it has been typed whole.
    EXPECT_TRUE(err.contains(QStringLiteral("typed ") + lines[0].trimmed() + QStringLiteral(" (")))
        << err.toStdString();
}

TEST(TypingCli, OnlyXWaylandInAWaylandSessionIsAWarning) {
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "no X display (DISPLAY is not set)";
    // A Wayland compositor that cannot be reached for a virtual keyboard and no desktop portal: keys go
    // through the X server only, and the user is told that native Wayland windows get none.
    QTemporaryDir dir;
    QProcessEnvironment env = vornal::test::cliEnvironment();
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("no-such-display"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               QStringLiteral("unix:path=") + dir.filePath("no-bus"));
    const vornal::test::CliResult r =
        vornal::test::runCli({"--store", dir.filePath("prefs.txt"), "type", "--", ""}, {}, 20000, env);
    const QString& err = r.err;
    EXPECT_EQ(r.exitCode, 0) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("typing through X11 (XTest)"))) << err.toStdString();
    EXPECT_TRUE(
        err.contains(QStringLiteral("warning: this is a Wayland session and keys go through XWayland")))
        << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("not typing through desktop portal: no D-Bus session bus")))
        << err.toStdString();
}

TEST(TypingCli, WrongArgumentsAndNoDisplayAreExplained) {
    QTemporaryDir dir;
    auto run = [&](const QStringList& args, const QByteArray& display) {
        QProcessEnvironment env = vornal::test::cliEnvironment();
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        if (display.isEmpty())
            env.remove(QStringLiteral("DISPLAY"));
        const vornal::test::CliResult r = vornal::test::runCli(
            QStringList{"--store", dir.filePath("prefs.txt"), "type"} + args, {}, 20000, env);
        return std::make_pair(r.exitCode, r.err);
    };
    auto [code, err] = run({"--layout", "DVORAK", "x"}, "");
    EXPECT_EQ(code, 2);
    EXPECT_TRUE(err.contains("QUERTY US_INTERNATIONAL AZERTY GERMAN ALL")) << err.toStdString();
    std::tie(code, err) = run({"--keymap", "numeric", "x"}, "");
    EXPECT_EQ(code, 2);
    EXPECT_TRUE(err.contains("ALPHANUMERIC_COMPLETE")) << err.toStdString();
    std::tie(code, err) = run({"--delay", "-5", "x"}, "");
    EXPECT_EQ(code, 2);
    std::tie(code, err) = run({}, "");
    EXPECT_EQ(code, 2);
    std::tie(code, err) = run({"x"}, "");
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(err.contains("DISPLAY is not set")) << err.toStdString();
}
