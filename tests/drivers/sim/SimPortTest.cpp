// One simulated port driven by an explicit clock: timing, nothing lost, gates, replies,
// line conditions and an unplug inside the program.

#include "SimPort.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace vazsim;

namespace {

std::string readAll(SimPort& p) {
    std::string s;
    std::uint8_t buf[64];
    while (std::size_t n = p.read(buf, sizeof buf))
        s.append(reinterpret_cast<char*>(buf), n);
    return s;
}

Script parse(const char* text) {
    return parseScript(text, "t.vsim");
}

} // namespace

TEST(SimPort, TimedLinesArriveWhenDueAndAreKeptUntilRead) {
    Script s = parse("port A\nwait 100ms\nsend \"one\\r\\n\"\nwait 100ms\nsend \"two\\r\\n\"\n");
    SimPort p(s.ports[0], 1000);
    p.advance(1099, std::nullopt);
    EXPECT_EQ(p.rxReady(), 0u);
    ASSERT_EQ(p.nextEventAt(), 1100);
    p.advance(1100, std::nullopt);
    EXPECT_EQ(readAll(p), "one\r\n");
    // Long after both fell due and nobody read: everything is still there, in order.
    p.advance(60000, std::nullopt);
    EXPECT_EQ(readAll(p), "two\r\n");
    EXPECT_EQ(p.nextEventAt(), std::nullopt);
}

TEST(SimPort, EveryAndRepeatKeepTheirRate) {
    Script s = parse("port A\nrepeat 3\nsend \"r\"\nend\nevery 50ms send \"x\"\n");
    SimPort p(s.ports[0], 0);
    p.advance(0, std::nullopt);
    EXPECT_EQ(readAll(p), "rrr");
    p.advance(1000, std::nullopt);
    EXPECT_EQ(readAll(p), std::string(20, 'x'));
}

TEST(SimPort, DriftingValueStaysInRangeAndKeepsItsFormat) {
    Script s = parse("port A\nvalue w 1.000 drift=0.500 min=0 max=2\nevery 10ms send \"{w:+8}\\n\"\n");
    SimPort p(s.ports[0], 0);
    p.advance(2000, std::nullopt);
    std::string all = readAll(p);
    ASSERT_EQ(all.size(), 200u * 9);
    EXPECT_EQ(all.substr(0, 8), "+  1.000");
    bool changed = false;
    for (std::size_t i = 0; i < all.size(); i += 9) {
        std::string line = all.substr(i, 9);
        ASSERT_EQ(line[0], '+') << line;
        ASSERT_EQ(line[8], '\n');
        double v = std::stod(line.substr(1, 7));
        EXPECT_GE(v, 0.0);
        EXPECT_LE(v, 2.0);
        changed |= line != "+  1.000\n";
    }
    EXPECT_TRUE(changed);
}

TEST(SimPort, ConditionsBecomeVisibleWithTheirByteAndClearOnQuery) {
    Script s = parse("port A\nsend \"ab\" parity-error=1\nsend \"cd\" framing-error=9 overrun break\n");
    SimPort p(s.ports[0], 0);
    p.advance(0, std::nullopt);
    std::uint8_t b;
    p.read(&b, 1);
    EXPECT_FALSE(p.takeCondition(FlagParity));
    p.read(&b, 1);
    EXPECT_TRUE(p.takeCondition(FlagParity));
    EXPECT_FALSE(p.takeCondition(FlagParity)); // cleared by the query
    p.read(&b, 1);                             // 'c': overrun and break on the first byte
    EXPECT_TRUE(p.takeCondition(FlagOverrun));
    EXPECT_TRUE(p.takeCondition(FlagBreak));
    EXPECT_FALSE(p.takeCondition(FlagFraming));
    p.read(&b, 1); // 'd': a position past the end marks the last byte
    EXPECT_TRUE(p.takeCondition(FlagFraming));
}

TEST(SimPort, ModemLinesFollowTheProgramsLines) {
    Script s = parse("port A\nmodem dsr=dtr cts=rts cd=high ri=low\n");
    SimPort p(s.ports[0], 0);
    EXPECT_TRUE(p.dsr()); // DTR and RTS are raised by the open
    EXPECT_TRUE(p.cts());
    p.setDtr(false, 1);
    EXPECT_FALSE(p.dsr());
    EXPECT_TRUE(p.cts());
    p.setRts(false, 2);
    EXPECT_FALSE(p.cts());
    EXPECT_TRUE(p.cd());
    EXPECT_FALSE(p.ring());
}

TEST(SimPort, GateStopsTheInstrumentsClock) {
    Script s = parse("port A\ngate dtr\nevery 100ms send \"x\"\n");
    SimPort p(s.ports[0], 0);
    p.advance(250, std::nullopt);
    EXPECT_EQ(readAll(p), "xx");
    p.setDtr(false, 250);
    p.advance(10000, std::nullopt);
    EXPECT_EQ(p.rxReady(), 0u);
    EXPECT_EQ(p.nextEventAt(), std::nullopt);
    p.setDtr(true, 10000); // resumes 50 ms before the next line
    EXPECT_EQ(p.nextEventAt(), 10050);
    p.advance(10050, std::nullopt);
    EXPECT_EQ(readAll(p), "x");
}

TEST(SimPort, RepliesEchoAndRecord) {
    Script s =
        parse("port A\necho\non \"P\\r\" after 30ms send \"12.5 g\\r\\n\"\non \"T\" send \"T ok\\n\"\n");
    SimPort p(s.ports[0], 0);
    const std::uint8_t cmd[] = {'P', '\r'};
    EXPECT_EQ(p.write(cmd, 2, 100), 2u);
    EXPECT_EQ(readAll(p), "P\r"); // the echo comes at once
    p.advance(129, std::nullopt);
    EXPECT_EQ(p.rxReady(), 0u);
    p.advance(130, std::nullopt);
    EXPECT_EQ(readAll(p), "12.5 g\r\n");
    // A trigger split over two writes still counts; a command written twice is answered twice.
    const std::uint8_t p1[] = {'P'}, p2[] = {'\r', 'T', 'T'};
    p.write(p1, 1, 200);
    p.write(p2, 3, 201);
    p.advance(1000, std::nullopt);
    EXPECT_EQ(readAll(p), "P\rTTT ok\nT ok\n12.5 g\r\n");
}

TEST(SimPort, HardwareHandshakeHoldsWritesWhileCtsIsLow) {
    Script s = parse("port A\nmodem cts=low\n");
    SimPort p(s.ports[0], 0);
    const std::uint8_t x[] = {'x'};
    EXPECT_EQ(p.write(x, 1, 0), 1u);
    p.setHandshake(2);
    EXPECT_EQ(p.write(x, 1, 0), 0u);
    p.setHandshake(0x20);
    EXPECT_EQ(p.write(x, 1, 0), 0u);
}

TEST(SimPort, UnplugInTheProgramDeliversWhatCameBefore) {
    Script s = parse("port A\nsend \"a\"\nwait 100ms\nsend \"b\"\nunplug\n");
    SimPort p(s.ports[0], 0);
    p.advance(50, std::nullopt);
    EXPECT_EQ(p.programUnplugAt(), std::nullopt);
    p.advance(5000, std::nullopt);
    EXPECT_EQ(p.programUnplugAt(), 100);
    EXPECT_EQ(readAll(p), "ab");
}

TEST(SimPort, ScheduledUnplugCutsTheProgram) {
    Script s = parse("port A\nevery 100ms send \"x\"\n");
    SimPort p(s.ports[0], 0);
    p.advance(10000, 350);
    EXPECT_EQ(readAll(p), "xxx");
}

TEST(SimPort, RunawayScriptIsWorkedOffInBoundedSteps) {
    Script s = parse(
        "port A\nvalue n 9223372036854775 step=9223372036854775\nrepeat 1000000000\nsend \"{n}\"\nend\n");
    SimPort p(s.ports[0], 0);
    p.advance(0, std::nullopt); // returns instead of producing ten gigabytes
    const std::size_t first = p.rxReady();
    EXPECT_GT(first, 0u);
    EXPECT_LT(first, std::size_t(17) << 20);
    std::vector<std::uint8_t> buf(first);
    p.read(buf.data(), first);
    p.advance(0, std::nullopt); // and goes on where it stopped
    EXPECT_GT(p.rxReady(), 0u);
    // The value saturates instead of overflowing.
    EXPECT_NE(std::string(buf.begin(), buf.end()).find("9223372036854775807"), std::string::npos);
}

TEST(SimPort, OtherLineSettingsGarbleWhatArrives) {
    Script s = parse("port A\nsettings 2400 7e1\nevery 10ms send \"ab\"\n");
    SimPort p(s.ports[0], 0);
    std::uint8_t b;
    p.setLineSettings({9600, 8, 0, 1});
    p.advance(10, std::nullopt);
    p.read(&b, 1);
    EXPECT_TRUE(p.takeCondition(FlagFraming));
    EXPECT_TRUE(p.takeCondition(FlagParity));
    p.setLineSettings({2400, 7, 1, 1}); // only the parity differs
    p.read(&b, 1);                      // already received: keeps what it had
    EXPECT_TRUE(p.takeCondition(FlagParity));
    p.advance(20, std::nullopt);
    readAll(p);
    EXPECT_TRUE(p.takeCondition(FlagFraming));
    EXPECT_TRUE(p.takeCondition(FlagParity));
    p.setLineSettings({2400, 7, 2, 1});
    p.advance(30, std::nullopt);
    readAll(p);
    EXPECT_FALSE(p.takeCondition(FlagFraming));
    EXPECT_FALSE(p.takeCondition(FlagParity));
}
