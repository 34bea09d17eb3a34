#include "Rfc2217.h"

namespace vaznet {

using namespace telnet;

namespace {
// A subnegotiation longer than this is no COM-PORT-OPTION answer; its rest is skipped.
constexpr std::size_t kMaxSub = 64;

bool wanted(uint8_t opt) {
    return opt == BINARY || opt == SGA;
}
} // namespace

void Rfc2217Codec::send(std::vector<uint8_t>& out, uint8_t verb, uint8_t opt) {
    // One at a time: g++ 12 warns (wrongly) about inserting an initializer list into a small vector.
    out.push_back(IAC);
    out.push_back(verb);
    out.push_back(opt);
}

std::vector<uint8_t> Rfc2217Codec::greeting() {
    std::vector<uint8_t> out;
    send(out, WILL, COM_PORT);
    willSent_[COM_PORT] = true;
    for (uint8_t opt : {BINARY, SGA}) {
        send(out, WILL, opt);
        send(out, DO, opt);
        willSent_[opt] = doSent_[opt] = true;
    }
    return out;
}

void Rfc2217Codec::escape(const uint8_t* in, std::size_t n, std::vector<uint8_t>& out) {
    out.reserve(out.size() + n);
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(in[i]);
        if (in[i] == IAC)
            out.push_back(IAC);
    }
}

std::vector<uint8_t> Rfc2217Codec::command(uint8_t cmd, const std::vector<uint8_t>& value) {
    std::vector<uint8_t> out{IAC, SB, COM_PORT, cmd};
    escape(value.data(), value.size(), out);
    out.push_back(IAC);
    out.push_back(SE);
    return out;
}

std::vector<uint8_t> Rfc2217Codec::setBaudRate(uint32_t rate) {
    return command(comport::SET_BAUDRATE,
                   {uint8_t(rate >> 24), uint8_t(rate >> 16), uint8_t(rate >> 8), uint8_t(rate)});
}

void Rfc2217Codec::decode(const uint8_t* in, std::size_t n, std::vector<uint8_t>& data,
                          std::vector<uint8_t>& reply) {
    for (std::size_t i = 0; i < n; ++i) {
        const uint8_t b = in[i];
        switch (state_) {
        case State::Data:
            if (b == IAC)
                state_ = State::Iac;
            else
                data.push_back(b);
            break;
        case State::Iac:
            if (b == IAC) {
                data.push_back(IAC); // an escaped 0xFF in the data
                state_ = State::Data;
            } else if (b == WILL || b == WONT || b == DO || b == DONT) {
                verb_ = b;
                state_ = State::Option;
            } else if (b == SB) {
                sub_.clear();
                subOverflow_ = false;
                state_ = State::Sub;
            } else {
                state_ = State::Data; // NOP, GA, DM, AYT, ...: nothing to do
            }
            break;
        case State::Option:
            option(verb_, b, reply);
            state_ = State::Data;
            break;
        case State::Sub:
            if (b == IAC)
                state_ = State::SubIac;
            else if (sub_.size() < kMaxSub)
                sub_.push_back(b);
            else
                subOverflow_ = true;
            break;
        case State::SubIac:
            if (b == SE) {
                if (!subOverflow_)
                    subnegotiation();
                state_ = State::Data;
            } else if (b == IAC) {
                if (sub_.size() < kMaxSub)
                    sub_.push_back(IAC);
                else
                    subOverflow_ = true;
                state_ = State::Sub;
            } else {
                // IAC followed by anything else ends a broken subnegotiation; the byte is a command.
                state_ = State::Iac;
                --i;
            }
            break;
        }
    }
}

// Answers loop-free: an agreement or refusal is sent only when the state changes, a refusal of what
// this side asked for is not answered (RFC 854).
void Rfc2217Codec::option(uint8_t verb, uint8_t opt, std::vector<uint8_t>& reply) {
    switch (verb) {
    case DO: // the server asks this side to use opt, or agrees to its WILL
        if (opt == COM_PORT) {
            comPort_ = Answer::Accepted;
            if (!willSent_[opt]) {
                willSent_[opt] = true;
                send(reply, WILL, opt);
            }
        } else if (wanted(opt)) {
            if (!willSent_[opt]) {
                willSent_[opt] = true;
                send(reply, WILL, opt);
            }
        } else {
            send(reply, WONT, opt);
        }
        break;
    case DONT: // the server refuses opt (or turns it off): nothing to answer for options this side never
               // offers, and a refusal of an offer is final
        if (opt == COM_PORT)
            comPort_ = Answer::Refused;
        if (opt == BINARY)
            binaryRefused_ = true;
        willSent_[opt] = false;
        break;
    case WILL: // the server offers to use opt, or agrees to this side's DO
        if (wanted(opt)) {
            if (!doSent_[opt]) {
                doSent_[opt] = true;
                send(reply, DO, opt);
            }
        } else {
            send(reply, DONT, opt);
        }
        break;
    case WONT:
        if (opt == BINARY)
            binaryRefused_ = true;
        doSent_[opt] = false;
        break;
    default:
        break;
    }
}

void Rfc2217Codec::subnegotiation() {
    if (sub_.size() < 2 || sub_[0] != COM_PORT)
        return;
    const uint8_t cmd = sub_[1];
    if (cmd < comport::SERVER_OFFSET)
        return; // a client command sent to the client: not for us
    const uint8_t base = uint8_t(cmd - comport::SERVER_OFFSET);
    std::vector<uint8_t> value(sub_.begin() + 2, sub_.end());
    if (base == comport::NOTIFY_MODEMSTATE && !value.empty()) {
        modemState_ = value[0];
        modemKnown_ = true;
    } else if (base == comport::NOTIFY_LINESTATE && !value.empty()) {
        lineEvents_ = uint8_t(lineEvents_ | value[0]);
    }
    answers_[base & 0x1F] = std::move(value);
}

} // namespace vaznet
