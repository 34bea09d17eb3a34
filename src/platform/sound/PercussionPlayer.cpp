#include "PercussionPlayer.h"

#if defined(_WIN32)
#include "windows/WinMidiPlayer.h"
#elif defined(VORNAL_SOUND_FLUIDSYNTH)
#include "fluidsynth/FluidSynthPlayer.h"
#endif

namespace vornal::platform {

namespace {
void checkRange(const char* field, int value, int low, int high) {
    if (value < low || value > high) {
        throw std::invalid_argument("percussion note: " + std::string(field) + " " + std::to_string(value) +
                                    " is outside " + std::to_string(low) + "-" + std::to_string(high));
    }
}
} // namespace

void PercussionNote::validate() const {
    checkRange("channel", channel, 0, 15);
    checkRange("note", note, 0, 127);
    checkRange("velocity", velocity, 0, 127);
    checkRange("length in ticks", ticks, 1, 1 << 20);
    checkRange("ticks per quarter note", ppq, 1, 32767);
    checkRange("tempo", tempoBpm, 1, 1000);
}

std::vector<MidiEvent> PercussionNote::events() const {
    const auto ch = static_cast<std::uint8_t>(channel & 0x0F);
    const auto key = static_cast<std::uint8_t>(note);
    const auto vel = static_cast<std::uint8_t>(velocity);
    return {{0, static_cast<std::uint8_t>(0x90 | ch), key, vel},
            {ticks, static_cast<std::uint8_t>(0x80 | ch), key, vel}};
}

std::chrono::microseconds PercussionNote::tickTime(std::int64_t tick) const {
    // One quarter note lasts 60,000,000 / tempo microseconds and holds ppq ticks.
    return std::chrono::microseconds(tick * 60'000'000LL / (static_cast<std::int64_t>(tempoBpm) * ppq));
}

std::unique_ptr<PercussionPlayer> openPercussionPlayer() {
#if defined(_WIN32)
    return std::make_unique<WinMidiPlayer>();
#elif defined(VORNAL_SOUND_FLUIDSYNTH)
    return std::make_unique<FluidSynthPlayer>(FluidSynthOptions::fromEnvironment());
#else
    throw SoundError("Sound output is not available: this build has no sound backend (FluidSynth was not "
                     "found when it was built).");
#endif
}

} // namespace vornal::platform
