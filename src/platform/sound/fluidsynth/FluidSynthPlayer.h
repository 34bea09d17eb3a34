#pragma once

#include "../NoteSequence.h"
#include "../PercussionPlayer.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// FluidSynth backend: a software synthesizer with the system's General-MIDI soundfont and a live audio
// driver. The synthesizer set-up is shared with an offline renderer so tests hear exactly what users hear.
namespace vornal::platform {

struct FluidSynthOptions {
    // Soundfont file; empty: the system's General-MIDI soundfonts, first one found.
    std::string soundFont;
    // Audio drivers to try in order; empty: pulseaudio, alsa, jack, oss.
    std::vector<std::string> audioDrivers;
    // Output file of the "file" audio driver (renders in real time; for diagnostics).
    std::string audioFile;
    double sampleRate = 44100.0;

    // Options from the environment: VORNAL_SOUNDFONT (a soundfont file), VORNAL_AUDIO_DRIVER (one
    // FluidSynth audio driver name) and VORNAL_AUDIO_FILE (output of the "file" driver).
    static FluidSynthOptions fromEnvironment();
};

// The system's General-MIDI soundfonts, in order of preference.
std::vector<std::string> defaultSoundFontPaths();
// `explicitPath` when given (it must be a readable file), otherwise the first readable default. Throws
// SoundError saying what was looked for and how to fix it.
std::string findSoundFont(const std::string& explicitPath = {});

// Synthesizer settings, synthesizer and loaded soundfont; the note's channel plays percussion (bank 128).
class FluidSynthSetup {
public:
    explicit FluidSynthSetup(const FluidSynthOptions& options);
    ~FluidSynthSetup();
    FluidSynthSetup(const FluidSynthSetup&) = delete;
    FluidSynthSetup& operator=(const FluidSynthSetup&) = delete;

    // Makes `channel` a percussion channel with the standard drum kit (bank 128, program 0).
    void preparePercussion(int channel);
    // Sends a note on or note off to the synthesizer (thread-safe).
    void send(const MidiEvent& event);
    // Bank and program the synthesizer plays on `channel`.
    std::pair<int, int> program(int channel) const;
    const std::string& soundFontPath() const { return soundFontPath_; }
    double sampleRate() const { return sampleRate_; }

    struct Impl;
    Impl& impl() { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
    std::string soundFontPath_;
    double sampleRate_;
};

// Live output: the one-note sequence through a FluidSynth audio driver, timed by a NoteScheduler.
class FluidSynthPlayer final : public PercussionPlayer {
public:
    // Throws SoundError when the soundfont is missing or no audio driver opens a device; returns at
    // once in both cases (the drivers fail without waiting when there is no hardware).
    explicit FluidSynthPlayer(const FluidSynthOptions& options = FluidSynthOptions::fromEnvironment());
    ~FluidSynthPlayer() override;

    void load(const PercussionNote& note) override;
    void play() override;
    void close() override;
    std::string name() const override { return "FluidSynth (" + driverName_ + ")"; }

private:
    std::unique_ptr<FluidSynthSetup> setup_;
    struct Driver;
    std::unique_ptr<Driver> driver_;
    std::string driverName_;
    std::unique_ptr<NoteScheduler> scheduler_;
};

// The result of an offline rendering.
struct Rendering {
    struct Event {
        std::int64_t frame;
        MidiEvent event;
    };
    struct Voice {
        std::int64_t frame;
        int channel;
        int key;
        int velocity;
    };

    double sampleRate = 0;
    std::vector<std::int16_t> samples; // interleaved stereo
    std::vector<Event> events;         // what the sequence sent, at the frame it was sent
    std::vector<Voice> voices;         // voices the synthesizer started for the note ons
    int bank = -1;                     // bank and program on the note's channel
    int program = -1;

    std::int64_t frames() const { return static_cast<std::int64_t>(samples.size() / 2); }
    std::int64_t frameAt(std::chrono::microseconds t) const;
    // Largest absolute sample in [from, to), as a fraction of full scale.
    double peak(std::chrono::microseconds from, std::chrono::microseconds to) const;
};

// Renders the sequence of `note` without an audio device: it is (re)started at each of `playTimes`
// (as `play` would be), for `length` of audio in all. Same synthesizer set-up as the live player.
Rendering renderOffline(const PercussionNote& note, const std::vector<std::chrono::microseconds>& playTimes,
                        std::chrono::microseconds length,
                        const FluidSynthOptions& options = FluidSynthOptions::fromEnvironment());

} // namespace vornal::platform
