// The stability rules of the presets that mark stable readings: a held-back line loses its value and
// nothing else, a line the rule calls unstable is never typed (in either mode), and "one per placement"
// never types a zero and holds back only stable readings as "same placement".
// Input: preset byte, options byte, difference byte, then readings: a byte choosing a sample line (or a
// value of our own) per reading.

#include "FuzzSupport.h"

#include "vornal/worker/LinePipeline.h"
#include "vornal/worker/StabilityFilter.h"

using namespace vornal;
using vornal::worker::DataLine;
using vornal::worker::StabilityFilter;
using H = config::ConfigHelper;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (fuzz::quietQt(), true);
    (void)quiet;
    fuzz::ByteReader in(data, size);
    const auto& presets = H::Instrument::values();
    const H::Instrument preset = presets[size_t(in.pick(int(presets.size())))];
    const uint8_t options = in.byte();
    static const char* const differences[] = {"", "0", "0.01", "1", "5", "x", "-1", "1000"};
    const QString difference = QString::fromLatin1(differences[in.pick(std::size(differences))]);
    auto filter = StabilityFilter::fromSettings(preset.name(), options & 1, options & 2, difference);
    if (!filter)
        return 0;
    config::Config config = preset.getDefaultConfig();
    config.setInstrument(preset);
    std::optional<worker::LinePipeline> pipeline;
    try {
        pipeline.emplace(config, worker::LinePipeline::modeFor(config));
    } catch (const std::exception&) {
        return 0;
    }
    QStringList samples;
    for (const auto& s : preset.getStabilitySamples())
        samples += s.line;
    for (const auto& t : preset.getTestStrings())
        samples += t.line;
    while (in.restSize() > 0) {
        const uint8_t pick = in.byte();
        QString raw;
        if (!samples.isEmpty() && pick < 200)
            raw = samples[pick % samples.size()];
        else
            raw = in.latin1(in.pick(24)) + QChar(char16_t(config.getInputTerminator()));
        DataLine line;
        try {
            line = pipeline->process(raw, false);
        } catch (const std::exception&) {
            continue;
        }
        const DataLine before = line;
        const bool stable = filter->isStable(raw);
        const StabilityFilter::Verdict v = filter->process(line);
        VORNAL_FUZZ_CHECK(line.getRawData() == before.getRawData() && line.getCount() == before.getCount(),
                          raw.left(80));
        switch (v) {
        case StabilityFilter::Verdict::NoValue:
            VORNAL_FUZZ_CHECK(!before.hasValue(), raw.left(80));
            break;
        case StabilityFilter::Verdict::Pass:
            // Only a stable reading is typed, in either mode; in "one per placement" never a zero.
            VORNAL_FUZZ_CHECK(line.getProcessedData() == before.getProcessedData(), raw.left(80));
            VORNAL_FUZZ_CHECK(stable, QStringLiteral("unstable passed: ") + raw.left(80));
            if (filter->oncePerPlacement()) {
                const auto number = decimal::Decimal::parse(line.getProcessedData());
                VORNAL_FUZZ_CHECK(!number || !number->isZero(),
                                  QStringLiteral("zero typed: ") + raw.left(80));
            }
            break;
        case StabilityFilter::Verdict::Unstable:
            VORNAL_FUZZ_CHECK(!stable && !line.hasValue(), raw.left(80));
            break;
        case StabilityFilter::Verdict::SamePlacement:
            VORNAL_FUZZ_CHECK(filter->oncePerPlacement() && stable && !line.hasValue(), raw.left(80));
            break;
        case StabilityFilter::Verdict::Zero:
            // The empty platform: only in "one per placement", a stable reading, held back.
            VORNAL_FUZZ_CHECK(filter->oncePerPlacement() && stable && !line.hasValue(), raw.left(80));
            break;
        }
    }
    return 0;
}
