#pragma once

// The instrument script of the simulation driver: its data model and its parser.
// Pure C++ (no Qt): the driver library must load into any program. The format is described
// in docs/simulator.md.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vazsim {

// A script that cannot be used. what() reads "FILE:LINE: reason".
class ScriptError : public std::runtime_error {
public:
    ScriptError(const std::string& file, int line, const std::string& reason);
    const std::string& file() const { return file_; }
    int line() const { return line_; }
    const std::string& reason() const { return reason_; }

private:
    std::string file_;
    int line_;
    std::string reason_;
};

// How an input modem line of the simulated instrument behaves.
enum class LineMode { Low, High, FollowDtr, FollowRts };

struct ModemSpec {
    LineMode dsr = LineMode::High;
    LineMode cts = LineMode::High;
    LineMode cd = LineMode::Low;
    LineMode ri = LineMode::Low;
};

// Line conditions that can be attached to a received byte.
enum ByteFlag : std::uint8_t {
    FlagParity = 1,
    FlagFraming = 2,
    FlagOverrun = 4,
    FlagBreak = 8,
};

// A numeric value that changes between uses (a drifting weight, a counter).
// All quantities are integers scaled by 10^decimals, so no rounding is involved.
struct ValueSpec {
    std::string name;
    int decimals = 0;
    std::int64_t start = 0;
    std::int64_t step = 0;  // added on every use after the first
    std::int64_t drift = 0; // plus a pseudo-random amount in [-drift, +drift]
    bool hasMin = false;
    bool hasMax = false;
    std::int64_t min = 0;
    std::int64_t max = 0;
};

// One piece of a text to send: literal bytes, or a value printed with a format.
struct Piece {
    std::string literal;
    int value = -1; // index into PortDescription::values, or -1 for a literal
    bool plusSign = false;
    bool zeroPad = false;
    int width = 0;
};

struct ErrorMark {
    std::size_t index; // byte position in the expanded text; past the end means the last byte
    std::uint8_t flags;
};

struct Payload {
    std::vector<Piece> pieces;
    std::vector<ErrorMark> errors;
};

struct Statement {
    enum Kind { Wait, Send, Repeat, Loop, Unplug } kind = Wait;
    int line = 0;
    std::int64_t ms = 0;         // Wait
    Payload payload;             // Send
    std::int64_t count = 0;      // Repeat
    std::vector<Statement> body; // Repeat, Loop
};

struct ReplyRule {
    std::string trigger; // bytes that, once written by the program, release the reply
    std::int64_t delayMs = 0;
    Payload reply;
};

struct LineSettings {
    std::int64_t bitRate = 9600; // bits per second
    int dataBits = 8;            // 5 to 8
    int parity = 0;              // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stopBits = 1;            // 1 or 2
    bool operator==(const LineSettings&) const = default;
};

struct PortDescription {
    std::string name;
    std::string description;
    std::string manufacturer;
    int line = 0;
    ModemSpec modem;
    int openError = 0; // driver code returned by every open; 0: the port opens
    bool unplugScheduled = false;
    std::int64_t unplugAfterMs = 0; // after the first open
    bool replugScheduled = false;
    std::int64_t replugAfterMs = 0; // after the unplug: the device is back as if new
    std::string recordPath;         // every byte the program writes is appended here
    bool echo = false;
    bool gateDtr = false; // the instrument sends only while DTR is high
    bool gateRts = false; // ... and/or RTS
    std::uint64_t seed = 0;
    // The line settings the instrument uses; when the program configures others, what it receives
    // carries framing (and, for another parity, parity) errors.
    bool hasSettings = false;
    LineSettings settings;
    std::vector<ValueSpec> values;
    std::vector<ReplyRule> replies;
    std::vector<Statement> program;
};

struct Script {
    std::string file;
    std::vector<PortDescription> ports;
};

// Parses a script text. `file` is used in error messages only. Throws ScriptError.
Script parseScript(std::string_view text, const std::string& file);

// Reads and parses a script file. Throws ScriptError (also when the file cannot be read).
Script loadScript(const std::string& path);

// The instruments offered when no script is given: SIM1 scale, SIM2 barcode scanner,
// SIM3 handshaking balance.
const char* builtinScriptText();
Script builtinScript();

// Prints a value as the script's format asks.
std::string formatValue(std::int64_t scaled, int decimals, bool plusSign, bool zeroPad, int width);

} // namespace vazsim
