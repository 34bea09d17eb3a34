#pragma once

#include "platform/sound/PercussionPlayer.h"
#include "vornal/config/ConfigHelper.h"

#include <memory>

namespace vornal::worker {

// Acoustic feedback for every line that carries a value: one General-MIDI percussion note (channel 10,
// velocity 127, one tick at 4 ticks per quarter note and 120 bpm, so 125 ms) on the platform's player.
//
// Connection control creates one SoundBot per connection only when the sound setting is not NONE
// (`forSound` returns none for NONE, so no device is opened at all), calls `beep` on the UI thread for
// each line that still has a value after duplicate suppression, and closes it when the connection stops.
class SoundBot {
public:
    // Opens the platform's player and loads the one-note sequence for `note` (a General-MIDI percussion
    // key, 0-127). Throws platform::SoundError when no sound device can be opened (the message says what
    // is missing; never waits for hardware) and std::invalid_argument for a note outside 0-127.
    explicit SoundBot(int note);
    // The same with a given player (tests use a recording one).
    SoundBot(int note, std::unique_ptr<platform::PercussionPlayer> player);
    ~SoundBot();
    SoundBot(const SoundBot&) = delete;
    SoundBot& operator=(const SoundBot&) = delete;

    // A SoundBot for the sound's percussion number, or none for NONE. Throws like the constructor.
    static std::unique_ptr<SoundBot> forSound(const config::ConfigHelper::Sound& sound);
    // The one-note sequence played for `note`.
    static platform::PercussionNote sequenceFor(int note);

    // Plays the note from the start; a note still sounding starts again. Returns at once (the note off
    // follows on the player's own timer), so it never holds up the UI. Does nothing after `close`.
    void beep();
    // Stops the sound and releases the device. Idempotent.
    void close();

    int note() const { return note_; }
    bool isOpen() const { return player_ != nullptr; }

private:
    int note_;
    std::unique_ptr<platform::PercussionPlayer> player_;
};

} // namespace vornal::worker
