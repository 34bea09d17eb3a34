#include "vornal/config/Config.h"
#include "vornal/worker/Editor.h"
#include "vornal/worker/Ignorer.h"
#include "vornal/worker/NumberFormatter.h"
#include "vornal/worker/Remover.h"

#include <gtest/gtest.h>

using vornal::config::Config;
using namespace vornal::worker;
using vornal::decimal::ProcessingError;

TEST(StagesFromSettings, FormatterTakesRoundingAndMathOnlyWhenEnabled) {
    Config config;
    config.setDecimalSeparator(Config::DecimalSeparator::COMMA);
    config.setRoundingMethod(Config::RoundingMethod::HALF_EVEN);
    config.setMathOperation(Config::MathOperation::DIVIDE);
    config.setMathOperand(QStringLiteral("4"));
    // Division without decimal places is not enabled: the value passes unchanged.
    EXPECT_EQ(NumberFormatter::fromConfig(config).format(u"10.125"), QStringLiteral("10,125"));
    config.setDecimalPlaces(QStringLiteral("2"));
    EXPECT_EQ(NumberFormatter::fromConfig(config).format(u"10"), QStringLiteral("2,50"));
    config.setMathOperation(Config::MathOperation::MULTIPLY);
    config.setMathOperand(QStringLiteral("1.5E1"));
    EXPECT_EQ(NumberFormatter::fromConfig(config).format(u"0.0125"), QStringLiteral("0,19"));
    config.setMathOperand(QStringLiteral("abc"));
    EXPECT_THROW(NumberFormatter::fromConfig(config), ProcessingError);
    config.setMathOperation(Config::MathOperation::NONE);
    EXPECT_EQ(NumberFormatter::fromConfig(config).format(u"0.0125"), QStringLiteral("0,01"));
}

TEST(StagesFromSettings, EditorRemoverAndIgnorer) {
    Config config;
    EXPECT_FALSE(Editor::fromConfig(config).active());
    EXPECT_FALSE(Remover::fromConfig(config).active());
    config.setEditOperation(Config::EditOperation::KEEP);
    config.setEditPosition(Config::EditPosition::LAST);
    config.setEditNumCharacters(QStringLiteral("2"));
    EXPECT_EQ(Editor::fromConfig(config).edit(QStringLiteral("12.5g")), QStringLiteral("5g"));
    config.setRemoveCharacters(QStringLiteral("gk "));
    EXPECT_EQ(Remover::fromConfig(config).removeCharacters(QStringLiteral("12.5 kg")),
              QStringLiteral("12.5"));

    config.setIgnoreTimeLimit(QStringLiteral("1000"));
    config.setIgnoreDifference(QStringLiteral("0.5"));
    config.setInstrument(Config::Instrument::GENERIC);
    EXPECT_EQ(Ignorer::fromConfig(config).difference().toPlainString(), QStringLiteral("0.5"));
    EXPECT_EQ(Ignorer::fromConfig(config).timeLimit(), 1000);
    config.setInstrument(Config::Instrument::BARCODE);
    EXPECT_TRUE(Ignorer::fromConfig(config).difference().isZero());
}
