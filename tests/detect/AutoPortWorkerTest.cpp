// Port auto-detection end to end through the serial library and simulated instruments with the usual
// handshake behaviours.
#include "vornal/worker/AutoPortWorker.h"
#include "../support/WaitFor.h"
#include "../worker/SimEnvironment.h"

#include <Direduva/SerialConfig.h>
#include <Direduva/SerialPortLocal.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

using namespace vornal;
using worker::AutoPortWorker;
using worker::AutoPortWorkerView;

namespace {

using test::waitFor;

const char* const script = R"(
port NONE
modem none
port DSRONLY
modem dsr=high cts=low
port CTSONLY
modem dsr=low cts=rts
port FOLLOW
modem dsr=dtr cts=rts
port FOLLOW2
modem dsr=dtr cts=rts
port HIGH
modem high
port COM3
modem high
port BUSY
in-use
port GONE
modem dsr=dtr cts=rts
unplug after 200ms
)";

const auto* const env = ::testing::AddGlobalTestEnvironment(new test::SimEnvironment(script, true));

class RecordingView : public AutoPortWorkerView {
public:
    void setButtonToCancel() override { add(QStringLiteral("button: Cancel")); }
    void setButtonToClose() override { add(QStringLiteral("button: Close")); }
    void setPort(const QString& port) override { add(QStringLiteral("port: ") + port); }
    void update(const QString& text, Style style) override {
        add((style == Style::Emphasis ? QStringLiteral("bold: ") : QStringLiteral("text: ")) + text);
    }
    void add(const QString& s) {
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread()) << s.toStdString();
        log += s;
    }
    QStringList scores() const {
        QStringList s;
        for (const QString& l : log)
            if (l.startsWith(QStringLiteral("text: ") + AutoPortWorker::text("confidence")))
                s += l.section(u' ', -1);
        return s;
    }
    QStringList log;
};

// Runs a detection over `ports` to its end.
void detect(RecordingView& view, const QStringList& ports, AutoPortWorker::Outcome expected) {
    AutoPortWorker w(&view, ports);
    w.execute();
    ASSERT_TRUE(waitFor([&] { return w.isDone(); }));
    EXPECT_EQ(w.outcome(), expected);
}

QString t(const char* key) {
    return AutoPortWorker::text(key);
}

// A port whose lines answer like a scripted device, for the probe alone.
struct FakePort {
    bool dsrHigh = false, dsrFollowsDtr = false, ctsFollowsRts = false, ctsHigh = false;
    bool dtr = true, rts = true;
    void setDTR(bool on) { dtr = on; }
    void setRTS(bool on) { rts = on; }
    bool sigDSR() const { return dsrHigh || (dsrFollowsDtr && dtr); }
    bool sigCTS() const { return ctsHigh || (ctsFollowsRts && rts); }
};

} // namespace

TEST(AutoPortProbe, ScoresFollowTheHandshakeAndLeaveTheLinesOff) {
    struct Case {
        FakePort port;
        const char* name;
        int score;
    };
    const std::vector<Case> cases = {
        {{}, "NC", 0},
        {{.dsrHigh = true, .ctsHigh = true}, "COM1", 3},
        {{.dsrHigh = true, .ctsHigh = true}, "COM3", 1},
        {{.dsrHigh = true, .ctsHigh = true}, "com3", 3},
        {{.dsrHigh = true, .ctsFollowsRts = true}, "COM1", 3},
        {{.dsrHigh = true}, "COM1", 1},
        {{.dsrFollowsDtr = true, .ctsFollowsRts = true}, "COM3", 2},
        {{.dsrFollowsDtr = true}, "COM1", 1},
        {{.ctsFollowsRts = true}, "COM1", 1},
        {{.ctsHigh = true}, "COM1", 1},
    };
    for (auto c : cases) {
        int pauses = 0;
        EXPECT_EQ(AutoPortWorker::probe(c.port, QString::fromLatin1(c.name),
                                        [&] {
                                            ++pauses;
                                            return true;
                                        }),
                  c.score)
            << c.name << " dsrHigh=" << c.port.dsrHigh << " follows=" << c.port.dsrFollowsDtr;
        EXPECT_FALSE(c.port.dtr || c.port.rts) << "the probe ends with DTR and RTS off";
        EXPECT_GE(pauses, 2);
    }
    FakePort p{.dsrFollowsDtr = true, .ctsFollowsRts = true};
    int pauses = 0;
    AutoPortWorker::probe(p, QStringLiteral("X"), [&] { return ++pauses < 2; });
    EXPECT_EQ(pauses, 2) << "a cancelled pause stops the probe";
}

TEST(AutoPortWorker, ScoresEveryPortAndProposesTheBestInBold) {
    RecordingView view;
    detect(view,
           {QStringLiteral("NONE"), QStringLiteral("DSRONLY"), QStringLiteral("CTSONLY"),
            QStringLiteral("FOLLOW"), QStringLiteral("HIGH"), QStringLiteral("COM3")},
           AutoPortWorker::Outcome::Found);
    EXPECT_EQ(view.scores(), (QStringList{"0", "1", "1", "2", "3", "1"}));
    ASSERT_GE(view.log.size(), 4);
    EXPECT_EQ(view.log[0], "button: Cancel");
    EXPECT_EQ(view.log[1], "text: " + t("auto.port.detection.started"));
    EXPECT_EQ(view.log[2], "text: Testing port NONE ...");
    EXPECT_EQ(view.log.mid(view.log.size() - 3),
              (QStringList{"button: Close", "port: HIGH", "bold: " + t("best.port") + " HIGH"}));
}

TEST(AutoPortWorker, TheFirstOfEqualScoresWinsAndCom3IsDistrusted) {
    RecordingView view;
    detect(view, {QStringLiteral("FOLLOW"), QStringLiteral("FOLLOW2")}, AutoPortWorker::Outcome::Found);
    EXPECT_TRUE(view.log.contains("port: FOLLOW"));
    EXPECT_FALSE(view.log.contains("port: FOLLOW2"));

    RecordingView second;
    detect(second, {QStringLiteral("COM3"), QStringLiteral("DSRONLY"), QStringLiteral("FOLLOW2")},
           AutoPortWorker::Outcome::Found);
    EXPECT_EQ(second.scores(), (QStringList{"1", "1", "2"}));
    EXPECT_TRUE(second.log.contains("port: FOLLOW2"));
}

TEST(AutoPortWorker, NothingToProposeWhenNoPortAnswersOrThereAreNone) {
    RecordingView view;
    detect(view, {QStringLiteral("NONE")}, AutoPortWorker::Outcome::NotFound);
    EXPECT_EQ(view.log.last(), "text: " + t("could.not.auto.detect.port"));
    for (const QString& l : view.log)
        EXPECT_FALSE(l.startsWith("port: ")) << "a port scoring 0 is never proposed";

    RecordingView empty;
    detect(empty, {}, AutoPortWorker::Outcome::NotFound);
    EXPECT_EQ(empty.log, (QStringList{"button: Cancel", "text: " + t("auto.port.detection.started"),
                                      "button: Close", "text: " + t("could.not.auto.detect.port")}));
}

TEST(AutoPortWorker, PortsThatFailShowTheirErrorAndTheOthersAreStillTried) {
    RecordingView view;
    detect(view, {QStringLiteral("BUSY"), QStringLiteral("NO_SUCH_PORT"), QStringLiteral("CTSONLY")},
           AutoPortWorker::Outcome::Found);
    EXPECT_TRUE(view.log.contains(
        "text: BUSY: SerOpenPort failed: Port is in use (BUSY: the script makes this port fail to "
        "open)"))
        << view.log.join('\n').toStdString();
    const auto missing = view.log.filter("NO_SUCH_PORT");
    ASSERT_EQ(missing.size(), 2) << view.log.join('\n').toStdString();
    EXPECT_TRUE(missing[1].contains("failed")) << missing[1].toStdString();
    EXPECT_EQ(view.scores(), QStringList{"1"}) << "failed ports score nothing";
    EXPECT_TRUE(view.log.contains("port: CTSONLY"));

    // Unplugged while its lines are driven: the probe's error, then the next port.
    RecordingView unplug;
    detect(unplug, {QStringLiteral("GONE"), QStringLiteral("FOLLOW")}, AutoPortWorker::Outcome::Found);
    EXPECT_TRUE(unplug.log.contains("port: FOLLOW")) << unplug.log.join('\n').toStdString();
    EXPECT_EQ(unplug.scores(), QStringList{"2"}) << unplug.log.join('\n').toStdString();
}

TEST(AutoPortWorker, CancelDuringAPauseStopsAtOnceAndClosesThePort) {
    RecordingView view;
    AutoPortWorker w(&view, {QStringLiteral("FOLLOW"), QStringLiteral("HIGH")});
    w.execute();
    ASSERT_TRUE(waitFor([&] { return view.log.contains("text: Testing port FOLLOW ..."); }));
    QThread::msleep(20); // inside the first pause
    QElapsedTimer t;
    t.start();
    w.cancel();
    ASSERT_TRUE(waitFor([&] { return w.isDone(); }));
    EXPECT_LT(t.elapsed(), AutoPortWorker::PAUSE_MS) << "the pause ends with the cancel";
    EXPECT_EQ(w.outcome(), AutoPortWorker::Outcome::Cancelled);
    EXPECT_EQ(view.log.mid(view.log.size() - 2), (QStringList{"button: Close", "text: " + ::t("stopped")}));
    EXPECT_FALSE(w.result().has_value());
    for (const QString& l : view.log)
        EXPECT_FALSE(l.startsWith("port: "));
    // The port is free again.
    EXPECT_NO_THROW({
        Direduva::SerialPortLocal again{Direduva::SerialConfig(std::string("FOLLOW"))};
        again.close();
    });
}

TEST(AutoPortWorker, DestroyingARunningWorkerStopsItWithoutReporting) {
    RecordingView view;
    {
        AutoPortWorker w(&view, {QStringLiteral("FOLLOW"), QStringLiteral("HIGH")});
        w.execute();
        ASSERT_TRUE(waitFor([&] { return !view.log.filter("Testing").isEmpty(); }));
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(view.log.filter("button: Close").isEmpty());
    EXPECT_NO_THROW({
        Direduva::SerialPortLocal again{Direduva::SerialConfig(std::string("FOLLOW"))};
        again.close();
    });
}
