#include "vornal/worker/SoundBot.h"
#include "platform/sound/fake/RecordingPercussionPlayer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace std::chrono_literals;
using vornal::config::ConfigHelper;
using vornal::platform::RecordingPercussionPlayer;
using vornal::platform::SoundError;
using vornal::worker::SoundBot;

namespace {

struct Fake {
    std::shared_ptr<const RecordingPercussionPlayer::Log> log;
    std::unique_ptr<SoundBot> bot;
};

Fake makeBot(int note) {
    auto player = std::make_unique<RecordingPercussionPlayer>();
    auto log = player->log();
    return {log, std::make_unique<SoundBot>(note, std::move(player))};
}

} // namespace

TEST(SoundBot, LoadsTheOneNoteSequenceOnThePercussionChannel) {
    Fake f = makeBot(56);
    const auto record = f.log->record();
    ASSERT_EQ(record.loads.size(), 1u);
    const auto& n = record.loads[0];
    EXPECT_EQ(n.channel, 9);
    EXPECT_EQ(n.note, 56);
    EXPECT_EQ(n.velocity, 127);
    EXPECT_EQ(n.ppq, 4);
    EXPECT_EQ(n.ticks, 1);
    EXPECT_EQ(n.tempoBpm, 120);
    EXPECT_EQ(n.duration(), 125ms);
    EXPECT_EQ(record.plays, 0) << "construction makes no sound";
}

TEST(SoundBot, BeepsUntilClosedAndCloseIsFinal) {
    Fake f = makeBot(75);
    f.bot->beep();
    f.bot->beep();
    f.bot->beep();
    EXPECT_EQ(f.log->record().plays, 3);

    f.bot->close();
    EXPECT_FALSE(f.bot->isOpen());
    f.bot->close();
    f.bot->beep();
    const auto record = f.log->record();
    EXPECT_EQ(record.closes, 1) << "the device is closed exactly once";
    EXPECT_EQ(record.playsAfterClose, 0);
    EXPECT_TRUE(record.destroyed) << "close lets go of the device";
    EXPECT_EQ(f.bot->note(), 75);
}

TEST(SoundBot, DestroyingAnOpenBotClosesTheDevice) {
    Fake f = makeBot(53);
    f.bot->beep();
    f.bot.reset();
    const auto record = f.log->record();
    EXPECT_EQ(record.plays, 1);
    EXPECT_EQ(record.closes, 1);
    EXPECT_TRUE(record.destroyed);
}

TEST(SoundBot, BadNotesAreRefusedBeforeAnyDeviceOpens) {
    for (int note : {-1, 128, 1000}) {
        EXPECT_THROW(SoundBot{note}, std::invalid_argument) << note;
        EXPECT_THROW(makeBot(note), std::invalid_argument) << note;
    }
    EXPECT_THROW(SoundBot(56, nullptr), std::invalid_argument);
}

TEST(SoundBot, SoundNoneOpensNothing) {
    // With the file driver selected, any device opened would leave its output file behind.
    const auto path = std::filesystem::temp_directory_path() / "vornal-soundbot-none.raw";
    std::filesystem::remove(path);
    setenv("VORNAL_AUDIO_DRIVER", "file", 1);
    setenv("VORNAL_AUDIO_FILE", path.c_str(), 1);
    EXPECT_EQ(SoundBot::forSound(ConfigHelper::Sound::NONE), nullptr);
    unsetenv("VORNAL_AUDIO_DRIVER");
    unsetenv("VORNAL_AUDIO_FILE");
    EXPECT_FALSE(std::filesystem::exists(path)) << "a sound device was opened for NONE";
}

// The real backend on this machine: either it opens and beeps without blocking, or it fails at once
// with a reason (machines without a sound card).
TEST(SoundBot, RealDeviceOpensOrFailsWithinASecond) {
    const auto before = std::chrono::steady_clock::now();
    try {
        auto bot = SoundBot::forSound(ConfigHelper::Sound::COWBELL);
        ASSERT_NE(bot, nullptr);
        const auto beepStart = std::chrono::steady_clock::now();
        bot->beep();
        EXPECT_LT(std::chrono::steady_clock::now() - beepStart, 20ms) << "beep blocked the caller";
        bot->close();
    } catch (const SoundError& e) {
        EXPECT_LT(std::chrono::steady_clock::now() - before, 1s) << "failing took too long";
        EXPECT_NE(std::string(e.what()), "");
        std::cout << "sound output not available here: " << e.what() << '\n';
    }
}

#if defined(VORNAL_SOUND_FLUIDSYNTH)
// End to end through FluidSynth's file driver (chosen through the environment, as a user could): the
// beep returns at once and the recorded audio holds the cowbell.
TEST(SoundBot, BeepIsHeardThroughTheFileDriver) {
    const auto path = std::filesystem::temp_directory_path() / "vornal-soundbot-beep.raw";
    std::filesystem::remove(path);
    setenv("VORNAL_AUDIO_DRIVER", "file", 1);
    setenv("VORNAL_AUDIO_FILE", path.c_str(), 1);
    std::unique_ptr<SoundBot> bot;
    try {
        bot = SoundBot::forSound(ConfigHelper::Sound::COWBELL);
    } catch (const SoundError& e) {
        unsetenv("VORNAL_AUDIO_DRIVER");
        unsetenv("VORNAL_AUDIO_FILE");
        if (std::string(e.what()).find("soundfont") != std::string::npos) {
            GTEST_SKIP() << e.what();
        }
        FAIL() << e.what();
    }
    unsetenv("VORNAL_AUDIO_DRIVER");
    unsetenv("VORNAL_AUDIO_FILE");
    const auto beepStart = std::chrono::steady_clock::now();
    bot->beep();
    EXPECT_LT(std::chrono::steady_clock::now() - beepStart, 20ms);
    std::this_thread::sleep_for(300ms);
    bot->close();

    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int peak = 0;
    for (std::size_t i = 64; i + 1 < bytes.size(); i += 2) {
        const auto sample = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[i]) |
                                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
        peak = std::max(peak, std::abs(static_cast<int>(sample)));
    }
    EXPECT_GT(peak / 32768.0, 0.05) << bytes.size() << " bytes recorded";
    std::filesystem::remove(path);
}
#endif
