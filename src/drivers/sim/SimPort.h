#pragma once

// One open simulated port: runs the instrument's program against a clock, queues the bytes that
// fall due, answers the modem-line and line-condition queries and takes the program's writes.
// Not thread-safe by itself: the driver calls it under its own lock. Times are milliseconds of a
// monotonic clock, passed in by the caller, so the behaviour is exact and testable.

#include "SimScript.h"

#include <cstdint>
#include <cstdio>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace vazsim {

class SimPort {
public:
    // `openedAt` is the moment of the open; the program starts then. DTR and RTS are raised at open,
    // as the operating systems' own drivers do.
    SimPort(const PortDescription& desc, std::int64_t openedAt);
    ~SimPort();
    SimPort(const SimPort&) = delete;
    SimPort& operator=(const SimPort&) = delete;

    // Opens the record file when the script asks for one. Returns an error text, empty on success.
    std::string openRecord();

    // Brings the receive queue up to `now`. `unplugAt`, when given, is the moment the device goes
    // away: nothing due after it arrives. Returns the moment the program unplugged itself, if it did.
    void advance(std::int64_t now, std::optional<std::int64_t> unplugAt);
    std::optional<std::int64_t> programUnplugAt() const { return programUnplugAt_; }

    // The earliest moment at which something more falls due (for timed waits); none when nothing
    // will happen without an action of the program (gate closed, program finished).
    std::optional<std::int64_t> nextEventAt() const;

    std::size_t rxReady() const { return rx_.size(); }
    // Takes up to n bytes; the line conditions attached to them become visible to the sig queries.
    std::size_t read(std::uint8_t* buffer, std::size_t n);
    void rxFlush() { rx_.clear(); }

    // The program writes bytes: recorded, echoed, matched against the reply rules.
    // Returns how many were accepted (0 when hardware handshake is on and the instrument holds CTS low).
    std::size_t write(const std::uint8_t* data, std::size_t n, std::int64_t now);

    void setDtr(bool on, std::int64_t now);
    void setRts(bool on, std::int64_t now);
    bool dtr() const { return dtr_; }
    bool rts() const { return rts_; }
    bool cts() const { return line(desc_.modem.cts); }
    bool dsr() const { return line(desc_.modem.dsr); }
    bool cd() const { return line(desc_.modem.cd); }
    bool ring() const { return line(desc_.modem.ri); }

    // Returns and clears one condition (ByteFlag) noted since its previous query.
    bool takeCondition(std::uint8_t flag);

    void setHandshake(int handshake) { handshake_ = handshake; }
    // The settings the program configured; compared with the instrument's own.
    void setLineSettings(const LineSettings& s);
    const PortDescription& desc() const { return desc_; }

private:
    struct Frame {
        const std::vector<Statement>* body;
        std::size_t pc;
        std::int64_t remaining; // runs left, -1 endless
    };
    struct Pending {
        std::int64_t due; // program time
        std::uint64_t seq;
        const Payload* payload;
    };

    bool line(LineMode m) const;
    bool gateOpen() const { return (!desc_.gateDtr || dtr_) && (!desc_.gateRts || rts_); }
    std::int64_t programTime(std::int64_t wall) const;
    std::int64_t wallTime(std::int64_t program) const;
    void gateChanging(std::int64_t now);
    // Runs the next statement of the program; false when the program has finished.
    bool step(std::int64_t limit);
    void emit(const Payload& p);
    std::string expand(const Piece& piece);
    std::uint64_t random();

    const PortDescription& desc_;
    std::deque<std::pair<std::uint8_t, std::uint8_t>> rx_; // byte, ByteFlag conditions
    std::uint8_t conditions_ = 0;
    bool dtr_ = true;
    bool rts_ = true;
    int handshake_ = 0;
    std::uint8_t mismatch_ = 0; // conditions every received byte gets while the settings differ

    // Program clock: runs only while the gate is open.
    std::int64_t programBase_ = 0; // program time reached when the gate last opened/closed
    std::int64_t gateSince_;       // wall time of that change
    std::vector<Frame> stack_;
    std::int64_t nextAt_ = 0; // program time at which the next statement runs
    bool finished_ = false;
    std::optional<std::int64_t> programUnplugAt_;

    std::vector<Pending> pending_;
    std::uint64_t seq_ = 0;
    std::string writtenTail_;

    std::vector<std::int64_t> values_;
    std::vector<bool> used_;
    std::uint64_t rng_;

    std::FILE* record_ = nullptr;
};

} // namespace vazsim
