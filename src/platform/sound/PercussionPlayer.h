#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// General-MIDI percussion output behind a narrow interface, free of Qt so that the Windows backend
// cross-builds. One player plays one short sequence (a single drum note) and restarts it on demand.
namespace vornal::platform {

// A sound device or synthesizer that cannot be opened or used. The message names the device and why.
class SoundError : public std::runtime_error {
public:
    explicit SoundError(const std::string& message) : std::runtime_error(message) {}
};

// One channel message of the sequence, at a tick position.
struct MidiEvent {
    std::int64_t tick = 0;
    std::uint8_t status = 0; // 0x90 | channel for note on, 0x80 | channel for note off
    std::uint8_t data1 = 0;  // key
    std::uint8_t data2 = 0;  // velocity

    int channel() const { return status & 0x0F; }
    bool isNoteOn() const { return (status & 0xF0) == 0x90 && data2 > 0; }
    bool isNoteOff() const { return (status & 0xF0) == 0x80 || ((status & 0xF0) == 0x90 && data2 == 0); }
    bool operator==(const MidiEvent&) const = default;
};

// The one-note sequence: NOTE ON at tick 0, NOTE OFF `ticks` later, both with `velocity`. Timing is
// `ppq` ticks per quarter note at `tempoBpm` quarter notes per minute; with the defaults (4 ticks per
// quarter, 120 bpm, one tick) the note lasts 125 ms. Channel 9 (zero-based) is the percussion channel.
struct PercussionNote {
    static constexpr int kPercussionChannel = 9;

    int channel = kPercussionChannel;
    int note = 56; // cowbell
    int velocity = 127;
    int ticks = 1;
    int ppq = 4;
    int tempoBpm = 120;

    // Throws std::invalid_argument naming the field that is out of range (channel 0-15, note and
    // velocity 0-127, ticks >= 1, ppq 1-32767, tempo 1-1000).
    void validate() const;
    // The two events, in tick order.
    std::vector<MidiEvent> events() const;
    // Time of a tick from the start of the sequence.
    std::chrono::microseconds tickTime(std::int64_t tick) const;
    // Length of the note.
    std::chrono::microseconds duration() const { return tickTime(ticks); }
};

// Plays one loaded sequence. `play` never waits for the sound: it (re)starts the sequence from tick 0
// and returns; the note off follows on the backend's own timer. Not copyable; methods may be called
// from any one thread at a time (the owner's).
class PercussionPlayer {
public:
    virtual ~PercussionPlayer() = default;
    PercussionPlayer() = default;
    PercussionPlayer(const PercussionPlayer&) = delete;
    PercussionPlayer& operator=(const PercussionPlayer&) = delete;

    // Replaces the sequence (stops what plays). Throws std::invalid_argument for an invalid note and
    // SoundError when the player is closed.
    virtual void load(const PercussionNote& note) = 0;
    // Starts the loaded sequence from tick 0; a note still sounding is released first. Does nothing when
    // nothing is loaded or the player is closed. Never blocks for the length of the note.
    virtual void play() = 0;
    // Releases sounding notes and the device. Idempotent.
    virtual void close() = 0;
    // The backend and device, for messages ("FluidSynth (pulseaudio)", "Windows MIDI mapper").
    virtual std::string name() const = 0;
};

// Opens the platform's percussion player: FluidSynth with a live audio driver on Linux, the MIDI
// mapper on Windows. Throws SoundError with the reason when no device can be opened (no audio
// device, no soundfont, no backend built in); never waits for hardware.
std::unique_ptr<PercussionPlayer> openPercussionPlayer();

} // namespace vornal::platform
