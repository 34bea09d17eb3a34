// The window program end to end on a real X server: started with --simulate on a scale, it connects
// at once (automatic connection), and every weight arrives as typed characters in a text field of
// this test. A second test runs the window in this process to check its event log and to take the
// screenshot of the documentation (VORNAL_SCREENSHOT=FILE).
#include "ConnectionPresenter.h"
#include "EventLog.h"
#include "MessageBoxes.h"
#include "VororaZeZov.h"
#include "VororaZeZovFrame2.h"

#include "vornal/config/Config.h"
#include "vornal/config/Profiles.h"
#include "vornal/prefs/PreferencesStore.h"

#include "support/Cli.h"
#include "support/Ser2net.h"
#include "support/StationForm.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <utility>

namespace vornal::test {
namespace {

using config::ConfigHelper;

// A scale that sends its weight every 250 ms, lines ending with CR.
const char* const kScript = R"(port SIM1
description "End-to-end scale"
value w 12.345
every 250ms send "ST,GS,{w:+9} kg\r"

# A second instrument of a station: a balance sending faster
port SIM2
description "End-to-end balance"
value g 45.678
every 90ms send "ST,GS,{g:+9} g\r"
)";

struct Cleanup : ::testing::Environment {
    void TearDown() override { delete qApp; }
};

// Created by the first test that runs, deleted after the last one, before the toolkit's own statics go
// away at exit.
void app() {
    if (qApp)
        return;
    static int argc = 1;
    static char arg0[] = "gui_x11";
    static char* argv[] = {arg0, nullptr};
    new QApplication(argc, argv);
    ::testing::AddGlobalTestEnvironment(new Cleanup);
}

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "no X display (DISPLAY is not set)";
        app();
        ASSERT_TRUE(dir_.isValid());
        script_ = dir_.filePath(QStringLiteral("scale.vsim"));
        QFile f(script_);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        // The simulator reads its script once per process: the station's scanner and balance (ports
        // SCANNER and BALANCE, sending from their open) are in it for every test.
        f.write(kScript);
        f.write("\n");
        f.write(QByteArray::fromStdString(test::stationScript(test::stationPairs())));
    }

    // Settings of a previous run: port SIM1, connect at start, 5 ms between keys, ENTER after each value.
    void writeSettings(bool autoConnect,
                       ConfigHelper::OutputTerminator terminator = ConfigHelper::OutputTerminator::ENTER,
                       const char* delay = "5", const QString& port = QStringLiteral("SIM1")) {
        prefs::PreferencesStore::select(store());
        auto node =
            prefs::PreferencesStore::userRoot()->node(QString::fromLatin1(config::Config::SETTINGS_NODE));
        config::Config c;
        c.setPort(port);
        c.setInstrument(ConfigHelper::Instrument::GENERIC);
        c.setBitRate(ConfigHelper::BitRates::BR_9600.ordinal());
        c.setDataBits(ConfigHelper::DataBits::LN_8BITS.ordinal());
        c.setInputTerminator(13);
        c.setDelay(QString::fromLatin1(delay));
        c.setOutputTerminator(terminator);
        c.setDecimalSeparator(ConfigHelper::DecimalSeparator::DOT);
        c.setConnect(autoConnect ? ConfigHelper::Connect::AUTO : ConfigHelper::Connect::MANUAL);
        c.minimizeToTray = false;
        c.checkForUpdates = false;
        ASSERT_TRUE(c.saveConfig(*node).isEmpty());
    }

    QString store() const { return dir_.filePath(QStringLiteral("prefs.txt")); }

    // The window (in this process, top left) and a receiving edit field (bottom right), both on screen;
    // none when one cannot be shown.
    std::pair<std::unique_ptr<VororaZeZovFrame2>, std::unique_ptr<QPlainTextEdit>> windowAndReceiver() {
        VororaZeZovFrame2::Options o;
        o.storeFile = store();
        auto window = std::make_unique<VororaZeZovFrame2>(o);
        auto receiver = std::make_unique<QPlainTextEdit>();
        window->move(0, 0);
        receiver->resize(300, 200);
        receiver->move(800, 500);
        receiver->show();
        if (window->fatalExitCode() != 0 || !QTest::qWaitForWindowExposed(window.get()) ||
            !QTest::qWaitForWindowExposed(receiver.get()))
            return {};
        return {std::move(window), std::move(receiver)};
    }

    // For a window in this process: the simulated scale, English, manual start, dialogs recorded.
    void inProcess(ConfigHelper::OutputTerminator terminator, const char* delay = "5") {
        qputenv("VAZ_DRIVER_DIR", QByteArray(VORNAL_LIB_DIR) + "/drivers/sim");
        qputenv("VAZ_SIM_SCRIPT", script_.toLocal8Bit());
        util::ResourceBundle::setLocale(QStringLiteral("en"));
        VororaZeZov::setDefaultProperties();
        writeSettings(false, terminator, delay);
        MessageBoxes::setRecording(true);
    }

    // Keeps the receiver focused until `done` holds or the time is up.
    bool receive(QPlainTextEdit& receiver, const std::function<bool()>& done, int ms) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            if (!receiver.isActiveWindow()) {
                receiver.raise();
                receiver.activateWindow();
            }
            receiver.setFocus();
            QTest::qWait(50);
            if (done())
                return true;
        }
        return false;
    }

    static int valuesIn(const QString& text) { return text.count(QStringLiteral("12.345\n")); }

    QTemporaryDir dir_;
    QString script_;
};

TEST_F(EndToEndTest, TheProgramTypesTheScalesValuesIntoAnotherWindow) {
    writeSettings(true);
    QPlainTextEdit receiver;
    receiver.setWindowTitle(QStringLiteral("receiver"));
    receiver.resize(300, 200);
    receiver.move(700, 500);
    receiver.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&receiver));

    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(VORNAL_BIN_DIR "/vornal"),
                  {QStringLiteral("--store"), store(), QStringLiteral("--simulate"), script_});
    ASSERT_TRUE(program.waitForStarted(10000));

    const bool typed = receive(
        receiver, [&] { return valuesIn(receiver.toPlainText()) >= 3; }, 30000);
    // Ending the session closes the window the normal way: settings saved, status 0.
    program.terminate();
    const bool ended = program.waitForFinished(10000);
    if (!ended)
        program.kill();
    ASSERT_TRUE(typed) << "received: " << receiver.toPlainText().toStdString();
    EXPECT_TRUE(ended);
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    // Only whole values, each followed by ENTER.
    for (const QString& line : receiver.toPlainText().split(u'\n', Qt::SkipEmptyParts))
        EXPECT_EQ(line, QStringLiteral("12.345"));
}

TEST_F(EndToEndTest, ValuesOfAnRfc2217DeviceServerAreTypedByTheWindowAndTheCommandLine) {
    // A scale on a pty behind ser2net, reached as rfc2217://127.0.0.1:PORT.
    Ser2net net;
    const QString why = net.start();
    if (!why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    writeSettings(true, ConfigHelper::OutputTerminator::ENTER, "5", net.rfc());
    QPlainTextEdit receiver;
    receiver.setWindowTitle(QStringLiteral("receiver"));
    receiver.resize(300, 200);
    receiver.move(700, 500);
    receiver.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&receiver));
    QTimer scale;
    QObject::connect(&scale, &QTimer::timeout, [&] { net.send("ST,GS,+  12.345 kg\r"); });
    scale.start(250);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
    env.remove(QStringLiteral("VAZ_DRIVER_DIR")); // the program's own driver, not the simulator
    env.remove(QStringLiteral("VAZ_SIM_SCRIPT"));

    // The window program, with the port name given as on its command line; it connects at once.
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(VORNAL_BIN_DIR "/vornal"), {QStringLiteral("--store"), store(), net.rfc()});
    ASSERT_TRUE(program.waitForStarted(10000));
    const bool typed = receive(
        receiver, [&] { return valuesIn(receiver.toPlainText()) >= 3; }, 30000);
    program.terminate();
    if (!program.waitForFinished(10000))
        program.kill();
    ASSERT_TRUE(typed) << "received: " << receiver.toPlainText().toStdString();
    EXPECT_EQ(program.exitCode(), 0);
    for (const QString& line : receiver.toPlainText().split(u'\n', Qt::SkipEmptyParts))
        EXPECT_EQ(line, QStringLiteral("12.345"));

    // vornal-cli run, typing.
    receiver.clear();
    QProcess cli;
    startCli(cli, {"--store", store(), "run", "--port", net.rfc(), "--set", "outputTerminator=ENTER"}, env);
    const bool cliTyped = receive(
        receiver, [&] { return valuesIn(receiver.toPlainText()) >= 3; }, 30000);
    cli.terminate();
    if (!cli.waitForFinished(10000))
        cli.kill();
    ASSERT_TRUE(cliTyped) << "received: " << receiver.toPlainText().toStdString()
                          << QString::fromUtf8(cli.readAllStandardError()).toStdString();
    EXPECT_EQ(cli.exitCode(), 0);
    for (const QString& line : receiver.toPlainText().split(u'\n', Qt::SkipEmptyParts))
        EXPECT_EQ(line, QStringLiteral("12.345"));
}

TEST_F(EndToEndTest, TheWindowLogsWhatItTypes) {
    inProcess(ConfigHelper::OutputTerminator::ENTER);

    VororaZeZovFrame2::Options o;
    o.storeFile = store();
    VororaZeZovFrame2 window(o);
    ASSERT_EQ(window.fatalExitCode(), 0);
    window.resize(760, 460);
    window.move(0, 0);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.config().getPort(), QStringLiteral("SIM1"));

    QPlainTextEdit receiver;
    receiver.resize(300, 200);
    receiver.move(800, 500);
    receiver.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&receiver));

    window.startStopJButtonActionPerformed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isConnected(); }, 5000));
    const bool typed = receive(
        receiver, [&] { return valuesIn(receiver.toPlainText()) >= 3; }, 20000);
    EXPECT_TRUE(typed) << "received: " << receiver.toPlainText().toStdString();
    EXPECT_TRUE(MessageBoxes::takeRecords().isEmpty()); // keyboard output started, no Caps Lock

    // The log shows each line with the value in the "typed" style.
    int typedLines = 0;
    const QColor typedColour = window.eventLog()->style(QStringLiteral("typed")).foreground().color();
    const EventLog* log = window.eventLog();
    for (int i = 0; i < log->lineCount(); ++i) {
        for (const EventLog::Piece& piece : log->pieces(i))
            if (piece.text == QStringLiteral("12.345") &&
                log->style(piece.style).foreground().color() == typedColour)
                ++typedLines;
    }
    EXPECT_GE(typedLines, 3) << window.eventLog()->toPlainText().toStdString();
    EXPECT_TRUE(window.statusLabel()->text().startsWith(QStringLiteral("Lines received: ")));

    if (const QString shot = qEnvironmentVariable("VORNAL_SCREENSHOT"); !shot.isEmpty()) {
        window.tabs()->setCurrentWidget(window.panel(VororaZeZovFrame2::EventLogTab));
        QTest::qWait(300);
        EXPECT_TRUE(window.grab().save(shot));
    }

    window.startStopJButtonActionPerformed();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isConnected() && window.tabs()->count() == 7; }, 5000));
}

// A station of two instruments in the window: both type into one receiver, every value whole and
// followed by its own terminator, never mixed with the other's keys.
TEST_F(EndToEndTest, TwoInstrumentsOfTheWindowTypeWholeValuesIntoOneReceiver) {
    inProcess(ConfigHelper::OutputTerminator::ENTER, "2");
    VororaZeZovFrame2::Options o;
    o.storeFile = store();
    VororaZeZovFrame2 window(o);
    ASSERT_EQ(window.fatalExitCode(), 0);
    window.move(0, 0);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(window.addProfile(QStringLiteral("Balance")).isEmpty());
    ASSERT_EQ(window.selectedProfile(), 1);
    ASSERT_EQ(window.config().getPort(), QStringLiteral("SIM2"));
    // The balance's own terminator and separator, chosen on its Output tab.
    for (const auto& [name, value] :
         {std::pair{"outputTerminatorBox", "ENTER"}, std::pair{"decimalSeparatorBox", "DOT"}}) {
        auto* box = qobject_cast<QComboBox*>(window.control(QString::fromLatin1(name)));
        ASSERT_NE(box, nullptr) << name;
        box->setCurrentIndex(box->findData(QString::fromLatin1(value)));
    }
    QPlainTextEdit receiver;
    receiver.resize(300, 200);
    receiver.move(800, 500);
    receiver.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&receiver));

    window.startAll();
    const auto count = [&](const char* value) {
        return receiver.toPlainText().count(QString::fromLatin1(value));
    };
    const bool typed = receive(
        receiver, [&] { return count("12.345\n") >= 5 && count("45.678\n") >= 10; }, 30000);
    window.stopAll();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return !window.presenterOf(0)->isActive() && !window.presenterOf(1)->isActive(); }, 10000));
    ASSERT_TRUE(typed) << "received: " << receiver.toPlainText().toStdString();
    for (const QString& line : receiver.toPlainText().split(u'\n', Qt::SkipEmptyParts))
        EXPECT_TRUE(line == u"12.345" || line == u"45.678") << line.toStdString();
    MessageBoxes::takeRecords();
}

// A barcode reader (TAB after its value) and a balance (ENTER) of the window's station fill the rows of
// a form: each pair lands in its row, barcode in the first field, weight in the second
// (VORNAL_STATION_PAIRS pairs, 1,000 by default; about 85 s).
TEST_F(EndToEndTest, ABarcodeReaderAndABalanceOfTheWindowFillEachRowOfAForm) {
    const int n = test::stationPairs();
    inProcess(ConfigHelper::OutputTerminator::TAB, "0");
    {
        // The station as stored: the scanner first (the settings record), then the balance.
        auto root = prefs::PreferencesStore::userRoot();
        auto loaded = config::Profiles::load(*root, {QStringLiteral("SCANNER"), QStringLiteral("BALANCE")});
        ASSERT_EQ(loaded.profiles.size(), 1u);
        std::vector<config::Profile> station = loaded.profiles;
        station[0].name = QStringLiteral("Scanner");
        station[0].config.setPort(QStringLiteral("SCANNER"));
        station[0].config.setPrevPort(QStringLiteral("SCANNER"));
        station[0].config.setInstrument(ConfigHelper::Instrument::BARCODE);
        config::Profile balance{QStringLiteral("Balance"), config::Config::copyConfig(station[0].config)};
        balance.config.setPort(QStringLiteral("BALANCE"));
        balance.config.setPrevPort(QStringLiteral("BALANCE"));
        balance.config.setInstrument(ConfigHelper::Instrument::GENERIC);
        balance.config.setOutputTerminator(ConfigHelper::OutputTerminator::ENTER);
        station.push_back(std::move(balance));
        ASSERT_EQ(config::Profiles::save(*root, station), QString());
    }
    VororaZeZovFrame2::Options o;
    o.storeFile = store();
    VororaZeZovFrame2 window(o);
    ASSERT_EQ(window.fatalExitCode(), 0);
    ASSERT_EQ(window.profileCount(), 2);
    window.move(0, 0);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    test::StationForm form;
    form.resize(300, 120);
    form.move(800, 500);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.activateWindow();
    form.barcode->setFocus();
    QTest::qWait(200);

    window.startAll();
    QElapsedTimer t;
    t.start();
    bool all = false;
    while (!all && t.elapsed() < 30000 + 100 * n) {
        // The form keeps the focus (its own field order decides where a value goes).
        if (!form.isActiveWindow()) {
            form.raise();
            form.activateWindow();
        }
        QTest::qWait(50);
        all = static_cast<int>(form.rows.size()) >= n;
    }
    window.stopAll();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return !window.presenterOf(0)->isActive() && !window.presenterOf(1)->isActive(); }, 10000));
    ASSERT_TRUE(all) << form.rows.size() << " of " << n << " rows\n"
                     << window.eventLog()->toPlainText().toStdString();
    for (int i = 0; i < n; ++i) {
        ASSERT_EQ(form.rows[size_t(i)].first, QString::number(4006381000001LL + i)) << "row " << i;
        ASSERT_EQ(form.rows[size_t(i)].second, QString::number(10.0 + 0.001 * i, 'f', 3)) << "row " << i;
    }
    MessageBoxes::takeRecords();
}

// With SPACE as terminator and the window itself focused after Start, nothing is typed into it (SPACE
// would press its focused Start/Stop button): the values wait, the status says where to switch, and they
// arrive whole once the receiver has the focus.
TEST_F(EndToEndTest, NothingIsTypedIntoTheWindowItselfValuesWaitForTheTarget) {
    inProcess(ConfigHelper::OutputTerminator::SPACE);
    auto [windowPtr, receiverPtr] = windowAndReceiver();
    ASSERT_TRUE(windowPtr && receiverPtr);
    auto& window = *windowPtr;
    auto& receiver = *receiverPtr;

    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    window.startStopJButtonActionPerformed();
    window.startStopButton()->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isConnected(); }, 5000));
    // Four values arrive while the window keeps the focus.
    QTest::qWait(1200);
    EXPECT_TRUE(window.isConnected())
        << "typed into itself: " << window.eventLog()->toPlainText().toStdString();
    EXPECT_TRUE(window.statusLabel()->text().startsWith(
        QStringLiteral("Vornal has the focus: switch to the window that should receive the values.")))
        << window.statusLabel()->text().toStdString();
    EXPECT_EQ(
        window.eventLog()->toPlainText().count(QStringLiteral("The Vornal window has the keyboard focus")),
        1);
    EXPECT_EQ(receiver.toPlainText(), QString());

    const bool typed = receive(
        receiver, [&] { return receiver.toPlainText().count(QStringLiteral("12.345 ")) >= 6; }, 20000);
    EXPECT_TRUE(typed) << "received: " << receiver.toPlainText().toStdString();
    EXPECT_TRUE(window.statusLabel()->text().startsWith(QStringLiteral("Lines received: ")));
    // Whole values only, none lost or joined.
    for (const QString& v : receiver.toPlainText().split(u' ', Qt::SkipEmptyParts))
        EXPECT_EQ(v, QStringLiteral("12.345"));

    window.startStopJButtonActionPerformed();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isConnected() && window.tabs()->count() == 7; }, 5000));
}

// A delay too long for the scale's rate: the log says so once and the status shows it; Stop in the
// middle of a value (the receiver keeps the focus) finishes that value with its ENTER.
TEST_F(EndToEndTest, TypingBehindIsShownAndStopFinishesTheValueBeingTyped) {
    inProcess(ConfigHelper::OutputTerminator::ENTER, "150");
    auto [windowPtr, receiverPtr] = windowAndReceiver();
    ASSERT_TRUE(windowPtr && receiverPtr);
    auto& window = *windowPtr;
    auto& receiver = *receiverPtr;

    window.startStopJButtonActionPerformed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isConnected(); }, 5000));
    const QString behind = QStringLiteral("Typing falls behind");
    // "12.345" and ENTER take 2.1 s, a new value comes every 250 ms.
    ASSERT_TRUE(receive(
        receiver, [&] { return window.eventLog()->toPlainText().contains(behind); }, 15000))
        << window.eventLog()->toPlainText().toStdString();
    ASSERT_TRUE(receive(
        receiver,
        [&] {
            return window.statusLabel()->text().contains(
                QStringLiteral("Typing falls behind (see the event log)."));
        },
        2000))
        << window.statusLabel()->text().toStdString();
    // In the middle of a value.
    ASSERT_TRUE(receive(
        receiver,
        [&] { return receiver.toPlainText().size() > 0 && !receiver.toPlainText().endsWith(u'\n'); }, 10000));
    window.startStopJButtonActionPerformed();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isConnected(); }, 10000));
    QTest::qWait(300);
    const QString typed = receiver.toPlainText();
    EXPECT_TRUE(typed.endsWith(u'\n')) << typed.toStdString();
    for (const QString& line : typed.split(u'\n', Qt::SkipEmptyParts))
        EXPECT_EQ(line, QStringLiteral("12.345"));
    EXPECT_EQ(window.eventLog()->toPlainText().count(behind), 1);
    EXPECT_FALSE(window.eventLog()->toPlainText().contains(QStringLiteral("was being typed")));
    // The values still waiting are named in the window's log, as vornal-cli names them.
    EXPECT_TRUE(window.eventLog()->toPlainText().contains(
        QStringLiteral("value(s) not typed: the connection was stopped: 12.345")))
        << window.eventLog()->toPlainText().toStdString();
}

// Stop clicked in the window takes the focus: the value in progress cannot go on there (its keys would
// reach the window). Its rest is typed once the receiver has the focus again: the value arrives whole,
// with its ENTER, and nothing after it.
TEST_F(EndToEndTest, AValueCutByStopIsFinishedWhenItsWindowHasTheFocusAgain) {
    inProcess(ConfigHelper::OutputTerminator::ENTER, "150");
    auto [windowPtr, receiverPtr] = windowAndReceiver();
    ASSERT_TRUE(windowPtr && receiverPtr);
    auto& window = *windowPtr;
    auto& receiver = *receiverPtr;

    window.startStopJButtonActionPerformed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isConnected(); }, 5000));
    // In the middle of the first value.
    ASSERT_TRUE(receive(
        receiver,
        [&] { return receiver.toPlainText().size() >= 2 && !receiver.toPlainText().contains(u'\n'); },
        10000));
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    window.startStopJButtonActionPerformed();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isConnected(); }, 10000));
    QTest::qWait(500);
    const QString part = receiver.toPlainText();
    ASSERT_FALSE(part.contains(u'\n')) << "nothing typed while the window has the focus";
    EXPECT_TRUE(
        window.eventLog()->toPlainText().contains(QStringLiteral("The value being typed at Stop goes on")))
        << window.eventLog()->toPlainText().toStdString();
    // Back in the receiver: the rest, and only the rest.
    EXPECT_TRUE(receive(
        receiver, [&] { return receiver.toPlainText().contains(u'\n'); }, 10000));
    receive(
        receiver, [] { return false; }, 1000);
    EXPECT_EQ(receiver.toPlainText(), QStringLiteral("12.345\n"));
    EXPECT_TRUE(
        window.eventLog()->toPlainText().contains(QStringLiteral("12.345 was typed whole after the stop")))
        << window.eventLog()->toPlainText().toStdString();
}

} // namespace
} // namespace vornal::test
