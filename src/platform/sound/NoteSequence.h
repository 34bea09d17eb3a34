#pragma once

#include "PercussionPlayer.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace vornal::platform {

// Where a restartable one-shot sequence stands: which events are still due and which notes sound.
// Times are microseconds on the caller's clock (wall time for live output, sample time for rendering),
// so live playback and offline rendering follow exactly the same rules.
class SequenceCursor {
public:
    using Time = std::chrono::microseconds;

    // Replaces the sequence; returns the note offs of notes that still sound. Nothing is due until
    // the next `restart`.
    std::vector<MidiEvent> load(const PercussionNote& note);
    // Starts the sequence from tick 0 at `now`: returns the note offs of notes that still sound (to
    // send first), then the events due at `now` are available from `takeDue`.
    std::vector<MidiEvent> restart(Time now);
    // The events due at or before `now`, in order, and notes them as sounding or released.
    std::vector<MidiEvent> takeDue(Time now);
    // Time of the next due event, if any.
    std::optional<Time> nextDue() const;
    // Ends playback: returns the note offs of notes that still sound; nothing is due any more.
    std::vector<MidiEvent> stop();

    bool loaded() const { return loaded_; }
    const PercussionNote& note() const { return note_; }

private:
    std::vector<MidiEvent> releaseSounding();

    PercussionNote note_;
    std::vector<MidiEvent> events_;
    bool loaded_ = false;
    std::size_t next_ = 0; // index of the next due event; events_.size() when idle
    Time start_{0};
    std::vector<MidiEvent> sounding_; // note ons without their note off yet
};

// Plays a sequence in real time on its own thread, sending each event to `sink` at its time. `play`
// and `load` only post a request and return at once; the sink is called from the scheduler thread only.
class NoteScheduler {
public:
    using Sink = std::function<void(const MidiEvent&)>;

    explicit NoteScheduler(Sink sink);
    ~NoteScheduler();
    NoteScheduler(const NoteScheduler&) = delete;
    NoteScheduler& operator=(const NoteScheduler&) = delete;

    void load(const PercussionNote& note);
    void play();
    // Releases sounding notes, sends them and ends the thread. Idempotent.
    void close();
    bool closed() const;

private:
    using Clock = std::chrono::steady_clock;
    SequenceCursor::Time now() const;
    void run();

    Sink sink_;
    Clock::time_point epoch_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    SequenceCursor cursor_;
    std::vector<MidiEvent> outbox_; // events to send at once
    bool restartPending_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace vornal::platform
