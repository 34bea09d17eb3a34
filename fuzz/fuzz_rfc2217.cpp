// The Telnet / RFC 2217 decoder of network ports, on what a device server (or anything else listening on
// the port) may send. What it promises:
// - the result does not depend on how the stream is cut into reads (every chunking gives the same data,
//   the same answers, the same option and port state);
// - data never grows: at most one data byte per byte received;
// - its answers are whole option commands (IAC WILL/WONT/DO/DONT option), it agrees only to the
//   options it wants (BINARY, SUPPRESS-GO-AHEAD, COM-PORT-OPTION) and answers a repeated request only
//   once (no negotiation loop);
// - what the sending side escapes comes back unchanged: data with 0xFF bytes, and the value of a
//   server's COM-PORT-OPTION answer.
// Input: a byte giving the chunk size (1..64), a byte choosing whether the greeting was sent, then the
// bytes the server sends.

#include "Rfc2217.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

using vaznet::Rfc2217Codec;
namespace telnet = vaznet::telnet;
using Bytes = std::vector<uint8_t>;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}
#define CHECK(cond)                                                                                          \
    do {                                                                                                     \
        if (!(cond))                                                                                         \
            fail(#cond);                                                                                     \
    } while (0)

struct Decoded {
    Bytes data, reply;
    Rfc2217Codec codec;
};

void decodeInChunks(Decoded& d, const uint8_t* in, size_t n, size_t chunk) {
    for (size_t at = 0; at < n; at += chunk) {
        const size_t take = n - at < chunk ? n - at : chunk;
        d.codec.decode(in + at, take, d.data, d.reply);
    }
}

bool sameState(const Rfc2217Codec& a, const Rfc2217Codec& b) {
    if (a.comPort() != b.comPort() || a.binaryRefused() != b.binaryRefused() ||
        a.modemState() != b.modemState() || a.modemStateKnown() != b.modemStateKnown())
        return false;
    for (uint8_t cmd = 0; cmd < 32; ++cmd)
        if (a.lastAnswer(cmd) != b.lastAnswer(cmd))
            return false;
    return true;
}

bool wanted(uint8_t opt) {
    return opt == telnet::BINARY || opt == telnet::SGA || opt == telnet::COM_PORT;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const size_t chunk = 1 + data[0] % 64;
    const bool greeted = (data[1] & 1) != 0;
    const uint8_t* in = data + 2;
    const size_t n = size - 2;

    Decoded whole, cut, byByte;
    for (Decoded* d : {&whole, &cut, &byByte})
        if (greeted)
            d->codec.greeting();
    decodeInChunks(whole, in, n, n == 0 ? 1 : n);
    decodeInChunks(cut, in, n, chunk);
    decodeInChunks(byByte, in, n, 1);

    CHECK(whole.data == cut.data && whole.data == byByte.data);
    CHECK(whole.reply == cut.reply && whole.reply == byByte.reply);
    CHECK(sameState(whole.codec, cut.codec) && sameState(whole.codec, byByte.codec));
    const uint8_t lineA = whole.codec.takeLineEvents(0xFF), lineB = cut.codec.takeLineEvents(0xFF);
    CHECK(lineA == lineB);
    CHECK(whole.data.size() <= n);

    // The answers: whole commands, agreement only to wanted options.
    CHECK(whole.reply.size() % 3 == 0);
    for (size_t i = 0; i < whole.reply.size(); i += 3) {
        const uint8_t verb = whole.reply[i + 1], opt = whole.reply[i + 2];
        CHECK(whole.reply[i] == telnet::IAC);
        CHECK(verb == telnet::WILL || verb == telnet::WONT || verb == telnet::DO || verb == telnet::DONT);
        if (verb == telnet::WILL || verb == telnet::DO)
            CHECK(wanted(opt));
    }

    // No negotiation loop: a request repeated without a change in between is not answered again (this
    // part does not depend on the input beyond the greeting).
    // (A server's WILL COM-PORT-OPTION is refused each time, as RFC 1143 has it: the client side of the
    // option is ours.)
    for (const uint8_t verb : {telnet::DO, telnet::WILL}) {
        for (const uint8_t opt : {telnet::BINARY, telnet::SGA, telnet::COM_PORT}) {
            if (verb == telnet::WILL && opt == telnet::COM_PORT)
                continue;
            Rfc2217Codec c;
            if (greeted)
                c.greeting();
            const uint8_t request[] = {telnet::IAC, verb, opt};
            Bytes got, first, second;
            c.decode(request, sizeof request, got, first);
            c.decode(request, sizeof request, got, second);
            CHECK(second.empty());
            CHECK(got.empty());
        }
    }

    // Escaped data comes back unchanged.
    Bytes payload(in, in + (n < 256 ? n : 256));
    Bytes stream;
    Rfc2217Codec::escape(payload.data(), payload.size(), stream);
    {
        Rfc2217Codec fresh;
        Bytes got, reply;
        for (size_t at = 0; at < stream.size(); at += chunk)
            fresh.decode(stream.data() + at, stream.size() - at < chunk ? stream.size() - at : chunk, got,
                         reply);
        CHECK(got == payload);
        CHECK(reply.empty());
    }

    // A server's answer to a command: its value, escaped, comes back as lastAnswer().
    const uint8_t cmd = uint8_t(data[0] % 13);
    Bytes value(payload.begin(), payload.begin() + (payload.size() < 60 ? payload.size() : 60));
    const Bytes answer = Rfc2217Codec::command(uint8_t(cmd + vaznet::comport::SERVER_OFFSET), value);
    {
        Rfc2217Codec fresh;
        Bytes got, reply;
        for (size_t at = 0; at < answer.size(); at += chunk)
            fresh.decode(answer.data() + at, answer.size() - at < chunk ? answer.size() - at : chunk, got,
                         reply);
        CHECK(got.empty());
        CHECK(fresh.lastAnswer(cmd) == value);
    }
    return 0;
}
