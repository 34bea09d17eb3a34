#include "platform/sound/NoteSequence.h"
#include "platform/sound/PercussionPlayer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using vornal::platform::MidiEvent;
using vornal::platform::NoteScheduler;
using vornal::platform::PercussionNote;
using vornal::platform::SequenceCursor;

namespace {

MidiEvent on(int note) {
    return {0, 0x99, static_cast<std::uint8_t>(note), 127};
}
MidiEvent off(int note, std::int64_t tick = 0) {
    return {tick, 0x89, static_cast<std::uint8_t>(note), 127};
}

PercussionNote cowbell() {
    PercussionNote n;
    n.note = 56;
    return n;
}

} // namespace

TEST(PercussionNote, OneNoteOnChannelTenLastingOneTickOf125Ms) {
    const PercussionNote n = cowbell();
    EXPECT_EQ(n.events(), (std::vector<MidiEvent>{on(56), off(56, 1)}));
    EXPECT_EQ(n.duration(), 125ms);

    PercussionNote slow = n;
    slow.tempoBpm = 60;
    slow.ticks = 2;
    EXPECT_EQ(slow.duration(), 500ms);
}

TEST(PercussionNote, OutOfRangeFieldsAreNamed) {
    struct Case {
        const char* field;
        void (*change)(PercussionNote&);
    };
    const Case cases[] = {
        {"channel", [](PercussionNote& n) { n.channel = 16; }},
        {"note", [](PercussionNote& n) { n.note = 128; }},
        {"note", [](PercussionNote& n) { n.note = -1; }},
        {"velocity", [](PercussionNote& n) { n.velocity = 128; }},
        {"length in ticks", [](PercussionNote& n) { n.ticks = 0; }},
        {"ticks per quarter note", [](PercussionNote& n) { n.ppq = 0; }},
        {"tempo", [](PercussionNote& n) { n.tempoBpm = 0; }},
    };
    for (const Case& c : cases) {
        PercussionNote n = cowbell();
        c.change(n);
        try {
            n.validate();
            ADD_FAILURE() << "accepted a bad " << c.field;
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(c.field), std::string::npos) << e.what();
        }
    }
    EXPECT_NO_THROW(cowbell().validate());
}

TEST(SequenceCursor, PlaysFromTickZeroAndReleasesAfterOneTick) {
    SequenceCursor cursor;
    EXPECT_TRUE(cursor.restart(0us).empty()) << "nothing plays before a sequence is loaded";
    EXPECT_TRUE(cursor.load(cowbell()).empty());
    EXPECT_FALSE(cursor.nextDue()) << "loading does not start playback";

    EXPECT_TRUE(cursor.restart(1000us).empty());
    EXPECT_TRUE(cursor.takeDue(999us).empty());
    EXPECT_EQ(cursor.takeDue(1000us), std::vector<MidiEvent>{on(56)});
    EXPECT_EQ(cursor.nextDue(), 126000us);
    EXPECT_TRUE(cursor.takeDue(125999us).empty());
    EXPECT_EQ(cursor.takeDue(126000us), std::vector<MidiEvent>{off(56, 1)});
    EXPECT_FALSE(cursor.nextDue());
    EXPECT_TRUE(cursor.stop().empty()) << "nothing sounds after the note off";

    // Played again after it ended: the same two events, nothing to release first.
    EXPECT_TRUE(cursor.restart(500000us).empty());
    EXPECT_EQ(cursor.takeDue(700000us), (std::vector<MidiEvent>{on(56), off(56, 1)}));
}

TEST(SequenceCursor, RestartWhileSoundingReleasesAndStartsOver) {
    SequenceCursor cursor;
    cursor.load(cowbell());
    cursor.restart(0us);
    EXPECT_EQ(cursor.takeDue(0us), std::vector<MidiEvent>{on(56)});

    EXPECT_EQ(cursor.restart(60000us), std::vector<MidiEvent>{off(56)});
    EXPECT_EQ(cursor.takeDue(60000us), std::vector<MidiEvent>{on(56)});
    EXPECT_TRUE(cursor.takeDue(125000us).empty()) << "the first note's off is not sent again";
    EXPECT_EQ(cursor.takeDue(185000us), std::vector<MidiEvent>{off(56, 1)});
}

TEST(SequenceCursor, StopAndReloadReleaseTheSoundingNote) {
    SequenceCursor cursor;
    cursor.load(cowbell());
    cursor.restart(0us);
    cursor.takeDue(0us);
    EXPECT_EQ(cursor.stop(), std::vector<MidiEvent>{off(56)});
    EXPECT_FALSE(cursor.nextDue());

    cursor.restart(0us);
    cursor.takeDue(0us);
    PercussionNote claves = cowbell();
    claves.note = 75;
    EXPECT_EQ(cursor.load(claves), std::vector<MidiEvent>{off(56)});
    cursor.restart(10us);
    EXPECT_EQ(cursor.takeDue(10us), std::vector<MidiEvent>{on(75)});
}

namespace {

// Receives the scheduler's events with the time they arrived.
struct Recorder {
    using Clock = std::chrono::steady_clock;
    struct Entry {
        MidiEvent event;
        Clock::time_point at;
    };
    std::mutex mutex;
    std::vector<Entry> entries;

    NoteScheduler::Sink sink() {
        return [this](const MidiEvent& e) {
            std::lock_guard lock(mutex);
            entries.push_back({e, Clock::now()});
        };
    }
    std::vector<Entry> snapshot() {
        std::lock_guard lock(mutex);
        return entries;
    }
    bool waitFor(std::size_t count, std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            if (snapshot().size() >= count) {
                return true;
            }
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }
};

} // namespace

TEST(NoteScheduler, PlayReturnsAtOnceAndTheNoteOffFollowsAfter125Ms) {
    Recorder rec;
    NoteScheduler scheduler(rec.sink());
    scheduler.load(cowbell());

    const auto before = Recorder::Clock::now();
    scheduler.play();
    EXPECT_LT(Recorder::Clock::now() - before, 20ms) << "play must not wait for the note";

    ASSERT_TRUE(rec.waitFor(2, 2s));
    const auto entries = rec.snapshot();
    EXPECT_EQ(entries[0].event, on(56));
    EXPECT_EQ(entries[1].event, off(56, 1));
    EXPECT_LT(entries[0].at - before, 100ms);
    EXPECT_GE(entries[1].at - before, 125ms);
    const auto held = entries[1].at - entries[0].at;
    EXPECT_GE(held, 120ms) << "the note is cut short";
    EXPECT_LT(held, 400ms);
}

TEST(NoteScheduler, BeepWhilePlayingRestartsTheNote) {
    Recorder rec;
    NoteScheduler scheduler(rec.sink());
    scheduler.load(cowbell());
    scheduler.play();
    ASSERT_TRUE(rec.waitFor(1, 1s));
    std::this_thread::sleep_for(40ms);
    scheduler.play();
    ASSERT_TRUE(rec.waitFor(4, 2s));
    std::this_thread::sleep_for(200ms);
    const auto entries = rec.snapshot();
    ASSERT_EQ(entries.size(), 4u) << "one note off per note on, no stray events";
    EXPECT_EQ(entries[0].event, on(56));
    EXPECT_EQ(entries[1].event, off(56)); // released by the restart
    EXPECT_EQ(entries[2].event, on(56));
    EXPECT_EQ(entries[3].event, off(56, 1));
    EXPECT_LT(entries[2].at - entries[1].at, 20ms);
    EXPECT_GE(entries[3].at - entries[2].at, 120ms);
}

TEST(NoteScheduler, CloseReleasesTheSoundingNoteAndIgnoresLaterPlays) {
    Recorder rec;
    NoteScheduler scheduler(rec.sink());
    scheduler.load(cowbell());
    scheduler.play();
    ASSERT_TRUE(rec.waitFor(1, 1s));
    scheduler.close();
    EXPECT_EQ(rec.snapshot().size(), 2u) << "the note off is sent before close returns";
    scheduler.play();
    scheduler.close();
    EXPECT_TRUE(scheduler.closed());
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(rec.snapshot().size(), 2u);
}

TEST(NoteScheduler, BurstOfBeepsStaysBalancedAndQuick) {
    Recorder rec;
    NoteScheduler scheduler(rec.sink());
    scheduler.load(cowbell());
    const auto before = Recorder::Clock::now();
    for (int i = 0; i < 2000; ++i) {
        scheduler.play();
    }
    EXPECT_LT(Recorder::Clock::now() - before, 500ms);
    scheduler.close();
    int sounding = 0;
    for (const auto& entry : rec.snapshot()) {
        sounding += entry.event.isNoteOn() ? 1 : -1;
        ASSERT_GE(sounding, 0) << "a note off without its note on";
        ASSERT_LE(sounding, 1) << "two notes at once";
    }
    EXPECT_EQ(sounding, 0) << "a note left sounding after close";
}

TEST(NoteScheduler, SinkFailureDoesNotStopTheTimer) {
    int calls = 0;
    std::mutex mutex;
    NoteScheduler scheduler([&](const MidiEvent&) {
        std::lock_guard lock(mutex);
        if (++calls == 1) {
            throw std::runtime_error("device gone");
        }
    });
    scheduler.load(cowbell());
    scheduler.play();
    std::this_thread::sleep_for(200ms);
    scheduler.close();
    std::lock_guard lock(mutex);
    EXPECT_EQ(calls, 2) << "the note off still went out after the note on failed";
}
