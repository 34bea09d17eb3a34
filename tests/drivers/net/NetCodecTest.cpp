// Network port names and the RFC 2217 codec, without a network.
#include <NetPortName.h>
#include <Rfc2217.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace vaznet;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint8_t IAC = 255, WILL = 251, WONT = 252, DO = 253, DONT = 254, SB = 250, SE = 240;

struct Decoded {
    Bytes data, reply;
};

Decoded decode(Rfc2217Codec& c, const Bytes& in) {
    Decoded d;
    c.decode(in.data(), in.size(), d.data, d.reply);
    return d;
}

std::string why(const std::string& name) {
    std::string text;
    EXPECT_FALSE(parseNetPortName(name, &text)) << name;
    return text;
}

} // namespace

TEST(NetPortName, AcceptsIpv4Ipv6AndHostNames) {
    auto a = parseNetPortName("tcp://192.168.1.20:4001");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->scheme, Scheme::Tcp);
    EXPECT_EQ(a->host, "192.168.1.20");
    EXPECT_EQ(a->port, 4001);
    auto b = parseNetPortName("RFC2217://[::1]:65535");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->scheme, Scheme::Rfc2217);
    EXPECT_EQ(b->host, "::1");
    EXPECT_EQ(b->port, 65535);
    EXPECT_EQ(describe(*b), "::1 port 65535");
    auto c = parseNetPortName("tcp://scale-3.lab.example:1/");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->host, "scale-3.lab.example");
    EXPECT_EQ(c->port, 1);
    EXPECT_TRUE(parseNetPortName("tcp://[fe80::1%eth0]:23"));
    EXPECT_TRUE(hasNetScheme("Tcp://x"));
    EXPECT_FALSE(hasNetScheme("/dev/ttyUSB0"));
    EXPECT_FALSE(hasNetScheme("COM3"));
}

TEST(NetPortName, RefusesBrokenNamesWithAReason) {
    EXPECT_NE(why("tcp://host").find("tcp://HOST:PORT"), std::string::npos);
    EXPECT_NE(why("tcp://host:0").find("1 to 65535"), std::string::npos);
    EXPECT_NE(why("tcp://host:65536").find("1 to 65535"), std::string::npos);
    EXPECT_NE(why("tcp://host:12ab").find("1 to 65535"), std::string::npos);
    EXPECT_NE(why("tcp://:4001").find("tcp://HOST:PORT"), std::string::npos);
    EXPECT_NE(why("tcp://::1:4001").find("[::1]:4001"), std::string::npos);
    EXPECT_NE(why("tcp://[::1]4001").find("HOST:PORT"), std::string::npos);
    EXPECT_NE(why("tcp://[zz]:4001").find("not an IPv6 address"), std::string::npos);
    EXPECT_NE(why("tcp://bad host:4001").find("not a host name"), std::string::npos);
    EXPECT_NE(why("rfc2217://x:99999999999999999999").find("rfc2217://HOST:PORT"), std::string::npos);
    EXPECT_NE(why("COM3").find("not a network port name"), std::string::npos);
}

TEST(Rfc2217Codec, GreetingOffersComPortBinaryAndSuppressGoAhead) {
    Rfc2217Codec c;
    EXPECT_EQ(c.greeting(), (Bytes{IAC, WILL, 44, IAC, WILL, 0, IAC, DO, 0, IAC, WILL, 3, IAC, DO, 3}));
    EXPECT_EQ(c.comPort(), Rfc2217Codec::Answer::Pending);
}

TEST(Rfc2217Codec, AgreementsAreNotAnsweredAgainAndUnknownOptionsAreRefused) {
    Rfc2217Codec c;
    c.greeting();
    // The server agrees to all, offers echo and asks for terminal type.
    const auto d = decode(
        c, {IAC, DO, 44, IAC, DO, 0, IAC, WILL, 0, IAC, DO, 3, IAC, WILL, 3, IAC, WILL, 1, IAC, DO, 24});
    EXPECT_EQ(c.comPort(), Rfc2217Codec::Answer::Accepted);
    EXPECT_TRUE(d.data.empty());
    EXPECT_EQ(d.reply, (Bytes{IAC, DONT, 1, IAC, WONT, 24}));
    EXPECT_FALSE(c.binaryRefused());
}

TEST(Rfc2217Codec, ARefusedComPortOptionIsSeen) {
    Rfc2217Codec c;
    c.greeting();
    const auto d = decode(c, {IAC, DONT, 44, IAC, WONT, 0});
    EXPECT_EQ(c.comPort(), Rfc2217Codec::Answer::Refused);
    EXPECT_TRUE(c.binaryRefused());
    EXPECT_TRUE(d.reply.empty()); // a refusal of an offer is not answered
    // A server that asks for the option itself (without the client's offer) gets it.
    Rfc2217Codec fresh;
    EXPECT_EQ(decode(fresh, {IAC, DO, 44}).reply, (Bytes{IAC, WILL, 44}));
    EXPECT_EQ(fresh.comPort(), Rfc2217Codec::Answer::Accepted);
}

TEST(Rfc2217Codec, DataKeepsEveryByteAndUnescapesIac) {
    Rfc2217Codec c;
    Bytes all;
    for (int b = 0; b < 256; ++b)
        all.push_back(uint8_t(b));
    Bytes escaped;
    Rfc2217Codec::escape(all.data(), all.size(), escaped);
    EXPECT_EQ(escaped.size(), 257u);
    EXPECT_EQ(escaped[255], IAC);
    EXPECT_EQ(escaped[256], IAC);
    // Fed one byte at a time, across every split.
    Bytes data, reply;
    for (uint8_t b : escaped)
        c.decode(&b, 1, data, reply);
    EXPECT_EQ(data, all);
    EXPECT_TRUE(reply.empty());
    // Commands in the middle of the data take no data byte.
    const auto d = decode(c, {'1', IAC, 241 /* NOP */, '2', IAC, IAC, '3', IAC, WILL, 3, '4'});
    EXPECT_EQ(d.data, (Bytes{'1', '2', IAC, '3', '4'}));
}

TEST(Rfc2217Codec, CommandsAreFramedAndEscaped) {
    EXPECT_EQ(Rfc2217Codec::setBaudRate(9600), (Bytes{IAC, SB, 44, 1, 0, 0, 0x25, 0x80, IAC, SE}));
    // 0xFF inside a value is doubled (rate 0x0001FFFF).
    EXPECT_EQ(Rfc2217Codec::setBaudRate(0x1FFFF), (Bytes{IAC, SB, 44, 1, 0, 1, IAC, IAC, IAC, IAC, IAC, SE}));
    EXPECT_EQ(Rfc2217Codec::command(comport::SET_PARITY, {3}), (Bytes{IAC, SB, 44, 3, 3, IAC, SE}));
}

TEST(Rfc2217Codec, NotificationsOfModemLinesAndLineConditions) {
    Rfc2217Codec c;
    EXPECT_FALSE(c.modemStateKnown());
    // Modem state cut into pieces between reads.
    auto d = decode(c, {'a', IAC, SB, 44});
    d = decode(c, {107, comport::MODEM_CTS | comport::MODEM_DSR, IAC});
    d = decode(c, {SE, 'b'});
    EXPECT_EQ(d.data, Bytes{'b'});
    EXPECT_TRUE(c.modemStateKnown());
    EXPECT_EQ(c.modemState(), comport::MODEM_CTS | comport::MODEM_DSR);
    // Line state: parity, then framing; each taken once.
    decode(c, {IAC, SB, 44, 106, comport::LINE_PARITY, IAC, SE, IAC, SB, 44, 106, comport::LINE_FRAMING, IAC,
               SE});
    EXPECT_EQ(c.takeLineEvents(comport::LINE_PARITY), comport::LINE_PARITY);
    EXPECT_EQ(c.takeLineEvents(comport::LINE_PARITY), 0);
    EXPECT_EQ(c.takeLineEvents(0xFF), comport::LINE_FRAMING);
    // The server's answer to a setting is kept (an escaped 0xFF in it too).
    decode(c, {IAC, SB, 44, 101, 0, 1, IAC, IAC, IAC, IAC, IAC, SE});
    EXPECT_EQ(c.lastAnswer(comport::SET_BAUDRATE), (Bytes{0, 1, IAC, IAC}));
}

TEST(Rfc2217Codec, OversizedOrBrokenSubnegotiationsDoNotSwallowData) {
    Rfc2217Codec c;
    Bytes in{IAC, SB, 44, 107};
    in.insert(in.end(), 1000, 'x');
    in.insert(in.end(), {IAC, SE, '7'});
    EXPECT_EQ(decode(c, in).data, Bytes{'7'});
    EXPECT_FALSE(c.modemStateKnown());
    // IAC followed by a command inside a subnegotiation ends it; the command counts.
    const auto d = decode(c, {IAC, SB, 44, 107, 1, IAC, WILL, 1, '8'});
    EXPECT_EQ(d.data, Bytes{'8'});
    EXPECT_EQ(d.reply, (Bytes{IAC, DONT, 1}));
}
