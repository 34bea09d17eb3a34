#pragma once

#include "../PercussionPlayer.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vornal::platform {

// Records what its owner asks of it, for tests of code that plays sounds. The log is shared, so a test
// can still read it after the owner has closed and destroyed the player. Thread-safe.
class RecordingPercussionPlayer final : public PercussionPlayer {
public:
    struct Record {
        std::vector<PercussionNote> loads;
        int plays = 0;
        int closes = 0;
        int playsAfterClose = 0;
        bool destroyed = false;
    };
    class Log {
    public:
        Record record() const {
            std::lock_guard lock(mutex_);
            return record_;
        }

    private:
        friend class RecordingPercussionPlayer;
        mutable std::mutex mutex_;
        Record record_;
    };

    RecordingPercussionPlayer() : log_(std::make_shared<Log>()) {}
    ~RecordingPercussionPlayer() override {
        std::lock_guard lock(log_->mutex_);
        log_->record_.destroyed = true;
    }

    void load(const PercussionNote& note) override {
        note.validate();
        std::lock_guard lock(log_->mutex_);
        if (log_->record_.closes > 0) {
            throw SoundError("The sound output " + name() + " is closed.");
        }
        log_->record_.loads.push_back(note);
    }
    void play() override {
        std::lock_guard lock(log_->mutex_);
        Record& r = log_->record_;
        ++(r.closes > 0 ? r.playsAfterClose : r.plays);
    }
    void close() override {
        std::lock_guard lock(log_->mutex_);
        ++log_->record_.closes;
    }
    std::string name() const override { return "recording player"; }

    std::shared_ptr<const Log> log() const { return log_; }

private:
    std::shared_ptr<Log> log_;
};

} // namespace vornal::platform
