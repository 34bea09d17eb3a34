#include "OutputBots.h"

#include <stdexcept>

#if __has_include("vornal/worker/Keybot.h")
#define VORNAL_HAVE_KEYBOT 1
#include "vornal/worker/Keybot.h"
#endif
#if __has_include("vornal/worker/SoundBot.h")
#define VORNAL_HAVE_SOUNDBOT 1
#include "vornal/worker/SoundBot.h"
#endif

namespace vornal {

namespace {

#ifdef VORNAL_HAVE_KEYBOT
class KeybotOutput final : public KeyOutput {
public:
    KeybotOutput(const config::Config& c, worker::WeightWorkerView* view)
        : bot_(worker::Keybot::fromConfig(c, view)) {
        bot_->start();
    }
    ~KeybotOutput() override { stop(); }
    void add(const QString& value) override {
        if (bot_)
            bot_->add(value);
    }
    int waiting() const override { return bot_ ? bot_->pendingCount() : 0; }
    void stop() override {
        if (bot_)
            bot_->finishAndStop();
        bot_.reset();
    }
    void setHeld(bool held) override {
        if (bot_)
            bot_->setHeld(held);
    }
    bool isHeld() const override { return bot_ && bot_->isHeld(); }
    bool isBehind() const override { return bot_ && bot_->isBehind(); }
    std::optional<bool> capsLockOn() override { return bot_ ? bot_->capsLockOn() : std::nullopt; }

private:
    std::unique_ptr<worker::Keybot> bot_;
};
#endif

#ifdef VORNAL_HAVE_SOUNDBOT
class SoundBotOutput final : public SoundOutput {
public:
    explicit SoundBotOutput(std::unique_ptr<worker::SoundBot> bot) : bot_(std::move(bot)) {}
    ~SoundBotOutput() override { close(); }
    void beep() override {
        if (bot_)
            bot_->beep();
    }
    void close() override {
        if (bot_)
            bot_->close();
        bot_.reset();
    }

private:
    std::unique_ptr<worker::SoundBot> bot_;
};
#endif

} // namespace

std::unique_ptr<KeyOutput> KeyOutput::create([[maybe_unused]] const config::Config& config,
                                             [[maybe_unused]] worker::WeightWorkerView* view) {
#ifdef VORNAL_HAVE_KEYBOT
    return std::make_unique<KeybotOutput>(config, view);
#else
    throw std::runtime_error("keystroke output is not part of this build");
#endif
}

std::unique_ptr<SoundOutput> SoundOutput::create([[maybe_unused]] const config::ConfigHelper::Sound& sound) {
#ifdef VORNAL_HAVE_SOUNDBOT
    auto bot = worker::SoundBot::forSound(sound);
    if (!bot)
        return nullptr; // no sound chosen
    return std::make_unique<SoundBotOutput>(std::move(bot));
#else
    throw std::runtime_error("sound output is not part of this build");
#endif
}

} // namespace vornal
