// Start on a network port whose device server does not answer: the window keeps working while it
// connects, Stop ends the attempt at once, closing the window during it neither waits nor crashes, and
// a failure is shown as at any start.
#include "GuiTestMain.h"

#include "support/LoopbackServer.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <cstdlib>

namespace vornal::test {
namespace {

class NetworkStartTest : public WindowFixture {
protected:
    // Types the port name into the port box, as a user does.
    void choosePort(VororaZeZovFrame2& w, const std::string& name) {
        auto* ports = qobject_cast<QComboBox*>(w.control(QStringLiteral("portList")));
        ports->lineEdit()->setText(QString::fromStdString(name));
        QTest::keyClick(ports->lineEdit(), Qt::Key_Return);
        ASSERT_EQ(w.config().getPort(), QString::fromStdString(name));
    }
    static bool connectingShown(VororaZeZovFrame2& w) {
        return w.statusLabel()->text().startsWith(QStringLiteral("Connecting to ")) &&
               w.startStopButton()->text() == QStringLiteral("Sto&p");
    }
    template <class F> static qint64 timed(F&& f) {
        QElapsedTimer t;
        t.start();
        f();
        return t.elapsed();
    }
};

TEST_F(NetworkStartTest, TheWindowWorksWhileConnectingAndStopEndsTheAttemptAtOnce) {
    SilentServer server; // accepts, never answers the RFC 2217 negotiation
    auto& w = open();
    choosePort(w, server.name("rfc2217"));
    const int fdsBefore = openDescriptors();
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(50);

    EXPECT_LT(timed([&] { w.startStopJButtonActionPerformed(); }), 500);
    EXPECT_TRUE(connectingShown(w)) << w.statusLabel()->text().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.accepted() == 1; }, 5000));
    QTest::qWait(1000);
    EXPECT_GE(ticks, 10) << "the window stood still while connecting";
    EXPECT_TRUE(connectingShown(w));
    EXPECT_FALSE(w.isConnected());
    // The settings tabs take no changes meanwhile: the attempt uses those of the Start.
    EXPECT_FALSE(w.panel(VororaZeZovFrame2::InputTab)->isEnabled());

    EXPECT_LT(timed([&] { w.startStopJButtonActionPerformed(); }), 500);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return w.startStopButton()->text() == QStringLiteral("S&tart"); }, 1000));
    EXPECT_EQ(w.statusLabel()->text(), tr("VororaZeZovFrame2.statusJLabel.text"));
    EXPECT_TRUE(w.panel(VororaZeZovFrame2::InputTab)->isEnabled());
    EXPECT_EQ(w.tabs()->count(), 7);
    // The attempt's socket is closed now, not when the negotiation would have timed out (3 s).
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.closedByPeer() == 1; }, 1000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return openDescriptors() <= fdsBefore + 1; }, 1000))
        << openDescriptors() << " descriptors, " << fdsBefore << " before (and the server's connection)";
    // Nothing of it comes later: no error, no connection.
    QTest::qWait(500);
    for (const auto& d : dialogs())
        EXPECT_NE(d.title, tr("error.opening.port")) << d.text.toStdString();
    EXPECT_FALSE(w.isConnected());
    EXPECT_TRUE(
        logText().contains(QStringLiteral("connecting to ") + QString::fromStdString(server.name("rfc2217"))))
        << logText().toStdString();
}

TEST_F(NetworkStartTest, AFailedConnectIsShownAsAtAnyStartAndLeavesTheWindowIdle) {
    UnansweredPort port;
    ::setenv("VAZ_NET_CONNECT_TIMEOUT_MS", "1000", 1);
    auto& w = open();
    choosePort(w, port.name());
    dialogs();
    w.startStopJButtonActionPerformed();
    EXPECT_TRUE(connectingShown(w));
    QList<MessageBoxes::Record> shown;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            shown += dialogs();
            return std::any_of(shown.begin(), shown.end(), [](const MessageBoxes::Record& r) {
                return r.title == tr("error.opening.port");
            });
        },
        5000));
    ::unsetenv("VAZ_NET_CONNECT_TIMEOUT_MS");
    const auto failure = std::find_if(shown.begin(), shown.end(), [](const MessageBoxes::Record& r) {
        return r.title == tr("error.opening.port");
    });
    EXPECT_TRUE(failure->text.contains(
        QStringLiteral("no answer from 127.0.0.1 port %1 within 1 s").arg(port.port())))
        << failure->text.toStdString();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return w.startStopButton()->text() == QStringLiteral("S&tart"); }, 1000));
    EXPECT_FALSE(w.isConnected());
    EXPECT_EQ(w.tabs()->count(), 7);
    EXPECT_TRUE(w.panel(VororaZeZovFrame2::InputTab)->isEnabled());
    EXPECT_FALSE(logText().contains(tr("keyboard.output.started.type")));
}

TEST_F(NetworkStartTest, ClosingTheWindowWhileConnectingNeitherWaitsNorLeavesAnythingOpen) {
    const int fdsBefore = openDescriptors();
    {
        UnansweredPort port; // the connect time-out of 5 s
        auto& w = open();
        choosePort(w, port.name("rfc2217"));
        w.startStopJButtonActionPerformed();
        EXPECT_TRUE(connectingShown(w));
        QTest::qWait(300);
        EXPECT_LT(timed([&] {
                      closeWindow();
                      window_.reset();
                  }),
                  1000);
        QTest::qWait(200);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return openDescriptors() <= fdsBefore; }, 1000))
        << openDescriptors() << " descriptors, " << fdsBefore << " before";
}

} // namespace
} // namespace vornal::test
