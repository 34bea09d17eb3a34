// Stable readings only and one value per placement: the presets' stability rules against their sample
// lines, and the filter on sequences of drifting, settling and stable readings.
#include "vornal/worker/StabilityFilter.h"
#include "vornal/config/Config.h"
#include "vornal/worker/LinePipeline.h"

#include <gtest/gtest.h>

using vornal::config::Config;
using vornal::config::ConfigHelper;
using vornal::decimal::Decimal;
using vornal::worker::DataLine;
using vornal::worker::LinePipeline;
using vornal::worker::StabilityFilter;
using Instrument = ConfigHelper::Instrument;

namespace {

TEST(StabilityRules, EveryPresetWithARulePassesItsSampleLines) {
    int withRule = 0;
    for (const Instrument& preset : Instrument::values()) {
        SCOPED_TRACE(preset.name().toStdString());
        const auto samples = preset.getStabilitySamples();
        if (!preset.hasStabilityRule()) {
            EXPECT_TRUE(samples.empty());
            EXPECT_FALSE(StabilityFilter::fromSettings(preset.name(), true, true, QString()));
            continue;
        }
        ++withRule;
        ASSERT_TRUE(preset.getStabilityExpression().isValid());
        bool sawStable = false, sawUnstable = false;
        for (const auto& sample : samples) {
            SCOPED_TRACE(sample.line.toStdString());
            EXPECT_EQ(preset.getStabilityExpression().match(sample.line).hasMatch(), sample.stable);
            (sample.stable ? sawStable : sawUnstable) = true;
        }
        EXPECT_TRUE(sawStable && sawUnstable) << "samples of both kinds";
        // The preset's own sample lines with a value are readings in the same format: each is either
        // stable or unstable by the rule, and the value of a stable one is extracted as before.
        for (const auto& t : preset.getTestStrings()) {
            if (t.expected.isEmpty())
                continue;
            const auto m = preset.getRegularExpression().match(t.line);
            ASSERT_TRUE(m.hasMatch());
            EXPECT_EQ(m.captured(1), t.expected);
        }
    }
    EXPECT_GE(withRule, 5);
    // Presets that share a pattern share the rule.
    EXPECT_EQ(Instrument::AND_EM.getStabilityPattern(), Instrument::AND.getStabilityPattern());
    EXPECT_FALSE(Instrument::GENERIC.hasStabilityRule());
    EXPECT_FALSE(Instrument::BARCODE.hasStabilityRule());
}

// A&D-style lines through the preset's own pipeline, as a connection processes them.
class PlacementTest : public ::testing::Test {
protected:
    DataLine line(const QString& raw) { return pipeline_.process(raw, false); }
    // The values the filter lets through, in order.
    std::string run(StabilityFilter& filter, const QStringList& raws) {
        QStringList typed;
        for (const QString& raw : raws) {
            DataLine l = line(raw + QStringLiteral("\r\n"));
            filter.process(l);
            if (l.hasValue())
                typed << l.getProcessedData();
        }
        return typed.join(u' ').toStdString();
    }
    static StabilityFilter filter(bool onlyStable, bool once, const QString& difference = QString()) {
        return *StabilityFilter::fromSettings(QStringLiteral("AND"), onlyStable, once, difference);
    }

    Config config_ = [] {
        Config c;
        c.setInstrument(Instrument::AND);
        return c;
    }();
    LinePipeline pipeline_{config_, LinePipeline::Mode::Number};
};

// Two placements on an A&D balance: load drifting in, settling, stable for a while, taken off.
const QStringList kTwoPlacements = {
    "ST,+00000.00 kg", "US,+00003.10 kg", "US,+00011.80 kg", "US,+00012.36 kg", "US,+00012.33 kg",
    "ST,+00012.34 kg", "ST,+00012.34 kg", "ST,+00012.35 kg", "ST,+00012.34 kg", "US,+00004.00 kg",
    "US,+00000.00 kg", "ST,+00000.00 kg", "US,+00007.90 kg", "ST,+00008.02 kg", "ST,+00008.02 kg",
    "US,+00000.10 kg", "ST,+00000.00 kg"};

TEST_F(PlacementTest, OnlyStableReadingsAreTyped) {
    StabilityFilter f = filter(true, false);
    EXPECT_EQ(run(f, kTwoPlacements), "0.00 12.34 12.34 12.35 12.34 0.00 8.02 8.02 0.00");
}

TEST_F(PlacementTest, ExactlyOneValuePerPlacement) {
    StabilityFilter f = filter(false, true, QStringLiteral("0.05"));
    EXPECT_EQ(run(f, kTwoPlacements), "12.34 8.02");
    // Without a difference a change of the load is the same placement: only zero ends one.
    StabilityFilter exact = filter(true, true);
    EXPECT_EQ(run(exact, kTwoPlacements), "12.34 8.02");
}

// The default (no difference): a jitter of the last digit is the same placement; a return to zero
// within one unit of that digit, stable or not, starts the next one, and the zero itself says so.
TEST_F(PlacementTest, WithoutADifferenceOnlyZeroStartsANewPlacement) {
    StabilityFilter f = filter(true, true);
    EXPECT_EQ(run(f, {"ST,+00012.345 kg", "ST,+00012.345 kg", "ST,+00012.346 kg", "ST,+00012.345 kg"}),
              "12.345");
    EXPECT_EQ(run(f, {"US,+00000.001 kg", "ST,+00012.344 kg", "ST,+00012.345 kg"}), "12.344");
    EXPECT_EQ(run(f, {"ST,-00000.001 kg", "ST,+00012.347 kg"}), "12.347");
    // 0.002 is still a load: no new placement.
    EXPECT_EQ(run(f, {"ST,+00000.002 kg", "ST,+00012.347 kg"}), "");
    DataLine zero = line(QStringLiteral("ST,+00000.000 kg\r\n"));
    EXPECT_EQ(f.process(zero), StabilityFilter::Verdict::Zero);
    EXPECT_FALSE(zero.hasValue());
    // With a difference it is the zero band too.
    StabilityFilter band = filter(true, true, QStringLiteral("0.01"));
    EXPECT_EQ(run(band, {"ST,+00012.345 kg", "ST,+00000.008 kg", "ST,+00012.345 kg"}), "12.345 12.345");
}

TEST_F(PlacementTest, AddingToTheLoadIsANewPlacementWithoutGoingBackToZero) {
    StabilityFilter f = filter(true, true, QStringLiteral("0.1"));
    EXPECT_EQ(run(f, {"ST,+00001.00 kg", "US,+00001.40 kg", "ST,+00001.05 kg", "US,+00002.70 kg",
                      "ST,+00002.50 kg", "ST,+00002.52 kg", "US,+00002.90 kg", "ST,+00002.55 kg"}),
              "1.00 2.50");
}

TEST_F(PlacementTest, HeldBackLinesKeepTheirRawTextAndSayWhy) {
    StabilityFilter f = filter(true, true);
    DataLine unstable = line(QStringLiteral("US,+00012.33 kg\r\n"));
    EXPECT_EQ(f.process(unstable), StabilityFilter::Verdict::Unstable);
    EXPECT_FALSE(unstable.hasValue());
    EXPECT_EQ(unstable.getRawData(), QStringLiteral("US,+00012.33 kg<13><10>"));
    DataLine first = line(QStringLiteral("ST,+00012.34 kg\r\n"));
    EXPECT_EQ(f.process(first), StabilityFilter::Verdict::Pass);
    DataLine again = line(QStringLiteral("ST,+00012.34 kg\r\n"));
    EXPECT_EQ(f.process(again), StabilityFilter::Verdict::SamePlacement);
    DataLine nothing = line(QStringLiteral("OL\r\n"));
    EXPECT_EQ(f.process(nothing), StabilityFilter::Verdict::NoValue);
}

TEST(StabilityFilterSettings, OffUnlessAnOptionIsOnAndThePresetHasARule) {
    EXPECT_FALSE(StabilityFilter::fromSettings(QStringLiteral("AND"), false, false, QString()));
    EXPECT_FALSE(StabilityFilter::fromSettings(QStringLiteral("KERN_572"), true, true, QString()));
    EXPECT_FALSE(StabilityFilter::fromSettings(QStringLiteral("NO_SUCH"), true, true, QString()));
    const auto f =
        StabilityFilter::fromSettings(QStringLiteral("METTLER_SICS"), false, true, QStringLiteral("x"));
    ASSERT_TRUE(f);
    EXPECT_TRUE(f->oncePerPlacement());
    EXPECT_TRUE(f->isStable(QStringLiteral("S S      12.5 g\r\n")));
    EXPECT_FALSE(f->isStable(QStringLiteral("S D      12.5 g\r\n")));
    Config c;
    c.setInstrument(Instrument::SMA_SCP);
    EXPECT_FALSE(StabilityFilter::fromConfig(c));
    c.setTypeOnlyStable(true);
    EXPECT_TRUE(StabilityFilter::fromConfig(c));
}

} // namespace
