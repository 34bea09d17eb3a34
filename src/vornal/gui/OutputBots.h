#pragma once

#include "vornal/config/Config.h"
#include "vornal/worker/WeightWorkerView.h"

#include <QString>

#include <memory>
#include <optional>

namespace vornal {

// The window's handle on the keystroke output of one connection: a queue of values typed on their own
// thread. create() throws std::exception with the reason when typing is impossible here.
class KeyOutput {
public:
    virtual ~KeyOutput() = default;
    static std::unique_ptr<KeyOutput> create(const config::Config& config, worker::WeightWorkerView* view);

    // Queues one value (possibly empty: then only the keys around it).
    virtual void add(const QString& value) = 0;
    // Values still waiting to be typed.
    virtual int waiting() const = 0;
    // Ends the typing thread: the value being typed is finished (or, when it cannot be, named in the
    // log), values still waiting are dropped.
    virtual void stop() = 0;
    // While held (this program's window has the focus) nothing is typed; values wait. Any thread.
    virtual void setHeld(bool held) = 0;
    virtual bool isHeld() const = 0;
    // More typing is queued than the delay lets through in a few seconds.
    virtual bool isBehind() const = 0;
    // The keyboard's Caps Lock state, or none when the platform cannot tell.
    virtual std::optional<bool> capsLockOn() = 0;
};

// The window's handle on the percussion sound of one connection.
class SoundOutput {
public:
    virtual ~SoundOutput() = default;
    // Throws std::exception with the reason when the sound device cannot be opened.
    static std::unique_ptr<SoundOutput> create(const config::ConfigHelper::Sound& sound);
    virtual void beep() = 0;
    virtual void close() = 0;
};

} // namespace vornal
