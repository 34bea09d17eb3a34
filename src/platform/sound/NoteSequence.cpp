#include "NoteSequence.h"

#include <algorithm>

namespace vornal::platform {

std::vector<MidiEvent> SequenceCursor::load(const PercussionNote& note) {
    note.validate();
    std::vector<MidiEvent> released = stop();
    note_ = note;
    events_ = note.events();
    next_ = events_.size();
    loaded_ = true;
    return released;
}

std::vector<MidiEvent> SequenceCursor::releaseSounding() {
    std::vector<MidiEvent> offs;
    for (const MidiEvent& on : sounding_) {
        offs.push_back({0, static_cast<std::uint8_t>(0x80 | on.channel()), on.data1, on.data2});
    }
    sounding_.clear();
    return offs;
}

std::vector<MidiEvent> SequenceCursor::restart(Time now) {
    if (!loaded_) {
        return {};
    }
    std::vector<MidiEvent> released = releaseSounding();
    start_ = now;
    next_ = 0;
    return released;
}

std::vector<MidiEvent> SequenceCursor::takeDue(Time now) {
    std::vector<MidiEvent> due;
    while (next_ < events_.size() && start_ + note_.tickTime(events_[next_].tick) <= now) {
        const MidiEvent& e = events_[next_++];
        if (e.isNoteOn()) {
            sounding_.push_back(e);
        } else if (e.isNoteOff()) {
            std::erase_if(sounding_, [&](const MidiEvent& on) {
                return on.channel() == e.channel() && on.data1 == e.data1;
            });
        }
        due.push_back(e);
    }
    return due;
}

std::optional<SequenceCursor::Time> SequenceCursor::nextDue() const {
    if (next_ >= events_.size()) {
        return std::nullopt;
    }
    return start_ + note_.tickTime(events_[next_].tick);
}

std::vector<MidiEvent> SequenceCursor::stop() {
    next_ = events_.size();
    return releaseSounding();
}

NoteScheduler::NoteScheduler(Sink sink) : sink_(std::move(sink)), epoch_(Clock::now()) {
    thread_ = std::thread([this] { run(); });
}

NoteScheduler::~NoteScheduler() {
    close();
}

SequenceCursor::Time NoteScheduler::now() const {
    return std::chrono::duration_cast<SequenceCursor::Time>(Clock::now() - epoch_);
}

void NoteScheduler::load(const PercussionNote& note) {
    note.validate();
    std::lock_guard lock(mutex_);
    if (stopping_) {
        return;
    }
    std::vector<MidiEvent> released = cursor_.load(note);
    outbox_.insert(outbox_.end(), released.begin(), released.end());
    wake_.notify_one();
}

void NoteScheduler::play() {
    std::lock_guard lock(mutex_);
    if (stopping_) {
        return;
    }
    // The thread restarts the sequence when it wakes, so the note lasts its full length even when
    // the thread is scheduled late.
    restartPending_ = true;
    wake_.notify_one();
}

void NoteScheduler::close() {
    {
        std::lock_guard lock(mutex_);
        if (!stopping_) {
            stopping_ = true;
            restartPending_ = false;
            std::vector<MidiEvent> released = cursor_.stop();
            outbox_.insert(outbox_.end(), released.begin(), released.end());
            wake_.notify_one();
        }
    }
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
        thread_.join();
    }
}

bool NoteScheduler::closed() const {
    std::lock_guard lock(mutex_);
    return stopping_;
}

void NoteScheduler::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        std::vector<MidiEvent> send;
        send.swap(outbox_);
        if (restartPending_) {
            restartPending_ = false;
            std::vector<MidiEvent> released = cursor_.restart(now());
            send.insert(send.end(), released.begin(), released.end());
        }
        std::vector<MidiEvent> due = cursor_.takeDue(now());
        send.insert(send.end(), due.begin(), due.end());
        if (!send.empty()) {
            lock.unlock();
            for (const MidiEvent& e : send) {
                try {
                    sink_(e);
                } catch (...) {
                    // A device that fails mid-note must not end the timer; the next beep tries again.
                }
            }
            lock.lock();
            continue; // requests may have arrived while sending
        }
        if (stopping_) {
            return;
        }
        if (std::optional<SequenceCursor::Time> next = cursor_.nextDue()) {
            wake_.wait_until(lock, epoch_ + *next);
        } else {
            wake_.wait(lock);
        }
    }
}

} // namespace vornal::platform
