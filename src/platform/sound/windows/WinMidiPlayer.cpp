#include "WinMidiPlayer.h"

#include <windows.h>
// mmsystem.h needs the types of windows.h
#include <mmsystem.h>

namespace vornal::platform {

struct WinMidiPlayer::Device {
    HMIDIOUT handle = nullptr;
    ~Device() {
        if (handle != nullptr) {
            midiOutReset(handle);
            midiOutClose(handle);
        }
    }
};

std::string WinMidiPlayer::resultName(unsigned int result) {
    switch (result) {
    case MMSYSERR_NOERROR:
        return "MMSYSERR_NOERROR";
    case MMSYSERR_ERROR:
        return "MMSYSERR_ERROR";
    case MMSYSERR_BADDEVICEID:
        return "MMSYSERR_BADDEVICEID";
    case MMSYSERR_NOTENABLED:
        return "MMSYSERR_NOTENABLED";
    case MMSYSERR_ALLOCATED:
        return "MMSYSERR_ALLOCATED";
    case MMSYSERR_INVALHANDLE:
        return "MMSYSERR_INVALHANDLE";
    case MMSYSERR_NODRIVER:
        return "MMSYSERR_NODRIVER";
    case MMSYSERR_NOMEM:
        return "MMSYSERR_NOMEM";
    case MMSYSERR_INVALPARAM:
        return "MMSYSERR_INVALPARAM";
    case MIDIERR_NODEVICE:
        return "MIDIERR_NODEVICE";
    case MIDIERR_INVALIDSETUP:
        return "MIDIERR_INVALIDSETUP";
    case MIDIERR_NOTREADY:
        return "MIDIERR_NOTREADY";
    case MIDIERR_BADOPENMODE:
        return "MIDIERR_BADOPENMODE";
    default:
        return "error " + std::to_string(result);
    }
}

WinMidiPlayer::WinMidiPlayer() : device_(std::make_unique<Device>()) {
    const MMRESULT result = midiOutOpen(&device_->handle, MIDI_MAPPER, 0, 0, CALLBACK_NULL);
    if (result != MMSYSERR_NOERROR) {
        device_->handle = nullptr;
        char text[MAXERRORLENGTH] = {};
        std::string reason;
        if (midiOutGetErrorTextA(result, text, sizeof text) == MMSYSERR_NOERROR && text[0] != '\0') {
            reason = std::string(text) + " ";
        }
        throw SoundError(
            "The MIDI output (MIDI mapper) cannot be opened: " + reason + "(" + resultName(result) +
            "). Check that a MIDI output device is installed and enabled, or switch the sound off.");
    }
    HMIDIOUT handle = device_->handle;
    scheduler_ = std::make_unique<NoteScheduler>([handle](const MidiEvent& e) {
        const DWORD message = static_cast<DWORD>(e.status) | (static_cast<DWORD>(e.data1) << 8) |
                              (static_cast<DWORD>(e.data2) << 16);
        midiOutShortMsg(handle, message);
    });
}

WinMidiPlayer::~WinMidiPlayer() {
    close();
}

void WinMidiPlayer::load(const PercussionNote& note) {
    note.validate();
    if (!scheduler_ || scheduler_->closed()) {
        throw SoundError("The sound output " + name() + " is closed.");
    }
    scheduler_->load(note);
}

void WinMidiPlayer::play() {
    if (scheduler_) {
        scheduler_->play();
    }
}

void WinMidiPlayer::close() {
    if (scheduler_) {
        scheduler_->close(); // sends the pending note off while the device is still open
    }
    device_.reset();
}

} // namespace vornal::platform
