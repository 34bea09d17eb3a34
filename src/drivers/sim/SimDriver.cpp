// The simulation driver: the vazEdo C interface over scripted virtual instruments.
//
// The script comes from the file named by the environment variable VAZ_SIM_SCRIPT, read once at
// the first call; without it the built-in demo instruments are offered. A script that cannot be
// used makes the port list empty and every open fail with VAZ_ERR_NOT_VALID; the reason
// (file, line, cause) is written once to standard error and is the last-error text of the open.
//
// One lock guards all state. Timed reads wait on a condition variable with the lock released.
// Device notices come from the common polling watcher, which runs only while a callback is registered.

#include "SimPort.h"
#include "SimScript.h"

#include <DriverCommon.h>

#include <DriverEntry.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vazsim {
namespace {

constexpr const char* kLibVer = "Vornal simulation driver 1.0";

std::int64_t nowMs() {
    using namespace std::chrono;
    static const steady_clock::time_point epoch = steady_clock::now();
    return duration_cast<milliseconds>(steady_clock::now() - epoch).count();
}

using vazcommon::copyText;
using vazcommon::failWith;

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

// What the process knows of one scripted port, across opens.
struct Device {
    const PortDescription* desc = nullptr;
    std::optional<std::int64_t> firstOpen;
    std::optional<std::int64_t> programUnplugAt; // the program ran into 'unplug'
    bool removalNotified = false;
    bool open = false;

    std::optional<std::int64_t> unplugAt() const {
        std::optional<std::int64_t> at = programUnplugAt;
        if (desc->unplugScheduled && firstOpen) {
            std::int64_t t = *firstOpen + desc->unplugAfterMs;
            if (!at || t < *at)
                at = t;
        }
        return at;
    }
    bool unplugged(std::int64_t now) const {
        auto at = unplugAt();
        return at && *at <= now;
    }
    // `replug after`: once the time has passed and no handle is open on it, the device is back as a
    // new one (its program and its unplug schedule start again at the next open).
    void replugIfDue(std::int64_t now) {
        const auto at = unplugAt();
        if (!desc->replugScheduled || open || !at || now < *at + desc->replugAfterMs)
            return;
        firstOpen.reset();
        programUnplugAt.reset();
        removalNotified = false;
    }
};

struct Handle {
    Device* device;
    std::unique_ptr<SimPort> port;
    std::int32_t timeoutRx = 0;
    std::int32_t timeoutTx = 0;
    bool wake = false; // vazSerWakeWait: the current or next vazSerWaitRx returns at once
};

struct Driver {
    std::mutex mu;
    std::condition_variable changed;
    bool loaded = false;
    std::optional<Script> script;
    std::string scriptError;
    std::vector<Device> devices;
    vazcommon::HandleTable<Handle> handles;
    vazcommon::DeviceWatcher watcher; // declared last: stops before the devices go

    void load() {
        if (loaded)
            return;
        loaded = true;
        const char* path = std::getenv("VAZ_SIM_SCRIPT");
        try {
            if (path && *path)
                script = loadScript(path);
            else
                script = builtinScript();
        } catch (const ScriptError& e) {
            scriptError = std::string("simulator script error: ") + e.what();
            std::fprintf(stderr, "vazEdo: %s\n", scriptError.c_str());
            std::fflush(stderr);
            return;
        }
        for (const PortDescription& p : script->ports)
            devices.push_back(Device{&p});
    }

    Device* find(const char* name) {
        std::string n = lower(name ? name : "");
        for (Device& d : devices)
            if (lower(d.desc->name) == n)
                return &d;
        return nullptr;
    }

    Handle* handle(VazHandle h) { return handles.find(h); }

    // Brings a port's receive queue up to now and notes an unplug the program ran into.
    void advance(Handle& hd, std::int64_t now) {
        hd.port->advance(now, hd.device->unplugAt());
        if (hd.port->programUnplugAt() && !hd.device->programUnplugAt)
            hd.device->programUnplugAt = hd.port->programUnplugAt();
    }

    // The devices unplugged since the previous call (the device watcher's poll).
    std::vector<vazcommon::DeviceWatcher::Notice> removals() {
        std::lock_guard lock(mu);
        const std::int64_t now = nowMs();
        for (auto& [h, hd] : handles)
            advance(hd, now);
        std::vector<vazcommon::DeviceWatcher::Notice> removed;
        for (Device& d : devices) {
            if (!d.removalNotified && d.unplugged(now)) {
                d.removalNotified = true;
                removed.push_back({VAZ_DEVICE_REMOVAL, d.desc->name});
            }
        }
        return removed;
    }
};

Driver& driver() {
    static Driver d;
    return d;
}

// Runs f(handle) under the lock for an open, present port; -1 when the handle is unknown.
template <typename F> int32_t withPort(VazHandle h, F f) {
    Driver& d = driver();
    std::lock_guard lock(d.mu);
    Handle* hd = d.handle(h);
    if (!hd)
        return vazcommon::failNotOpen(h);
    return f(*hd);
}

// For operations that need the device to be present.
template <typename F> int32_t withPresentPort(VazHandle h, F f) {
    return withPort(h, [&](Handle& hd) -> int32_t {
        const std::int64_t now = nowMs();
        driver().advance(hd, now);
        if (hd.device->unplugged(now))
            return failWith(VAZ_FAIL, hd.device->desc->name + ": the device was unplugged");
        return f(hd, now);
    });
}

// True once the device is gone and everything it sent before has been read.
bool hangup(Handle& hd, std::int64_t now) {
    if (!hd.device->unplugged(now) || hd.port->rxReady() > 0)
        return false;
    auto next = hd.port->nextEventAt();
    return !next || *next > *hd.device->unplugAt();
}

LineSettings lineSettings(const VazConfig* c) {
    LineSettings s;
    s.bitRate = vazcommon::bitRateOf(c->bitRate);
    s.dataBits = 5 + c->dataBits;
    s.parity = c->parity;
    s.stopBits = 1 + c->stopBits;
    return s;
}

bool validSettings(const VazConfig* c, std::string& why) {
    if (vazcommon::bitRateOf(c->bitRate) == 0 || c->bitRate > 921600)
        why = "unsupported bit rate " + std::to_string(c->bitRate);
    else if (c->parity < 0 || c->parity > 4)
        why = "unsupported parity " + std::to_string(c->parity);
    else if (c->dataBits < 0 || c->dataBits > 3)
        why = "unsupported data bits code " + std::to_string(c->dataBits);
    else if (c->stopBits < 0 || c->stopBits > 1)
        why = "unsupported stop bits code " + std::to_string(c->stopBits);
    else if (c->handshake < 0 || (c->handshake > 3 && c->handshake < 16) || c->handshake > 240)
        why = "unsupported handshake " + std::to_string(c->handshake);
    else
        return true;
    return false;
}

int32_t readBytes(VazHandle h, std::uint8_t* buffer, std::int32_t n) {
    if (n < 0 || (n > 0 && !buffer))
        return failWith(VAZ_FAIL, "bad read buffer");
    Driver& d = driver();
    std::unique_lock lock(d.mu);
    Handle* hd = d.handle(h);
    if (!hd)
        return vazcommon::failNotOpen(h);
    const std::int64_t deadline = nowMs() + std::max<std::int32_t>(0, hd->timeoutRx);
    for (;;) {
        const std::int64_t now = nowMs();
        d.advance(*hd, now);
        if (hd->port->rxReady() > 0 || n == 0)
            return std::int32_t(hd->port->read(buffer, std::size_t(n)));
        // Bytes that fell due before the unplug are delivered first; then the hang-up is reported.
        if (hangup(*hd, now))
            return VAZ_HANGUP;
        if (now >= deadline)
            return 0;
        std::int64_t until = deadline;
        if (auto next = hd->port->nextEventAt())
            until = std::min(until, std::max(*next, now + 1));
        if (auto gone = hd->device->unplugAt())
            until = std::min(until, std::max(*gone, now + 1));
        const VazHandle self = h;
        d.changed.wait_for(lock, std::chrono::milliseconds(until - now));
        hd = d.handle(self);
        if (!hd)
            return failWith(VAZ_FAIL, "the port was closed during the read");
    }
}

} // namespace
} // namespace vazsim

using namespace vazsim;

namespace vazdriver {

const char* const kLibVersion = kLibVer;

int32_t openPort(VazConfig* config) {
    if (!config || !config->portName)
        return failWith(VAZ_ERR_NOT_VALID, "no port name given");
    Driver& d = driver();
    std::lock_guard lock(d.mu);
    d.load();
    if (!d.script)
        return failWith(VAZ_ERR_NOT_VALID, d.scriptError);
    const std::string name = config->portName;
    Device* dev = d.find(config->portName);
    const std::int64_t now = nowMs();
    if (!dev)
        return failWith(VAZ_ERR_NO_SUCH_FILE, name + ": the simulator script has no such port");
    dev->replugIfDue(now);
    if (dev->unplugged(now))
        return failWith(VAZ_ERR_NO_SUCH_FILE, name + ": the simulated device was unplugged");
    if (dev->open)
        return failWith(VAZ_ERR_ALREADY_OPEN, name + ": the port is open already");
    if (dev->desc->openError)
        return failWith(dev->desc->openError, name + ": the script makes this port fail to open");
    std::string why;
    if (!validSettings(config, why))
        return failWith(VAZ_ERR_NOT_VALID, name + ": " + why);
    auto port = std::make_unique<SimPort>(*dev->desc, now);
    if (std::string err = port->openRecord(); !err.empty())
        return failWith(VAZ_ERR_NOT_VALID, name + ": " + err);
    port->setHandshake(config->handshake);
    port->setLineSettings(lineSettings(config));
    if (!dev->firstOpen)
        dev->firstOpen = now;
    dev->open = true;
    config->port = d.handles.add(Handle{dev, std::move(port)}) + 1;
    return VAZ_OK;
}

int32_t configure(VazHandle h, const VazConfig* config) {
    if (!config)
        return failWith(VAZ_ERR_NOT_VALID, "no settings given");
    return withPresentPort(h, [&](Handle& hd, std::int64_t) -> int32_t {
        std::string why;
        if (!validSettings(config, why))
            return failWith(VAZ_ERR_NOT_VALID, why);
        hd.port->setHandshake(config->handshake);
        hd.port->setLineSettings(lineSettings(config));
        return VAZ_OK;
    });
}

int32_t closePort(VazHandle h) {
    Driver& d = driver();
    std::lock_guard lock(d.mu);
    std::optional<Handle> hd = d.handles.take(h);
    if (!hd)
        return vazcommon::failNotOpen(h);
    hd->device->open = false;
    d.changed.notify_all();
    return VAZ_OK;
}

int32_t getData(VazHandle h, uint8_t* buffer, int32_t n) {
    return readBytes(h, buffer, n);
}

int32_t putByte(VazHandle h, uint8_t byte) {
    return withPresentPort(h, [&](Handle& hd, std::int64_t now) -> int32_t {
        if (hd.port->write(&byte, 1, now) != 1)
            return failWith(VAZ_FAIL, "CTS is low: the instrument is not ready to receive");
        driver().changed.notify_all();
        return VAZ_OK;
    });
}

int32_t putData(VazHandle h, const uint8_t* buffer, int32_t n) {
    if (n < 0 || (n > 0 && !buffer))
        return failWith(VAZ_FAIL, "bad write buffer");
    return withPresentPort(h, [&](Handle& hd, std::int64_t now) -> int32_t {
        auto sent = int32_t(hd.port->write(buffer, std::size_t(n), now));
        driver().changed.notify_all();
        return sent;
    });
}

int32_t rxReadyCount(VazHandle h) {
    return withPort(h, [&](Handle& hd) -> int32_t {
        const std::int64_t now = nowMs();
        driver().advance(hd, now);
        if (hd.port->rxReady() == 0 && hangup(hd, now))
            return VAZ_HANGUP;
        return int32_t(std::min<std::size_t>(hd.port->rxReady(), 0x7FFFFFFF));
    });
}

int32_t txBufCount(VazHandle h) {
    return withPresentPort(h, [](Handle&, std::int64_t) -> int32_t { return 0; });
}

int32_t rxFlush(VazHandle h) {
    return withPort(h, [](Handle& hd) -> int32_t {
        driver().advance(hd, nowMs());
        hd.port->rxFlush();
        return VAZ_OK;
    });
}

int32_t txFlush(VazHandle h) {
    return withPort(h, [](Handle&) -> int32_t { return VAZ_OK; });
}

int32_t txDrain(VazHandle h) {
    return withPresentPort(h, [](Handle&, std::int64_t) -> int32_t { return VAZ_OK; });
}

int32_t setDTR(VazHandle h, int32_t on) {
    return withPresentPort(h, [&](Handle& hd, std::int64_t now) -> int32_t {
        hd.port->setDtr(on != 0, now);
        driver().changed.notify_all();
        return VAZ_OK;
    });
}

int32_t setRTS(VazHandle h, int32_t on) {
    return withPresentPort(h, [&](Handle& hd, std::int64_t now) -> int32_t {
        hd.port->setRts(on != 0, now);
        driver().changed.notify_all();
        return VAZ_OK;
    });
}

int32_t sendBreak(VazHandle h, int32_t duration) {
    if (duration < 0)
        return failWith(VAZ_FAIL, "negative break duration");
    return withPresentPort(h, [](Handle&, std::int64_t) -> int32_t { return VAZ_OK; });
}

int32_t sigCTS(VazHandle h) {
    return withPresentPort(h, [](Handle& hd, std::int64_t) -> int32_t { return hd.port->cts() ? 1 : 0; });
}

int32_t sigDSR(VazHandle h) {
    return withPresentPort(h, [](Handle& hd, std::int64_t) -> int32_t { return hd.port->dsr() ? 1 : 0; });
}

int32_t sigCD(VazHandle h) {
    return withPresentPort(h, [](Handle& hd, std::int64_t) -> int32_t { return hd.port->cd() ? 1 : 0; });
}

int32_t sigRing(VazHandle h) {
    return withPresentPort(h, [](Handle& hd, std::int64_t) -> int32_t { return hd.port->ring() ? 1 : 0; });
}

// Conditions are attached to received bytes and become visible once those bytes have been read,
// so a reader that checks after every byte sees them on the right line.
static int32_t condition(VazHandle h, std::uint8_t flag) {
    return withPort(h, [&](Handle& hd) -> int32_t { return hd.port->takeCondition(flag) ? 1 : 0; });
}

int32_t sigBreak(VazHandle h) {
    return condition(h, FlagBreak);
}
int32_t sigFrameErr(VazHandle h) {
    return condition(h, FlagFraming);
}
int32_t sigOverrun(VazHandle h) {
    return condition(h, FlagOverrun);
}
int32_t sigParityErr(VazHandle h) {
    return condition(h, FlagParity);
}

// Received bytes are never dropped, so the receive buffer never overflows.
int32_t rxOverflow(VazHandle h) {
    return withPort(h, [](Handle&) -> int32_t { return 0; });
}

int32_t setTimeoutRx(VazHandle h, int32_t ms) {
    if (ms < 0)
        return failWith(VAZ_FAIL, "negative receive timeout");
    return withPort(h, [&](Handle& hd) -> int32_t {
        hd.timeoutRx = ms;
        return VAZ_OK;
    });
}

int32_t setTimeoutTx(VazHandle h, int32_t ms) {
    if (ms < 0)
        return failWith(VAZ_FAIL, "negative transmit timeout");
    return withPort(h, [&](Handle& hd) -> int32_t {
        hd.timeoutTx = ms;
        return VAZ_OK;
    });
}

int32_t getTimeoutRx(VazHandle h) {
    return withPort(h, [](Handle& hd) -> int32_t { return hd.timeoutRx; });
}

int32_t getTimeoutTx(VazHandle h) {
    return withPort(h, [](Handle& hd) -> int32_t { return hd.timeoutTx; });
}

int32_t getPortList(VazAddPortNameFn addPortName, VazAddPortInfoFn addPortInfo, void* ctx) {
    std::vector<vazcommon::PortEntry> list;
    {
        Driver& d = driver();
        std::lock_guard lock(d.mu);
        d.load();
        const std::int64_t now = nowMs();
        for (auto& [h, hd] : d.handles)
            d.advance(hd, now);
        for (Device& dev : d.devices) {
            dev.replugIfDue(now);
            if (!dev.unplugged(now))
                list.push_back({dev.desc->name, dev.desc->manufacturer, dev.desc->description});
        }
    }
    // The callbacks run without the lock: they may call back into the driver.
    return vazcommon::reportPorts(list, addPortName, addPortInfo, ctx);
}

int32_t registerDeviceNotification(VazDeviceNotificationFn fn, void* ctx) {
    Driver& d = driver();
    {
        std::lock_guard lock(d.mu);
        d.load();
        // Devices gone before the registration were never announced to this callback; it learns of
        // them from the port list.
        const std::int64_t now = nowMs();
        for (Device& dev : d.devices)
            if (dev.unplugged(now))
                dev.removalNotified = true;
    }
    return d.watcher.start(fn, ctx, std::chrono::milliseconds(20), [&d] { return d.removals(); });
}

int32_t unregisterDeviceNotification(VazDeviceNotificationFn fn, void* ctx) {
    return driver().watcher.stop(fn, ctx);
}

int32_t getName(VazHandle h, char* buffer, int32_t n) {
    std::string name;
    int32_t r = withPort(h, [&](Handle& hd) -> int32_t {
        name = hd.device->desc->name;
        return VAZ_OK;
    });
    return r < 0 ? r : copyText(name, buffer, n);
}

// Waits on the driver's condition variable until the next scripted byte falls due, the device goes,
// the handle is woken or the time is up; nothing wakes it in between.
int32_t waitRx(VazHandle h, int32_t ms) {
    Driver& d = driver();
    std::unique_lock lock(d.mu);
    Handle* hd = d.handle(h);
    if (!hd)
        return failWith(VAZ_FAIL, "the port is not open (handle " + std::to_string(h) + ")");
    const std::int64_t start = nowMs();
    const std::optional<std::int64_t> deadline =
        ms < 0 ? std::nullopt : std::optional<std::int64_t>(start + ms);
    for (;;) {
        const std::int64_t now = nowMs();
        d.advance(*hd, now);
        if (hd->port->rxReady() > 0)
            return 1;
        if (hangup(*hd, now))
            return VAZ_HANGUP;
        if (hd->wake) {
            hd->wake = false;
            return 0;
        }
        if (deadline && now >= *deadline)
            return 0;
        std::optional<std::int64_t> until = deadline;
        auto sooner = [&](std::int64_t t) { until = until ? std::min(*until, t) : t; };
        if (auto next = hd->port->nextEventAt())
            sooner(std::max(*next, now + 1));
        if (auto gone = hd->device->unplugAt())
            sooner(std::max(*gone, now + 1));
        if (until)
            d.changed.wait_for(lock, std::chrono::milliseconds(*until - now));
        else
            d.changed.wait(lock);
        hd = d.handle(h);
        if (!hd)
            return failWith(VAZ_FAIL, "the port was closed during the wait");
    }
}

int32_t wakeWait(VazHandle h) {
    Driver& d = driver();
    std::lock_guard lock(d.mu);
    Handle* hd = d.handle(h);
    if (!hd)
        return failWith(VAZ_FAIL, "the port is not open (handle " + std::to_string(h) + ")");
    hd->wake = true;
    d.changed.notify_all();
    return VAZ_OK;
}

} // namespace vazdriver
