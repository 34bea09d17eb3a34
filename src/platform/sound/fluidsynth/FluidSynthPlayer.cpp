#include "FluidSynthPlayer.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>

namespace vornal::platform {

namespace {

// FluidSynth reports failures only through its log. While a thread sets up a synthesizer or driver,
// the messages are collected for the error text; other errors and warnings go to the standard error.
thread_local std::vector<std::string>* tCapture = nullptr;

void logToCapture(int level, const char* message, void*) {
    if (tCapture != nullptr) {
        if (level <= FLUID_WARN) {
            tCapture->emplace_back(message);
        }
        return;
    }
    if (level <= FLUID_WARN) {
        std::fprintf(stderr, "fluidsynth: %s\n", message);
    }
}

void installLogHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG}) {
            fluid_set_log_function(level, logToCapture, nullptr);
        }
    });
}

class LogCapture {
public:
    LogCapture() : previous_(tCapture) {
        installLogHandler();
        tCapture = &messages_;
    }
    ~LogCapture() { tCapture = previous_; }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // The collected messages, or `fallback` when there are none; clears them.
    std::string take(const std::string& fallback) {
        std::string text;
        for (const std::string& m : messages_) {
            text += (text.empty() ? "" : "; ") + m;
        }
        messages_.clear();
        return text.empty() ? fallback : text;
    }

private:
    std::vector<std::string>* previous_;
    std::vector<std::string> messages_;
};

bool readable(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return in.good();
}

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

} // namespace

FluidSynthOptions FluidSynthOptions::fromEnvironment() {
    FluidSynthOptions options;
    options.soundFont = env("VORNAL_SOUNDFONT");
    if (std::string driver = env("VORNAL_AUDIO_DRIVER"); !driver.empty()) {
        options.audioDrivers = {driver};
    }
    options.audioFile = env("VORNAL_AUDIO_FILE");
    return options;
}

std::vector<std::string> defaultSoundFontPaths() {
    return {"/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2",
            "/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/soundfonts/default.sf2",
            "/usr/share/soundfonts/FluidR3_GM.sf2"};
}

std::string findSoundFont(const std::string& explicitPath) {
    if (!explicitPath.empty()) {
        if (!readable(explicitPath)) {
            throw SoundError(
                "The soundfont \"" + explicitPath +
                "\" (named in VORNAL_SOUNDFONT) cannot be read. Correct the variable or remove it "
                "to use the system's General-MIDI soundfont.");
        }
        return explicitPath;
    }
    std::string tried;
    for (const std::string& path : defaultSoundFontPaths()) {
        if (readable(path)) {
            return path;
        }
        tried += (tried.empty() ? "" : ", ") + path;
    }
    throw SoundError(
        "No General-MIDI soundfont was found (looked for " + tried +
        "). Install the package timgm6mb-soundfont or fluid-soundfont-gm, or name a soundfont file "
        "in the environment variable VORNAL_SOUNDFONT.");
}

struct FluidSynthSetup::Impl {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;

    ~Impl() {
        if (synth != nullptr) {
            delete_fluid_synth(synth);
        }
        if (settings != nullptr) {
            delete_fluid_settings(settings);
        }
    }
};

FluidSynthSetup::FluidSynthSetup(const FluidSynthOptions& options)
    : impl_(std::make_unique<Impl>()), soundFontPath_(findSoundFont(options.soundFont)),
      sampleRate_(options.sampleRate) {
    LogCapture log;
    impl_->settings = new_fluid_settings();
    if (impl_->settings == nullptr) {
        throw SoundError("The FluidSynth settings cannot be created: " + log.take("out of memory"));
    }
    fluid_settings_setnum(impl_->settings, "synth.sample-rate", options.sampleRate);
    fluid_settings_setint(impl_->settings, "synth.threadsafe-api", 1);
    impl_->synth = new_fluid_synth(impl_->settings);
    if (impl_->synth == nullptr) {
        throw SoundError("The FluidSynth synthesizer cannot be created: " + log.take("unknown reason"));
    }
    if (fluid_synth_sfload(impl_->synth, soundFontPath_.c_str(), 1) == FLUID_FAILED) {
        throw SoundError("The soundfont \"" + soundFontPath_ +
                         "\" cannot be loaded: " + log.take("not a valid SoundFont 2 file") +
                         ". Install a working General-MIDI soundfont or name one in VORNAL_SOUNDFONT.");
    }
}

FluidSynthSetup::~FluidSynthSetup() = default;

void FluidSynthSetup::preparePercussion(int channel) {
    fluid_synth_set_channel_type(impl_->synth, channel, CHANNEL_TYPE_DRUM);
    fluid_synth_bank_select(impl_->synth, channel, 128);
    fluid_synth_program_change(impl_->synth, channel, 0);
}

void FluidSynthSetup::send(const MidiEvent& event) {
    if (event.isNoteOn()) {
        fluid_synth_noteon(impl_->synth, event.channel(), event.data1, event.data2);
    } else if (event.isNoteOff()) {
        fluid_synth_noteoff(impl_->synth, event.channel(), event.data1);
    }
}

std::pair<int, int> FluidSynthSetup::program(int channel) const {
    int sfont = 0;
    int bank = -1;
    int preset = -1;
    if (fluid_synth_get_program(impl_->synth, channel, &sfont, &bank, &preset) != FLUID_OK) {
        return {-1, -1};
    }
    return {bank, preset};
}

struct FluidSynthPlayer::Driver {
    fluid_audio_driver_t* driver = nullptr;
    ~Driver() {
        if (driver != nullptr) {
            delete_fluid_audio_driver(driver);
        }
    }
};

FluidSynthPlayer::FluidSynthPlayer(const FluidSynthOptions& options)
    : setup_(std::make_unique<FluidSynthSetup>(options)), driver_(std::make_unique<Driver>()) {
    std::vector<std::string> drivers = options.audioDrivers;
    if (drivers.empty()) {
        drivers = {"pulseaudio", "alsa", "jack", "oss"};
    }
    fluid_settings_t* settings = setup_->impl().settings;
    std::string reasons;
    LogCapture log;
    for (const std::string& name : drivers) {
        if (fluid_settings_setstr(settings, "audio.driver", name.c_str()) != FLUID_OK) {
            reasons += (reasons.empty() ? "" : "; ") + name + ": not a FluidSynth audio driver";
            continue;
        }
        if (name == "file" && !options.audioFile.empty()) {
            fluid_settings_setstr(settings, "audio.file.name", options.audioFile.c_str());
        }
        driver_->driver = new_fluid_audio_driver(settings, setup_->impl().synth);
        if (driver_->driver != nullptr) {
            driverName_ = name;
            break;
        }
        reasons += (reasons.empty() ? "" : "; ") + name + ": " + log.take("cannot be opened");
    }
    if (driver_->driver == nullptr) {
        throw SoundError("No audio output device could be opened for the sound (" + reasons +
                         "). Connect or enable a sound device, or switch the sound off.");
    }
    scheduler_ =
        std::make_unique<NoteScheduler>([setup = setup_.get()](const MidiEvent& e) { setup->send(e); });
}

FluidSynthPlayer::~FluidSynthPlayer() {
    close();
}

void FluidSynthPlayer::load(const PercussionNote& note) {
    note.validate();
    if (!scheduler_ || scheduler_->closed()) {
        throw SoundError("The sound output " + name() + " is closed.");
    }
    setup_->preparePercussion(note.channel);
    scheduler_->load(note);
}

void FluidSynthPlayer::play() {
    if (scheduler_) {
        scheduler_->play();
    }
}

void FluidSynthPlayer::close() {
    if (scheduler_) {
        scheduler_->close(); // sends the pending note off before the driver goes
    }
    driver_.reset();
}

std::int64_t Rendering::frameAt(std::chrono::microseconds t) const {
    return static_cast<std::int64_t>(std::llround(static_cast<double>(t.count()) * sampleRate / 1e6));
}

double Rendering::peak(std::chrono::microseconds from, std::chrono::microseconds to) const {
    const std::int64_t begin = std::clamp<std::int64_t>(frameAt(from), 0, frames());
    const std::int64_t end = std::clamp<std::int64_t>(frameAt(to), begin, frames());
    int best = 0;
    for (std::int64_t i = begin * 2; i < end * 2; ++i) {
        best = std::max(best, std::abs(static_cast<int>(samples[static_cast<std::size_t>(i)])));
    }
    return best / 32768.0;
}

Rendering renderOffline(const PercussionNote& note, const std::vector<std::chrono::microseconds>& playTimes,
                        std::chrono::microseconds length, const FluidSynthOptions& options) {
    note.validate();
    FluidSynthSetup setup(options);
    setup.preparePercussion(note.channel);
    fluid_synth_t* synth = setup.impl().synth;

    Rendering out;
    out.sampleRate = setup.sampleRate();
    std::tie(out.bank, out.program) = setup.program(note.channel);
    out.samples.assign(static_cast<std::size_t>(std::max<std::int64_t>(out.frameAt(length), 0)) * 2, 0);

    std::int64_t rendered = 0;
    auto renderTo = [&](std::int64_t frame) {
        frame = std::min(frame, out.frames());
        while (rendered < frame) {
            const int chunk = static_cast<int>(std::min<std::int64_t>(frame - rendered, 4096));
            std::int16_t* buffer = out.samples.data() + rendered * 2;
            fluid_synth_write_s16(synth, chunk, buffer, 0, 2, buffer, 1, 2);
            rendered += chunk;
        }
    };
    std::set<unsigned int> knownVoices;
    auto send = [&](const MidiEvent& e) {
        out.events.push_back({rendered, e});
        setup.send(e);
        if (!e.isNoteOn()) {
            return;
        }
        fluid_voice_t* voices[256] = {};
        fluid_synth_get_voicelist(synth, voices, 256, -1);
        for (fluid_voice_t* v : voices) {
            if (v == nullptr) {
                break;
            }
            if (knownVoices.insert(fluid_voice_get_id(v)).second) {
                out.voices.push_back({rendered, fluid_voice_get_channel(v), fluid_voice_get_actual_key(v),
                                      fluid_voice_get_actual_velocity(v)});
            }
        }
    };

    std::vector<std::chrono::microseconds> plays = playTimes;
    std::sort(plays.begin(), plays.end());
    SequenceCursor cursor;
    cursor.load(note);
    std::size_t nextPlay = 0;
    for (;;) {
        std::optional<std::chrono::microseconds> next = cursor.nextDue();
        const bool playFirst = nextPlay < plays.size() && (!next || plays[nextPlay] <= *next);
        if (playFirst) {
            next = plays[nextPlay];
        }
        if (!next || *next >= length) {
            break;
        }
        renderTo(out.frameAt(*next));
        if (playFirst) {
            ++nextPlay;
            for (const MidiEvent& e : cursor.restart(*next)) {
                send(e);
            }
        }
        for (const MidiEvent& e : cursor.takeDue(*next)) {
            send(e);
        }
    }
    renderTo(out.frames());
    return out;
}

} // namespace vornal::platform
