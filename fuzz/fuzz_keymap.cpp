// From instrument data to keys: whatever a port sends, the keys pressed for a value are keys of the
// preset's map on the chosen layout, pressed and released in pairs.

#include "FuzzSupport.h"

#include "vornal/worker/KeyMaps.h"
#include "vornal/worker/Keybot.h"
#include "vornal/worker/LinePipeline.h"

#include "platform/keys/fake/RecordingInjector.h"

#include <map>
#include <optional>
#include <set>

using namespace vornal;
using platform::RecordingInjector;
using H = config::ConfigHelper;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool once = (fuzz::quietQt(), true);
    (void)once;
    fuzz::ByteReader in(data, size);
    config::Config settings = fuzz::settingsFromHeader(in);
    const auto layout = H::KeyboardType::values()[size_t(in.pick(int(H::KeyboardType::values().size())))];
    settings.setKeyboardType(layout);
    const H::KeyMapType mapType = settings.getInstrument()->getKeyMapType();

    std::optional<worker::LinePipeline> pipeline;
    try {
        pipeline.emplace(settings, worker::LinePipeline::modeFor(settings));
    } catch (const decimal::ProcessingError&) {
        return 0;
    }

    // Every key any chord of the preset's map may press.
    static std::map<std::pair<int, int>, std::set<int>> allowedByMap;
    std::set<int>& allowed = allowedByMap[{layout.ordinal(), mapType.ordinal()}];
    if (allowed.empty())
        for (const auto& [ch, chord] : worker::getKeymap(layout, mapType))
            allowed.insert(chord.begin(), chord.end());

    auto recorder = std::make_unique<RecordingInjector>();
    RecordingInjector* events = recorder.get();
    worker::Keybot keybot(0, 0, 0, 0, 0, layout, mapType, nullptr, std::move(recorder));

    worker::LineAssembler assembler(settings.getInputTerminator());
    for (size_t i = 0; i < in.restSize(); ++i) {
        if (assembler.add(in.rest()[i]) != worker::LineAssembler::Step::Complete)
            continue;
        QString value;
        try {
            value = pipeline->process(assembler.line(), false).getProcessedData();
        } catch (const decimal::ProcessingError&) {
        }
        assembler.clear();
        if (value.isEmpty())
            continue;
        events->clear();
        keybot.typeString(value, false);
        std::map<int, int> down;
        for (const auto& e : events->events()) {
            if (e.kind == RecordingInjector::Event::Kind::Pause)
                continue;
            VORNAL_FUZZ_CHECK(allowed.count(e.value) != 0,
                              QStringLiteral("key %1 for %2")
                                  .arg(e.value)
                                  .arg(worker::DataLine::transformControlChars(value)));
            down[e.value] += e.kind == RecordingInjector::Event::Kind::Press ? 1 : -1;
        }
        for (const auto& [key, balance] : down)
            VORNAL_FUZZ_CHECK(balance == 0, QStringLiteral("key %1 left down").arg(key));
    }
    return 0;
}
