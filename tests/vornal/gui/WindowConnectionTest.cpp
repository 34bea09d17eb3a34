// Starting and stopping connections from the window on the simulated scale, auto-start, per-line dispatch.
#include "GuiTestMain.h"

#include "EventLog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vornal::test {
namespace {

using config::ConfigHelper;

class WindowConnectionTest : public WindowFixture {
protected:
    void start(VororaZeZovFrame2& w) {
        w.startStopJButtonActionPerformed();
        ASSERT_TRUE(QTest::qWaitFor([&] { return w.isConnected() && w.tabs()->count() == 3; }, 5000));
    }
    void stop(VororaZeZovFrame2& w) {
        w.startStopJButtonActionPerformed();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !w.isConnected() && w.tabs()->count() == 7; }, 5000));
    }
    // Lines of the log from the first that contains `from`.
    QStringList logFrom(const QString& from) {
        QStringList lines = logText().split(u'\n');
        while (!lines.isEmpty() && !lines.first().contains(from))
            lines.removeFirst();
        return lines;
    }
};

TEST_F(WindowConnectionTest, SettingsTabsGoWhileConnectedAndComeBackAfter) {
    auto& w = open();
    w.tabs()->setCurrentWidget(w.panel(VororaZeZovFrame2::StartTab));
    start(w);
    EXPECT_EQ(w.tabs()->widget(0), w.panel(VororaZeZovFrame2::StartTab));
    EXPECT_EQ(w.tabs()->widget(1), w.panel(VororaZeZovFrame2::EventLogTab));
    EXPECT_EQ(w.tabs()->widget(2), w.panel(VororaZeZovFrame2::AboutTab));
    EXPECT_EQ(w.startStopButton()->text(), QStringLiteral("Sto&p"));
    // Lines arrive, are shown and counted.
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.statusLabel()->text().startsWith(tr("line.count")); }, 5000));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return logText().contains(QStringLiteral("ST,GS,+  12.345 kg<13>")); }, 5000))
        << logText().toStdString();

    stop(w);
    for (int pos = 0; pos < 7; ++pos)
        EXPECT_EQ(w.tabs()->widget(pos), w.panel(static_cast<VororaZeZovFrame2::TabPos>(pos)));
    EXPECT_EQ(w.tabs()->tabText(1), QStringLiteral("&Input"));
    EXPECT_EQ(w.tabs()->tabText(4), QStringLiteral("Settin&gs"));
    EXPECT_EQ(w.startStopButton()->text(), QStringLiteral("S&tart"));
    EXPECT_EQ(w.statusLabel()->text(), tr("VororaZeZovFrame2.statusJLabel.text"));
    // Without a display the keystroke output cannot start: said once, and the connection ran anyway.
    const auto shown = dialogs();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].text.startsWith(tr("error.initializing.keyboard.output")));
    // A second connection after the first.
    start(w);
    stop(w);
}

TEST_F(WindowConnectionTest, ANetworkPortTypedIntoThePortBoxIsConnectedAndKeptInTheList) {
    // The instrument: a TCP server of this test on the loopback interface.
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(server, 2), 0);
    ::getsockname(server, reinterpret_cast<sockaddr*>(&a), &len);
    const QString name = QStringLiteral("tcp://127.0.0.1:%1").arg(ntohs(a.sin_port));

    auto& w = open();
    auto* ports = qobject_cast<QComboBox*>(w.control(QStringLiteral("portList")));
    ASSERT_TRUE(ports->isEditable());
    // A broken name is refused with the spelling; the port stays.
    const QString before = w.config().getPort();
    ports->lineEdit()->setText(QStringLiteral("tcp://127.0.0.1"));
    QTest::keyClick(ports->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(w.config().getPort(), before);
    EXPECT_TRUE(w.statusLabel()->text().contains(QStringLiteral("tcp://HOST:PORT")))
        << w.statusLabel()->text().toStdString();
    // Start with it says so and connects to nothing (not to the port chosen before).
    dialogs();
    w.startStopJButtonActionPerformed();
    const auto refused = dialogs();
    ASSERT_EQ(refused.size(), 1);
    EXPECT_TRUE(refused[0].text.contains(QStringLiteral("tcp://HOST:PORT"))) << refused[0].text.toStdString();
    EXPECT_FALSE(w.isConnected());
    EXPECT_EQ(w.tabs()->count(), 7);
    ports->lineEdit()->setText(name);
    QTest::keyClick(ports->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(w.config().getPort(), name);

    start(w);
    pollfd p{server, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    const int conn = ::accept(server, nullptr, nullptr);
    const char line[] = "ST,GS,+  12.345 kg\r";
    ASSERT_EQ(::send(conn, line, sizeof line - 1, MSG_NOSIGNAL), ssize_t(sizeof line - 1));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return logText().contains(QStringLiteral("ST,GS,+  12.345 kg<13>")); }, 5000))
        << logText().toStdString();
    stop(w);
    ::close(conn);
    ::close(server);
    // The port box keeps the network port, also in the next window.
    EXPECT_GE(ports->findData(name), 0);
    closeWindow();
    auto& again = open();
    auto* list = qobject_cast<QComboBox*>(again.control(QStringLiteral("portList")));
    EXPECT_GE(list->findData(name), 0);
    EXPECT_EQ(again.config().getPort(), name);
}

TEST_F(WindowConnectionTest, AChosenTypingWayThatIsNotAvailableStopsTheStartAndShowsTheChoice) {
    // No display here: "Type through: X11" cannot type, so the connection does not start (it would
    // read values and type none); the message names the way and why, and the choice is highlighted.
    auto& w = open();
    auto* box = w.findChild<QComboBox*>(QStringLiteral("keyBackendBox"));
    ASSERT_TRUE(box);
    box->setCurrentIndex(box->findData(QStringLiteral("x11")));
    w.tabs()->setCurrentWidget(w.panel(VororaZeZovFrame2::StartTab));
    w.startStopJButtonActionPerformed();
    QTest::qWait(300);
    EXPECT_FALSE(w.isConnected());
    EXPECT_EQ(w.tabs()->count(), 7) << "the settings tabs stay";
    const auto shown = dialogs();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].text.contains(QStringLiteral("typing through \"x11\" is not available: ")))
        << shown[0].text.toStdString();
    EXPECT_EQ(w.tabs()->currentWidget(), w.panel(VororaZeZovFrame2::OutputTab));
    EXPECT_TRUE(box->property("invalid").toBool());
    EXPECT_FALSE(box->styleSheet().isEmpty());
    // Another choice clears the mark; "auto" starts without typing, as before.
    box->setCurrentIndex(box->findData(QStringLiteral("auto")));
    EXPECT_FALSE(box->property("invalid").toBool());
    start(w);
    stop(w);
}

TEST_F(WindowConnectionTest, ALostConnectionStaysInTheStatusUntilTheUserActs) {
    auto& w = open();
    w.findChild<QCheckBox*>(QStringLiteral("reconnectCheckBox"))->setChecked(false);
    auto* ports = qobject_cast<QComboBox*>(w.control(QStringLiteral("portList")));
    ports->addItem(QStringLiteral("GONE"), QStringLiteral("GONE"));
    ports->setCurrentIndex(ports->count() - 1);
    w.startStopJButtonActionPerformed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.isConnected(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.isConnected() && w.tabs()->count() == 7; }, 5000));
    QTest::qWait(300);
    const QString status = w.statusLabel()->text();
    EXPECT_TRUE(status.contains(QStringLiteral("GONE")) && status.contains(QStringLiteral("was lost")))
        << status.toStdString();
    EXPECT_NE(status, tr("VororaZeZovFrame2.statusJLabel.text"));
    // The user acts: the next start clears it.
    w.findChild<QCheckBox*>(QStringLiteral("reconnectCheckBox"))->setChecked(true);
    w.startStopJButtonActionPerformed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.isConnected(); }, 5000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return !w.statusLabel()->text().contains(QStringLiteral("then press Start")); }, 2000));
    // With reconnecting on, the window stays connected and says it waits for the port, then reconnects.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return w.statusLabel()->text().contains(QStringLiteral("Waiting for the port")); }, 5000));
    EXPECT_TRUE(w.isConnected());
    EXPECT_EQ(w.tabs()->count(), 3);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return logText().contains(QStringLiteral("reconnected: GONE")); }, 5000))
        << logText().toStdString();
    // Stop, also while waiting, ends it.
    w.startStopJButtonActionPerformed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.isConnected() && w.tabs()->count() == 7; }, 5000));
    dialogs();
}

TEST_F(WindowConnectionTest, APortThatCannotBeOpenedLeavesTheWindowIdle) {
    auto& w = open();
    w.config().setPort(QStringLiteral("NOPE"));
    auto* ports = qobject_cast<QComboBox*>(w.control(QStringLiteral("portList")));
    ports->setCurrentIndex(1);
    dialogs();
    w.startStopJButtonActionPerformed();
    QCoreApplication::processEvents();
    const auto shown = dialogs();
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_EQ(shown.last().title, tr("error.opening.port"));
    EXPECT_TRUE(shown.last().text.contains(QStringLiteral("NOPE"))) << shown.last().text.toStdString();
    EXPECT_FALSE(w.isConnected());
    EXPECT_EQ(w.tabs()->count(), 7);
    EXPECT_EQ(w.startStopButton()->text(), QStringLiteral("S&tart"));
    EXPECT_FALSE(logText().contains(tr("keyboard.output.started.type")));
    // The window is usable: the next start on a real port connects.
    ports->setCurrentIndex(0);
    emit ports->activated(0);
    start(w);
    stop(w);
}

TEST_F(WindowConnectionTest, TheStartLogsTwoLinesOrThreeWithACustomExpression) {
    auto& w = open();
    const QString device =
        tr("VororaZeZovFrame2.deviceLabel.text") + u' ' + ConfigHelper::Instrument::GENERIC.toPlainString();
    start(w);
    QStringList lines = logFrom(device);
    ASSERT_GE(lines.size(), 2) << logText().toStdString();
    EXPECT_TRUE(lines[1].contains(tr("keyboard.output.started.type"))) << lines[1].toStdString();
    EXPECT_FALSE(logText().contains(QStringLiteral("Custom regEx")));
    stop(w);

    w.eventLog()->clear();
    w.config().setCustomRegEx(QStringLiteral("GS,\\s*([-+]?\\s*[0-9.]+)"));
    start(w);
    lines = logFrom(device);
    ASSERT_GE(lines.size(), 3) << logText().toStdString();
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("Custom regEx: GS,\\s*([-+]?\\s*[0-9.]+)")));
    EXPECT_TRUE(lines[2].contains(tr("keyboard.output.started.type")));
    stop(w);
}

TEST_F(WindowConnectionTest, DuplicatesAreShownIgnoredAndCountedInTheStatus) {
    auto& w = open();
    w.config().ignoreDuplicates = true;
    qobject_cast<QAbstractButton*>(w.control(QStringLiteral("ignoreDuplicatesCheckBox")))->setChecked(true);
    start(w);
    // The simulated weight never changes: the first value is typed, the rest are repeats.
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.statusLabel()->text() == tr("line.count") + u'3'; }, 5000))
        << w.statusLabel()->text().toStdString();
    stop(w);
    const EventLog* log = w.eventLog();
    int typed = 0, ignoredWhole = 0;
    for (int i = 0; i < log->lineCount(); ++i) {
        if (!log->lineText(i).contains(QStringLiteral("ST,GS")))
            continue;
        bool hasTyped = false;
        for (const EventLog::Piece& piece : log->pieces(i))
            if (log->style(piece.style).foreground() == log->style(QStringLiteral("typed")).foreground())
                hasTyped = true;
        hasTyped ? ++typed : ++ignoredWhole;
    }
    EXPECT_EQ(typed, 1);
    EXPECT_GE(ignoredWhole, 2);
}

TEST_F(WindowConnectionTest, TheRequestButtonAsksTheInstrumentAndUnstableLinesShowAsUnknown) {
    auto& w = open();
    auto* request = w.findChild<QPushButton*>(QStringLiteral("requestButton"));
    ASSERT_TRUE(request);
    // Choosing the preset brings its request command and enables the stability options.
    qobject_cast<QComboBox*>(w.control(QStringLiteral("instrumentBox")))
        ->setCurrentIndex(ConfigHelper::Instrument::AND.ordinal());
    auto* stable = w.findChild<QAbstractButton*>(QStringLiteral("typeOnlyStableCheckBox"));
    ASSERT_TRUE(stable && stable->isEnabled());
    stable->setChecked(true);
    EXPECT_FALSE(request->isEnabled());
    start(w);
    ASSERT_TRUE(QTest::qWaitFor([&] { return request->isEnabled(); }, 5000));
    QTest::mouseClick(request, Qt::LeftButton);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return logText().contains(QStringLiteral("ST,+00001.25 kg<13>")); }, 5000))
        << logText().toStdString();
    EXPECT_TRUE(logText().contains(QStringLiteral("request sent: S<13><10>")));
    stop(w);
    EXPECT_FALSE(request->isEnabled());
    EXPECT_EQ(w.config().getRequestCommand(), QStringLiteral("S<13><10>"));
    EXPECT_TRUE(w.config().getTypeOnlyStable());
    // The unstable line is shown whole in the unknown style, the stable one with its value typed.
    const EventLog* log = w.eventLog();
    bool unstableUnknown = false, stableTyped = false;
    for (int i = 0; i < log->lineCount(); ++i) {
        const QString text = log->lineText(i);
        for (const EventLog::Piece& piece : log->pieces(i)) {
            const QTextCharFormat f = log->style(piece.style);
            if (text.contains(QStringLiteral("US,+00001.20")) && f.fontItalic())
                unstableUnknown = true;
            if (text.contains(QStringLiteral("ST,+00001.25")) && piece.text == QStringLiteral("1.25") &&
                f.foreground() == log->style(QStringLiteral("typed")).foreground())
                stableTyped = true;
        }
    }
    EXPECT_TRUE(unstableUnknown) << logText().toStdString();
    EXPECT_TRUE(stableTyped) << logText().toStdString();
}

TEST_F(WindowConnectionTest, AutoStartIsRefusedWhenThePreviousPortIsGone) {
    {
        // A previous run used the port GONE and connected automatically.
        auto& first = open({}, false, {QStringLiteral("GONE")});
        qobject_cast<QAbstractButton*>(first.control(QStringLiteral("autoConnectButton")))->click();
        qobject_cast<QAbstractButton*>(first.control(QStringLiteral("abortAutoStartCheckBox")))
            ->setChecked(true);
        closeWindow();
        window_.reset();
        VororaZeZovFrame2::setClosing(false);
        dialogs();
    }
    auto& w = open({}, true);
    const auto shown = dialogs();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].title, tr("error"));
    EXPECT_TRUE(shown[0].text.contains(QStringLiteral("GONE")));
    EXPECT_FALSE(shown[0].text.contains(QStringLiteral("{0}")));
    EXPECT_FALSE(w.isConnected());
    EXPECT_EQ(w.config().getPort(), QStringLiteral("SIM1"));
    window_.reset();

    // A port named on the command line starts regardless.
    auto& again = open({QStringLiteral("SIM1")}, true);
    EXPECT_EQ(again.getPortList(), QStringList{QStringLiteral("SIM1")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return again.isConnected(); }, 5000));
    stop(again);
}

TEST_F(WindowConnectionTest, AnEmptyFirstArgumentIsNoPort) {
    auto& w = open({QString()});
    EXPECT_EQ(w.getPortList(), simulatedPorts());
}

} // namespace
} // namespace vornal::test
