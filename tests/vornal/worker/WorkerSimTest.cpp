// The reading workers end to end through the serial library and the simulated instruments.
#include "support/SimEnvironment.h"
#include "support/WorkerHarness.h"

#include <Direduva/Errors.h>

#include <gtest/gtest.h>

using namespace vornal;
using namespace vornal::worker;
using config::Config;
using config::ConfigHelper;
using test::RecordingView;
using test::stopAndWait;
using test::waitFor;

namespace {

// Every instrument waits a moment first: opening a port flushes what arrived before.
const char* const script = R"(
port SCALE
wait 50ms
send "ST,GS,+  12.345 kg\r"
wait 30ms
send "ST,GS,+   1.5 kg\rUS,GS,-0.5 kg\r"
send "no value here\r"
wait 30ms
send "tail without terminator"

port CRLF
wait 50ms
send "N    -1.2 kg\r\n"

port PARITY
wait 50ms
send "12.5\r" parity-error=4
send "13.5\r"

port FRAMING
wait 50ms
send "AB 12\r" framing-error=1

port UNPLUG
wait 50ms
send "1.0\r"
wait 100ms
send "2.0"
wait 50ms
unplug

port INUSE
in-use

port BACKTRACK
wait 50ms
repeat 200
  send "1111111111"
end
send "x\r7\r"

port AND_NC
wait 50ms
modem none

port AND_OK
wait 50ms
modem dsr=dtr cts=rts

port AND_UNUSUAL
wait 50ms
modem dsr=dtr cts=low

port AND_DSR_OFF
wait 50ms
modem dsr=low cts=rts

port FAST
wait 50ms
repeat 2000
  send "ST,GS,+  1.000 kg\r"
end
)";

const auto* const env = ::testing::AddGlobalTestEnvironment(new test::SimEnvironment(script));

Config settings(const QString& port,
                ConfigHelper::Instrument instrument = ConfigHelper::Instrument::GENERIC) {
    Config c = instrument.getDefaultConfig();
    c.setInstrument(instrument);
    c.setPort(port);
    return c;
}

QString bundleText(const char* key) {
    return WeightWorker::text(key);
}

} // namespace

TEST(WorkerSim, PublishesEveryLineInOrderAndReportsTheRestOnStop) {
    Config c = settings(QStringLiteral("SCALE"));
    c.setDecimalSeparator(ConfigHelper::DecimalSeparator::COMMA);
    RecordingView view;
    WeightWorker w(c, &view);
    w.execute();
    ASSERT_TRUE(waitFor([&] { return view.lines().size() >= 4; }));
    QThread::msleep(100); // the tail arrives after the last line
    ASSERT_TRUE(stopAndWait(w));

    const auto lines = view.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(view.values(), (QStringList{"12,345", "1,5", "-0,5", ""}));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(lines[i].getCount(), i + 1);
    EXPECT_EQ(lines[0].getRawData(), "ST,GS,+  12.345 kg<13>");
    EXPECT_FALSE(lines[3].hasValue()) << "a line without a match is still published";
    EXPECT_LE(lines[0].getInstant(), lines[1].getInstant());

    const QStringList log = view.log();
    ASSERT_GE(log.size(), 4);
    EXPECT_EQ(log[0], "connected");
    EXPECT_TRUE(
        log[1].startsWith("event: Port SCALE opened: 9600 bit/s, data bits: 8, stop bits: 1, parity: NONE"))
        << log[1].toStdString();
    EXPECT_TRUE(log[2].startsWith("event: RTS: off, DTR: on. DSR: on, CTS: on.")) << log[2].toStdString();
    EXPECT_TRUE(log.contains("event: " + bundleText("stopped")));
    EXPECT_EQ(view.countLog("important: " + bundleText("unsent.data") + " tail without terminator"), 1);
    EXPECT_EQ(log.last(), "disconnected");
    EXPECT_EQ(w.lineCount(), 4);
}

TEST(WorkerSim, CrLfWithLfTerminatorKeepsTheCrInTheLineButNotInTheValue) {
    Config c = settings(QStringLiteral("CRLF"));
    c.setInputTerminator(10);
    RecordingView view;
    WeightWorker w(c, &view);
    w.execute();
    ASSERT_TRUE(waitFor([&] { return view.lines().size() >= 1; }));
    ASSERT_TRUE(stopAndWait(w));
    EXPECT_EQ(view.lines()[0].getRawData(), "N    -1.2 kg<13><10>");
    EXPECT_EQ(view.values(), QStringList{"-1.2"});
    EXPECT_EQ(view.countLog("important: " + bundleText("unsent.data")), 0);
}

TEST(WorkerSim, AParityErrorOnTheTerminatorMarksThatLineOnly) {
    RecordingView view;
    WeightWorker w(settings(QStringLiteral("PARITY")), &view);
    w.execute();
    ASSERT_TRUE(waitFor([&] { return view.lines().size() >= 2; }));
    ASSERT_TRUE(stopAndWait(w));
    const auto lines = view.lines();
    EXPECT_TRUE(lines[0].isError());
    EXPECT_EQ(lines[0].getProcessedData(), "12.5") << "a line with an error is still typed";
    EXPECT_FALSE(lines[1].isError());
    EXPECT_EQ(view.countLog("important: " + bundleText("parity.error")), 1);
}

TEST(WorkerSim, BarcodeWorkerKeepsBlanksAndUsesFixedErrorTexts) {
    Config c = settings(QStringLiteral("FRAMING"), ConfigHelper::Instrument::BARCODE_ALPHA_COMPLETE);
    c.setCustomRegEx(QStringLiteral("(.*)\\r"));
    RecordingView view;
    WeightWorkerBarcode w(c, &view);
    w.execute();
    ASSERT_TRUE(waitFor([&] { return view.lines().size() >= 1; }));
    ASSERT_TRUE(stopAndWait(w));
    EXPECT_EQ(view.values(), QStringList{"AB 12"});
    EXPECT_TRUE(view.lines()[0].isError());
    EXPECT_EQ(view.countLog("important: Framing Error"), 1);
}

TEST(WorkerSim, AnUnpluggedPortIsReportedOnceAndClosedWithNothingLost) {
    RecordingView view;
    WeightWorker w(settings(QStringLiteral("UNPLUG")), &view);
    w.execute();
    ASSERT_TRUE(waitFor([&] { return w.isDone(); }, 5000)) << "the worker ends by itself";
    EXPECT_EQ(view.values(), QStringList{"1.0"});
    EXPECT_EQ(view.countLog("important: The port UNPLUG is gone"), 1) << view.log().join('\n').toStdString();
    EXPECT_EQ(view.countLog("important: Error [WW]"), 0) << "no error storm";
    EXPECT_EQ(view.countLog("important: " + bundleText("unsent.data") + " 2.0"), 1);
    EXPECT_EQ(view.log().last(), "disconnected");
}

TEST(WorkerSim, APortInUseFailsConstructionWithTheLibrarysMessage) {
    RecordingView view;
    try {
        WeightWorker w(settings(QStringLiteral("INUSE")), &view);
        FAIL() << "opened a port in use";
    } catch (const Direduva::PortError& e) {
        EXPECT_NE(std::string(e.what()).find("INUSE"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(view.log().isEmpty()) << "nothing is reported as connected";
}

TEST(WorkerSim, NoPortIsRefusedBeforeAnythingIsOpened) {
    RecordingView view;
    Config c = settings(QString());
    EXPECT_THROW({ WeightWorker w(c, &view); }, std::logic_error);
    EXPECT_TRUE(view.log().isEmpty());
}

TEST(WorkerSim, CatastrophicBacktrackingFailsOneLineNotTheConnection) {
    Config c = settings(QStringLiteral("BACKTRACK"));
    c.setCustomRegEx(QStringLiteral("^(\\d+)*$"));
    RecordingView view;
    WeightWorker w(c, &view);
    w.execute();
    ASSERT_TRUE(waitFor([&] { return view.lines().size() >= 1; }, 10000));
    ASSERT_TRUE(stopAndWait(w));
    EXPECT_EQ(view.countLog("important: Error [WW]: the regular expression"), 1)
        << view.log().join('\n').toStdString();
    ASSERT_EQ(view.lines().size(), 1u);
    EXPECT_EQ(view.lines()[0].getCount(), 2) << "the failed line keeps its number";
}

TEST(WorkerSim, AnExpressionThatDoesNotCompileEndsTheTask) {
    Config c = settings(QStringLiteral("SCALE"));
    c.setCustomRegEx(QStringLiteral("([0-9]+"));
    RecordingView view;
    WeightWorker w(c, &view);
    w.execute();
    ASSERT_TRUE(waitFor([&] { return w.isDone(); }));
    EXPECT_EQ(view.countLog("important: " + bundleText("execution.exception")), 1);
    EXPECT_TRUE(view.lines().empty());
    EXPECT_EQ(view.log().last(), "disconnected");
}

TEST(WorkerSim, HandshakeCheckHasFourOutcomes) {
    struct Case {
        const char* port;
        WeightWorkerAnd::DeviceState state;
        const char* key;
    };
    const Case cases[] = {
        {"AND_OK", WeightWorkerAnd::DeviceState::Ready, nullptr},
        {"AND_UNUSUAL", WeightWorkerAnd::DeviceState::Unusual, "and.error.unusual"},
        {"AND_DSR_OFF", WeightWorkerAnd::DeviceState::DataSetNotReady, "and.error.dataset.not.ready"},
        {"AND_NC", WeightWorkerAnd::DeviceState::NotConnected, "and.error.not.connected"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.port);
        RecordingView view;
        WeightWorkerAnd w(settings(QString::fromLatin1(k.port), ConfigHelper::Instrument::AND), &view);
        EXPECT_EQ(w.testDevice(), k.state);
        const int warnings = view.countLog("warning: ");
        if (k.key)
            EXPECT_EQ(view.countLog("warning: " + bundleText("warning") + ": " + bundleText(k.key)), 1);
        else
            EXPECT_EQ(warnings, 0);
        // The connection runs on either way.
        w.execute();
        ASSERT_TRUE(stopAndWait(w));
    }
}

TEST(WorkerSim, HardwareHandshakeSkipsTheCheck) {
    Config c = settings(QStringLiteral("AND_NC"), ConfigHelper::Instrument::AND);
    c.setHandshake(ConfigHelper::Handshake::CTS_RTS.ordinal());
    RecordingView view;
    WeightWorkerAnd w(c, &view);
    EXPECT_EQ(w.testDevice(), WeightWorkerAnd::DeviceState::Skipped);
    EXPECT_EQ(view.countLog("warning: "), 0);
}

TEST(WorkerSim, ABurstOfLinesArrivesCompleteAndInOrder) {
    RecordingView view;
    WeightWorker w(settings(QStringLiteral("FAST")), &view);
    w.execute();
    ASSERT_TRUE(waitFor([&] { return view.lines().size() >= 2000; }, 20000));
    ASSERT_TRUE(stopAndWait(w));
    const auto lines = view.lines();
    ASSERT_EQ(lines.size(), 2000u);
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(lines[i].getCount(), i + 1);
        ASSERT_EQ(lines[i].getProcessedData(), "1.000");
    }
}
