// Throughput of the processing stages on typical scale lines: extraction with the GENERIC preset's
// pattern, editing, removal, whitespace removal, number formatting and duplicate suppression.
// items_per_second is lines per second on one core.
#include "vornal/config/ConfigHelper.h"
#include "vornal/config/RegexDialect.h"
#include "vornal/decimal/Decimal.h"
#include "vornal/worker/DataLine.h"
#include "vornal/worker/Editor.h"
#include "vornal/worker/Ignorer.h"
#include "vornal/worker/NumberFormatter.h"
#include "vornal/worker/Remover.h"

#include <benchmark/benchmark.h>

#include <QRegularExpression>

#include <vector>

using namespace vornal::worker;
using vornal::decimal::Decimal;
using vornal::decimal::RoundingMode;

namespace {

const std::vector<QString>& lines() {
    static const std::vector<QString> all = {
        QStringLiteral("ST,GS,+  12.345 kg\r"), QStringLiteral("US,GS,-   0.120 kg\r"),
        QStringLiteral("ST,NT,+0001.250 g \r"), QStringLiteral("N     +   123.45 g  \r"),
        QStringLiteral("ST,GS,+  12,345 kg\r"), QStringLiteral("  1234.5678 lb\r"),
        QStringLiteral("G   -   98.7654 ct\r"), QStringLiteral("ST,GS,+ 100.000 kg\r"),
    };
    return all;
}

QRegularExpression genericPattern() {
    return vornal::config::compileInstrumentPattern(
        vornal::config::ConfigHelper::Instrument::GENERIC.getPattern());
}

NumberFormat twoPlacesComma() {
    NumberFormat f;
    f.roundingPrecision = 2;
    f.roundingMode = RoundingMode::HALF_UP;
    f.decimalSeparator = u',';
    return f;
}

// Worker steps 2 and 4-7 for every line, then the window's duplicate suppression.
void BM_LinePipeline(benchmark::State& state) {
    const QRegularExpression pattern = genericPattern();
    const QRegularExpression whitespace(QStringLiteral("\\s+"));
    const Editor editor(Editor::Operation::KEEP, Editor::Position::LAST, 9);
    const Remover remover(QStringLiteral("kg"));
    NumberFormatter formatter(twoPlacesComma());
    Ignorer ignorer(1000, Decimal::fromString(u"0.005"));
    const auto& input = lines();
    qint32 count = 0;
    for (auto _ : state) {
        for (const QString& raw : input) {
            QString value;
            if (const QRegularExpressionMatch m = pattern.match(raw); m.hasMatch())
                value = m.captured(1);
            value = editor.edit(value);
            value = remover.removeCharacters(value);
            value.remove(whitespace);
            QString processed = value.isEmpty() ? QString() : formatter.format(value);
            DataLine line(raw, std::move(processed), ++count, DataLine::now(), false);
            ignorer.process(line);
            benchmark::DoNotOptimize(line);
        }
    }
    state.SetItemsProcessed(state.iterations() * qint64(input.size()));
}
BENCHMARK(BM_LinePipeline);

void BM_Extract(benchmark::State& state) {
    const QRegularExpression pattern = genericPattern();
    const auto& input = lines();
    for (auto _ : state) {
        for (const QString& raw : input) {
            QString value = pattern.match(raw).captured(1);
            benchmark::DoNotOptimize(value);
        }
    }
    state.SetItemsProcessed(state.iterations() * qint64(input.size()));
}
BENCHMARK(BM_Extract);

void BM_Format(benchmark::State& state) {
    const std::vector<QString> values = {QStringLiteral("+12.345"), QStringLiteral("-0.120"),
                                         QStringLiteral("+0001.250"), QStringLiteral("1234.5678")};
    NumberFormatter formatter(twoPlacesComma());
    for (auto _ : state) {
        for (const QString& v : values)
            benchmark::DoNotOptimize(formatter.format(v));
    }
    state.SetItemsProcessed(state.iterations() * qint64(values.size()));
}
BENCHMARK(BM_Format);

void BM_Divide(benchmark::State& state) {
    NumberFormat f = twoPlacesComma();
    f.mathOperation = NumberFormat::MathOperation::DIVIDE;
    f.mathOperand = Decimal::fromString(u"453.59237");
    NumberFormatter formatter(f);
    const QString value = QStringLiteral("12345.678");
    for (auto _ : state)
        benchmark::DoNotOptimize(formatter.format(value));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Divide);

} // namespace

BENCHMARK_MAIN();
