#include "vornal/worker/SoundBot.h"

namespace vornal::worker {

platform::PercussionNote SoundBot::sequenceFor(int note) {
    platform::PercussionNote sequence; // channel 9, velocity 127, one tick at 4 ppq and 120 bpm
    sequence.note = note;
    return sequence;
}

SoundBot::SoundBot(int note) : note_(note) {
    sequenceFor(note).validate(); // a bad note fails before any device is opened
    player_ = platform::openPercussionPlayer();
    player_->load(sequenceFor(note));
}

SoundBot::SoundBot(int note, std::unique_ptr<platform::PercussionPlayer> player)
    : note_(note), player_(std::move(player)) {
    if (!player_) {
        throw std::invalid_argument("SoundBot needs a percussion player");
    }
    player_->load(sequenceFor(note));
}

SoundBot::~SoundBot() {
    try {
        close();
    } catch (...) {
        // Closing a device that has gone away must not end the program.
    }
}

std::unique_ptr<SoundBot> SoundBot::forSound(const config::ConfigHelper::Sound& sound) {
    if (sound == config::ConfigHelper::Sound::NONE) {
        return nullptr;
    }
    return std::make_unique<SoundBot>(sound.getPercussionNumber());
}

void SoundBot::beep() {
    if (player_) {
        player_->play();
    }
}

void SoundBot::close() {
    if (player_) {
        std::unique_ptr<platform::PercussionPlayer> player = std::move(player_);
        player->close();
    }
}

} // namespace vornal::worker
