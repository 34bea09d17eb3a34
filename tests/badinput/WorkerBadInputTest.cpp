// Hostile data on the serial line, through the real reading worker and the simulated instruments: binary
// noise at full speed, a megabyte without terminator, a flood of empty lines, a line error on every byte
// and a port that goes away in the middle of a line. Nothing crashes or hangs, every complete line is
// published in order, and the line after the bad data is read correctly.

#include "support/SimEnvironment.h"
#include "support/WorkerHarness.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <random>
#include <sstream>

using namespace vornal;
using namespace vornal::worker;
using config::Config;
using config::ConfigHelper;
using test::RecordingView;
using test::stopAndWait;
using test::waitFor;

namespace {

constexpr int kNoiseChunks = 64;
constexpr int kNoiseChunkSize = 2048;

// Pseudo-random bytes, the same on every run; every chunk ends with a carriage return so that the good
// line after the noise starts on a line of its own. Returns the number of CRs (complete lines).
std::string noiseSends(int& terminators) {
    std::mt19937 random(7);
    std::ostringstream out;
    terminators = 0;
    char hex[8];
    for (int c = 0; c < kNoiseChunks; ++c) {
        out << "send \"";
        for (int i = 0; i < kNoiseChunkSize; ++i) {
            int b = std::uniform_int_distribution<int>(0, 255)(random);
            if (i == kNoiseChunkSize - 1)
                b = 13;
            terminators += b == 13 ? 1 : 0;
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out << hex;
        }
        out << "\"\n";
    }
    return out.str();
}

int noiseTerminators = 0;

std::string script() {
    std::ostringstream s;
    // Opening a port flushes what arrived before: every instrument waits a moment first.
    s << "port NOISE\nwait 50ms\n" << noiseSends(noiseTerminators) << "send \"ST,GS,+  12.345 kg\\r\"\n";
    s << "port MEGABYTE\nwait 50ms\nsend \"1.5\\r\"\nrepeat 10486\n  send \"" << std::string(100, 'x')
      << "\"\nend\nsend \"\\r2.5\\r\"\n";
    s << "port FLOOD\nwait 50ms\nrepeat 5000\n  send \"";
    for (int i = 0; i < 20; ++i)
        s << "\\r";
    s << "\"\nend\nsend \"7.25\\r\"\n";
    // The instrument runs 8E1; the connection is configured 8N1: every byte has a line error.
    s << "port LINEERRORS\nsettings 9600 8E1\nwait 50ms\nrepeat 200\n  send \"ST,GS,+   3.125 kg\\r\"\nend\n";
    s << "port GONE\nwait 50ms\nrepeat 500\n  send \"ST,GS,+  1.000 kg\\r\"\nend\nsend \"ST,GS,+  "
         "9.9\"\nunplug\n";
    return s.str();
}

const auto* const env = ::testing::AddGlobalTestEnvironment(new test::SimEnvironment(script()));

Config settings(const QString& port,
                ConfigHelper::Instrument instrument = ConfigHelper::Instrument::GENERIC) {
    Config c = instrument.getDefaultConfig();
    c.setInstrument(instrument);
    c.setPort(port);
    c.setInputTerminator(13);
    return c;
}

// The number of the last published line (0: none yet).
qint32 lastCount(const RecordingView& view) {
    const auto lines = view.lines();
    return lines.empty() ? 0 : lines.back().getCount();
}

// Lines are numbered 1, 2, 3, ... without a gap.
void expectNumberedInOrder(const std::vector<DataLine>& lines) {
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].getCount() != qint32(i + 1)) {
            ADD_FAILURE() << "line " << i << " has number " << lines[i].getCount();
            return;
        }
}

} // namespace

class BinaryNoise : public ::testing::TestWithParam<ConfigHelper::Instrument> {};

TEST_P(BinaryNoise, EveryCompleteLineIsPublishedAndTheNextLineIsRead) {
    RecordingView view;
    const auto w = createWorker(settings(QStringLiteral("NOISE"), GetParam()), &view);
    QElapsedTimer t;
    t.start();
    w->execute();
    const qint32 expected = noiseTerminators + 1;
    ASSERT_TRUE(waitFor([&] { return lastCount(view) >= expected; }, 30000))
        << lastCount(view) << " of " << expected << " lines";
    const qint64 ms = t.elapsed();
    QThread::msleep(50);
    ASSERT_TRUE(stopAndWait(*w));
    const auto lines = view.lines();
    // A line whose value fails a stage is reported instead of published; every other one is published,
    // in order.
    const int failed = view.countLog(QStringLiteral("important: Error [WW]"));
    EXPECT_EQ(qint64(lines.size()) + failed, expected) << view.log().mid(0, 8).join(u'\n').toStdString();
    for (size_t i = 1; i < lines.size(); ++i)
        ASSERT_LT(lines[i - 1].getCount(), lines[i].getCount());
    ASSERT_EQ(lines.back().getCount(), expected);
    EXPECT_EQ(lines.back().getRawData(), "ST,GS,+  12.345 kg<13>");
    if (GetParam().getInstrumentType() == ConfigHelper::InstrumentType::NUMBER) {
        EXPECT_EQ(lines.back().getProcessedData(), "12.345");
    }
    EXPECT_LT(ms, 20000) << "128 KiB of noise took " << ms << " ms";
    EXPECT_EQ(view.log().last(), "disconnected");
}

INSTANTIATE_TEST_SUITE_P(Presets, BinaryNoise,
                         ::testing::Values(ConfigHelper::Instrument::GENERIC,
                                           ConfigHelper::Instrument::METTLER_SICS,
                                           ConfigHelper::Instrument::BARCODE_ALPHA_COMPLETE),
                         [](const auto& info) { return info.param.name().toStdString(); });

TEST(BadInput, AMegabyteWithoutTerminatorIsDroppedOnceAndReadingGoesOn) {
    RecordingView view;
    const auto w = createWorker(settings(QStringLiteral("MEGABYTE")), &view);
    w->execute();
    ASSERT_TRUE(waitFor([&] { return view.lines().size() >= 3; }, 30000)) << view.lines().size();
    QThread::msleep(50);
    ASSERT_TRUE(stopAndWait(*w));
    EXPECT_EQ(view.values(), (QStringList{"1.5", "", "2.5"}))
        << "the line before is kept, the fragment of the long one never yields a value";
    // The long line still has its record (and so its data-log row): its beginning, cut and marked.
    const QString cut = view.lines()[1].getRawData();
    EXPECT_TRUE(cut.endsWith(QStringLiteral(" [cut: no input terminator within 65536 bytes]")))
        << cut.right(80).toStdString();
    EXPECT_LE(cut.size(), 1024 + 60);
    EXPECT_EQ(view.countLog(QStringLiteral("important: Error [WW]")), 1) << "one report, not one per 64 KiB";
    EXPECT_EQ(view.countLog(QStringLiteral("important: Error [WW]: a line grew past 65536 bytes")), 1);
    expectNumberedInOrder(view.lines());
}

TEST(BadInput, AFloodOfEmptyLinesIsPublishedInOrderWithoutValues) {
    RecordingView view;
    const auto w = createWorker(settings(QStringLiteral("FLOOD")), &view);
    QElapsedTimer t;
    t.start();
    w->execute();
    ASSERT_TRUE(waitFor([&] { return view.lines().size() >= 100001; }, 60000)) << view.lines().size();
    const qint64 ms = t.elapsed();
    ASSERT_TRUE(stopAndWait(*w));
    const auto lines = view.lines();
    ASSERT_EQ(lines.size(), 100001u);
    expectNumberedInOrder(lines);
    int withValue = 0;
    for (size_t i = 0; i + 1 < lines.size(); ++i)
        withValue += lines[i].hasValue() ? 1 : 0;
    EXPECT_EQ(withValue, 0);
    EXPECT_EQ(lines.back().getProcessedData(), "7.25");
    EXPECT_EQ(view.countLog(QStringLiteral("important:")), 0) << "an empty line is no error";
    EXPECT_LT(ms, 45000) << "100,000 empty lines took " << ms << " ms";
}

TEST(BadInput, ALineErrorOnEveryByteMarksEveryLineAndKeepsReading) {
    RecordingView view;
    const auto w = createWorker(settings(QStringLiteral("LINEERRORS")), &view);
    w->execute();
    ASSERT_TRUE(waitFor([&] { return view.lines().size() >= 200; }, 30000)) << view.lines().size();
    ASSERT_TRUE(stopAndWait(*w));
    const auto lines = view.lines();
    ASSERT_EQ(lines.size(), 200u);
    expectNumberedInOrder(lines);
    for (const auto& l : lines) {
        EXPECT_TRUE(l.isError()) << l.getCount();
        EXPECT_EQ(l.getProcessedData(), "3.125") << "the bytes themselves arrive intact";
    }
    // The reports stay in proportion: at most one per kind and byte (each byte of the 19 of a line
    // carries both errors here).
    const int reports = view.countLog(QStringLiteral("important:"));
    EXPECT_GE(reports, 1);
    EXPECT_LE(reports, 2 * 19 * 200) << view.log().mid(0, 10).join(u'\n').toStdString();
}

TEST(BadInput, APortThatGoesAwayMidLineLosesNoCompleteLine) {
    RecordingView view;
    const auto w = createWorker(settings(QStringLiteral("GONE")), &view);
    w->execute();
    ASSERT_TRUE(waitFor([&] { return w->isDone(); }, 30000)) << "the worker ends by itself";
    const auto lines = view.lines();
    ASSERT_EQ(lines.size(), 500u);
    expectNumberedInOrder(lines);
    EXPECT_EQ(lines.back().getProcessedData(), "1.000");
    EXPECT_EQ(view.countLog(QStringLiteral("important: The port GONE is gone")), 1)
        << view.log().join(u'\n').toStdString();
    EXPECT_EQ(view.countLog(QStringLiteral("important: ") + WeightWorker::text("unsent.data") +
                            QStringLiteral(" ST,GS,+  9.9")),
              1)
        << "the cut-off line is reported, not typed";
    EXPECT_EQ(view.log().last(), "disconnected");
}
