#include "OutputBots.h"

#include "vornal/worker/Keybot.h"
#include "vornal/worker/SoundBot.h"

namespace vornal {

namespace {

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
            bot_->stop();
        bot_.reset();
    }
    std::optional<bool> capsLockOn() override { return bot_ ? bot_->capsLockOn() : std::nullopt; }

private:
    std::unique_ptr<worker::Keybot> bot_;
};

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

} // namespace

std::unique_ptr<KeyOutput> KeyOutput::create(const config::Config& config, worker::WeightWorkerView* view) {
    return std::make_unique<KeybotOutput>(config, view);
}

std::unique_ptr<SoundOutput> SoundOutput::create(const config::ConfigHelper::Sound& sound) {
    auto bot = worker::SoundBot::forSound(sound);
    if (!bot)
        return nullptr; // no sound chosen
    return std::make_unique<SoundBotOutput>(std::move(bot));
}

} // namespace vornal
