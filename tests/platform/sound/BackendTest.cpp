#include "platform/sound/PercussionPlayer.h"

#if defined(_WIN32)
#include "platform/sound/windows/WinMidiPlayer.h"
#include <windows.h>
// mmsystem.h needs the types of windows.h
#include <mmsystem.h>
#elif defined(VORNAL_SOUND_FLUIDSYNTH)
#include "platform/sound/fluidsynth/FluidSynthPlayer.h"
#endif

#include <gtest/gtest.h>

#include <iostream>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace std::chrono_literals;
using vornal::platform::PercussionNote;
using vornal::platform::SoundError;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Opening the platform's player either works or fails at once with a reason; it never waits for hardware.
TEST(PercussionPlayer, OpensOrFailsFastWithAReason) {
    const auto before = std::chrono::steady_clock::now();
    try {
        auto player = vornal::platform::openPercussionPlayer();
        EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
        PercussionNote note;
        player->load(note);
        player->play();
        player->close();
        player->close();
        player->play(); // harmless after close
    } catch (const SoundError& e) {
        EXPECT_LT(std::chrono::steady_clock::now() - before, 1s) << "failing took too long";
        EXPECT_GT(std::string(e.what()).size(), 20u) << e.what();
    }
}

} // namespace

#if defined(_WIN32)

TEST(WinMidiPlayer, ResultCodesHaveTheirNames) {
    EXPECT_EQ(vornal::platform::WinMidiPlayer::resultName(MIDIERR_INVALIDSETUP), "MIDIERR_INVALIDSETUP");
    EXPECT_EQ(vornal::platform::WinMidiPlayer::resultName(MMSYSERR_NODRIVER), "MMSYSERR_NODRIVER");
    EXPECT_EQ(vornal::platform::WinMidiPlayer::resultName(4242), "error 4242");
}

TEST(WinMidiPlayer, FailureNamesTheMidiMapperAndTheCode) {
    try {
        vornal::platform::WinMidiPlayer player;
        player.load(PercussionNote{});
        player.play();
        std::this_thread::sleep_for(200ms);
        player.close();
    } catch (const SoundError& e) {
        EXPECT_TRUE(contains(e.what(), "MIDI mapper")) << e.what();
        EXPECT_TRUE(contains(e.what(), "ERR_")) << e.what();
        std::cout << "no MIDI output here: " << e.what() << '\n';
    }
}

#elif defined(VORNAL_SOUND_FLUIDSYNTH)

using vornal::platform::FluidSynthOptions;
using vornal::platform::FluidSynthPlayer;
using vornal::platform::Rendering;
using vornal::platform::renderOffline;

namespace {

// The soundfont the tests render with, or none (the test then skips).
std::string soundFontOrEmpty() {
    try {
        return vornal::platform::findSoundFont(FluidSynthOptions::fromEnvironment().soundFont);
    } catch (const SoundError&) {
        return {};
    }
}

#define REQUIRE_SOUNDFONT()                                                                                  \
    if (soundFontOrEmpty().empty())                                                                          \
    GTEST_SKIP() << "no General-MIDI soundfont installed (timgm6mb-soundfont)"

PercussionNote noteOf(int key) {
    PercussionNote n;
    n.note = key;
    return n;
}

} // namespace

TEST(FluidSynthSoundFont, UnreadableChoiceIsReportedWithTheRemedy) {
    try {
        vornal::platform::findSoundFont("/nonexistent/dir/drums.sf2");
        FAIL() << "accepted a missing soundfont";
    } catch (const SoundError& e) {
        EXPECT_TRUE(contains(e.what(), "/nonexistent/dir/drums.sf2")) << e.what();
        EXPECT_TRUE(contains(e.what(), "VORNAL_SOUNDFONT")) << e.what();
    }
    FluidSynthOptions options;
    options.soundFont = "/nonexistent/dir/drums.sf2";
    EXPECT_THROW(FluidSynthPlayer{options}, SoundError);
}

TEST(FluidSynthSoundFont, AFileThatIsNoSoundFontIsRefused) {
    const auto path = std::filesystem::temp_directory_path() / "vornal-not-a-soundfont.sf2";
    std::ofstream(path) << "RIFF nonsense";
    FluidSynthOptions options;
    options.soundFont = path.string();
    try {
        renderOffline(noteOf(56), {0us}, 100ms, options);
        ADD_FAILURE() << "rendered with a broken soundfont";
    } catch (const SoundError& e) {
        EXPECT_TRUE(contains(e.what(), "cannot be loaded")) << e.what();
    }
    std::filesystem::remove(path);
}

TEST(FluidSynthRender, CowbellIsAudibleFor125MsOnTheDrumKit) {
    REQUIRE_SOUNDFONT();
    const Rendering r = renderOffline(noteOf(56), {0us}, 1500ms);
    EXPECT_EQ(r.bank, 128) << "channel 10 plays the drum bank";
    EXPECT_EQ(r.program, 0) << "standard kit";

    ASSERT_EQ(r.events.size(), 2u);
    EXPECT_EQ(r.events[0].frame, 0);
    EXPECT_TRUE(r.events[0].event.isNoteOn());
    EXPECT_TRUE(r.events[1].event.isNoteOff());
    EXPECT_NEAR(static_cast<double>(r.events[1].frame), 0.125 * r.sampleRate, 1.0) << "one tick = 125 ms";

    ASSERT_FALSE(r.voices.empty()) << "the synthesizer started no voice";
    for (const Rendering::Voice& v : r.voices) {
        EXPECT_EQ(v.channel, 9);
        EXPECT_EQ(v.key, 56);
        EXPECT_EQ(v.velocity, 127);
        EXPECT_EQ(v.frame, 0);
    }
    EXPECT_GT(r.peak(0ms, 125ms), 0.05) << "the beep is (nearly) silent";
    EXPECT_LT(r.peak(1400ms, 1500ms), 0.01) << "the note is still sounding long after its note off";
}

TEST(FluidSynthRender, EachSoundPlaysItsOwnKey) {
    REQUIRE_SOUNDFONT();
    const Rendering cowbell = renderOffline(noteOf(56), {0us}, 300ms);
    for (int key : {53, 67, 68, 75, 81}) {
        const Rendering r = renderOffline(noteOf(key), {0us}, 300ms);
        ASSERT_FALSE(r.voices.empty()) << key;
        for (const Rendering::Voice& v : r.voices) {
            EXPECT_EQ(v.key, key);
        }
        EXPECT_GT(r.peak(0ms, 125ms), 0.02) << "key " << key << " is silent";
        EXPECT_NE(r.samples, cowbell.samples) << "key " << key << " sounds like the cowbell";
    }
}

TEST(FluidSynthRender, BeepWhilePlayingRestartsFromTickZero) {
    REQUIRE_SOUNDFONT();
    const Rendering r = renderOffline(noteOf(56), {0us, 60ms}, 600ms);
    ASSERT_EQ(r.events.size(), 4u);
    const std::int64_t restart = r.frameAt(60ms);
    EXPECT_TRUE(r.events[1].event.isNoteOff());
    EXPECT_EQ(r.events[1].frame, restart);
    EXPECT_TRUE(r.events[2].event.isNoteOn());
    EXPECT_EQ(r.events[2].frame, restart);
    EXPECT_NEAR(static_cast<double>(r.events[3].frame - restart), 0.125 * r.sampleRate, 1.0);
    EXPECT_GT(r.peak(60ms, 185ms), 0.05);
}

TEST(FluidSynthLive, NoAudioDeviceFailsAtOnceAndSaysWhat) {
    REQUIRE_SOUNDFONT();
    FluidSynthOptions options = FluidSynthOptions::fromEnvironment();
    options.audioDrivers = {"no-such-driver"};
    const auto before = std::chrono::steady_clock::now();
    try {
        FluidSynthPlayer player(options);
        FAIL() << "opened a driver that does not exist";
    } catch (const SoundError& e) {
        EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
        EXPECT_TRUE(contains(e.what(), "No audio output device")) << e.what();
        EXPECT_TRUE(contains(e.what(), "no-such-driver")) << e.what();
    }

    // The real drivers on this machine: a device, or a quick failure naming each driver tried.
    options.audioDrivers = {};
    const auto start = std::chrono::steady_clock::now();
    try {
        FluidSynthPlayer player(options);
        player.load(noteOf(56));
        player.play();
        player.close();
    } catch (const SoundError& e) {
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
        for (const char* driver : {"pulseaudio", "alsa"}) {
            EXPECT_TRUE(contains(e.what(), driver)) << e.what();
        }
    }
}

TEST(FluidSynthLive, FileDriverRecordsTheBeepInRealTime) {
    REQUIRE_SOUNDFONT();
    const auto path = std::filesystem::temp_directory_path() / "vornal-live-beep.raw";
    std::filesystem::remove(path);
    FluidSynthOptions options = FluidSynthOptions::fromEnvironment();
    options.audioDrivers = {"file"};
    options.audioFile = path.string();
    {
        FluidSynthPlayer player(options);
        EXPECT_EQ(player.name(), "FluidSynth (file)");
        player.load(noteOf(56));
        player.play();
        std::this_thread::sleep_for(400ms);
        player.close();
        EXPECT_THROW(player.load(noteOf(56)), SoundError) << "loading into a closed player";
    }
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in.good()) << "the file driver wrote nothing to " << path;
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 44100u) << "less than a quarter second of audio";
    int peak = 0;
    for (std::size_t i = 64; i + 1 < bytes.size(); i += 2) {
        std::int16_t sample = 0;
        std::memcpy(&sample, &bytes[i], 2);
        peak = std::max(peak, std::abs(static_cast<int>(sample)));
    }
    EXPECT_GT(peak / 32768.0, 0.05);
    std::filesystem::remove(path);
}

#endif
