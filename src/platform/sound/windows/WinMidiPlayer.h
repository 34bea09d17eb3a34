#pragma once

#include "../NoteSequence.h"
#include "../PercussionPlayer.h"

#include <memory>
#include <string>

namespace vornal::platform {

// Windows backend: the MIDI mapper (the system's General-MIDI synthesizer) through midiOut short
// messages; the note off follows on the NoteScheduler's timer thread.
class WinMidiPlayer final : public PercussionPlayer {
public:
    // Opens the MIDI mapper; throws SoundError with the system's reason (MIDIERR_..., MMSYSERR_...) when
    // there is no MIDI output device.
    WinMidiPlayer();
    ~WinMidiPlayer() override;

    void load(const PercussionNote& note) override;
    void play() override;
    void close() override;
    std::string name() const override { return "Windows MIDI mapper"; }

    // "MIDIERR_INVALIDSETUP", "MMSYSERR_NODRIVER", ... for a midiOut result code.
    static std::string resultName(unsigned int result);

private:
    struct Device;
    std::unique_ptr<Device> device_;
    std::unique_ptr<NoteScheduler> scheduler_;
};

} // namespace vornal::platform
