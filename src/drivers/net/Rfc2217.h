// The Telnet side of an RFC 2217 connection, without any socket: what the client sends to ask for the
// COM-PORT-OPTION, binary mode and suppress-go-ahead, the commands that set the remote serial port,
// and a decoder that splits what the server sends into data bytes, answers to its option requests,
// and the notifications of the remote port (modem lines, line conditions).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vaznet {

namespace telnet {
constexpr uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr uint8_t BINARY = 0, SGA = 3, COM_PORT = 44;
} // namespace telnet

// Commands of the COM-PORT-OPTION (the server answers each with the command + 100).
namespace comport {
constexpr uint8_t SET_BAUDRATE = 1, SET_DATASIZE = 2, SET_PARITY = 3, SET_STOPSIZE = 4, SET_CONTROL = 5,
                  NOTIFY_LINESTATE = 6, NOTIFY_MODEMSTATE = 7, SET_LINESTATE_MASK = 10,
                  SET_MODEMSTATE_MASK = 11, PURGE_DATA = 12;
constexpr uint8_t SERVER_OFFSET = 100;
// SET-CONTROL values.
constexpr uint8_t FLOW_NONE = 1, FLOW_XONXOFF = 2, FLOW_HARDWARE = 3, BREAK_ON = 5, BREAK_OFF = 6, DTR_ON = 8,
                  DTR_OFF = 9, RTS_ON = 11, RTS_OFF = 12, FLOW_IN_NONE = 14, FLOW_IN_XONXOFF = 15,
                  FLOW_IN_HARDWARE = 16, FLOW_IN_DTR = 18, FLOW_DSR = 19;
// NOTIFY-LINESTATE bits.
constexpr uint8_t LINE_BREAK = 0x10, LINE_FRAMING = 0x08, LINE_PARITY = 0x04, LINE_OVERRUN = 0x02;
// NOTIFY-MODEMSTATE bits.
constexpr uint8_t MODEM_CD = 0x80, MODEM_RI = 0x40, MODEM_DSR = 0x20, MODEM_CTS = 0x10;
} // namespace comport

class Rfc2217Codec {
public:
    enum class Answer { Pending, Accepted, Refused };

    // What the client sends first: WILL COM-PORT-OPTION, WILL/DO BINARY, WILL/DO SUPPRESS-GO-AHEAD.
    std::vector<uint8_t> greeting();

    // Splits received bytes: data to `data`, answers owed to the server to `reply` (send them in
    // order). Keeps its state between calls, so a command cut between two reads is decoded whole.
    void decode(const uint8_t* in, std::size_t n, std::vector<uint8_t>& data, std::vector<uint8_t>& reply);

    // Appends data with each 0xFF doubled (IAC IAC), as the stream requires in both directions.
    static void escape(const uint8_t* in, std::size_t n, std::vector<uint8_t>& out);
    // One COM-PORT-OPTION command: IAC SB 44 cmd value... IAC SE, the value escaped.
    static std::vector<uint8_t> command(uint8_t cmd, const std::vector<uint8_t>& value);
    static std::vector<uint8_t> setBaudRate(uint32_t rate);

    // The server's answer to WILL COM-PORT-OPTION.
    Answer comPort() const { return comPort_; }
    // Whether the server refused binary mode (either direction).
    bool binaryRefused() const { return binaryRefused_; }
    // The last NOTIFY-MODEMSTATE (0 before the first one) and whether one came.
    uint8_t modemState() const { return modemState_; }
    bool modemStateKnown() const { return modemKnown_; }
    // Line conditions notified since the last takeLineEvents (NOTIFY-LINESTATE bits).
    uint8_t takeLineEvents(uint8_t bits) {
        const uint8_t seen = lineEvents_ & bits;
        lineEvents_ = uint8_t(lineEvents_ & ~bits);
        return seen;
    }
    // The server's last answer to a command (its value bytes), e.g. SET_BAUDRATE; empty when none came.
    const std::vector<uint8_t>& lastAnswer(uint8_t cmd) const { return answers_[cmd & 0x1F]; }

private:
    enum class State { Data, Iac, Option, Sub, SubIac };
    void option(uint8_t verb, uint8_t opt, std::vector<uint8_t>& reply);
    void subnegotiation();
    static void send(std::vector<uint8_t>& out, uint8_t verb, uint8_t opt);

    State state_ = State::Data;
    uint8_t verb_ = 0;
    std::vector<uint8_t> sub_;
    bool subOverflow_ = false;
    // Options this side offered or agreed to (WILL sent) / asked the server for (DO sent).
    std::array<bool, 256> willSent_{};
    std::array<bool, 256> doSent_{};
    Answer comPort_ = Answer::Pending;
    bool binaryRefused_ = false;
    uint8_t modemState_ = 0;
    bool modemKnown_ = false;
    uint8_t lineEvents_ = 0;
    std::array<std::vector<uint8_t>, 32> answers_;
};

} // namespace vaznet
