// The simulator's script parser: what a script means, and that a bad one is refused with the file,
// the line and a reason a user can act on.

#include "SimScript.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

using namespace vazsim;

namespace {

std::string errorOf(const std::string& text) {
    try {
        parseScript(text, "t.vsim");
    } catch (const ScriptError& e) {
        return e.what();
    }
    return "(accepted)";
}

std::string literalOf(const Payload& p) {
    std::string s;
    for (const Piece& piece : p.pieces) {
        if (piece.value < 0) {
            s += piece.literal;
        } else {
            s += '{';
            s += std::to_string(piece.value);
            s += '}';
        }
    }
    return s;
}

} // namespace

TEST(SimScript, PortsAttributesAndProgram) {
    Script s = parseScript(R"(# two instruments
port COM7   # trailing comment
description "Bench scale"
manufacturer "Acme # not a comment"
modem dsr=dtr cts=rts cd=high
value w -1.50 drift=0.02 step=0.10 min=-5 max=5
every 250ms send "W{w:+8}\r\n" parity-error=2 framing-error

port SIM9
in-use
modem none
unplug after 1.5s
on "P\r\n" after 20ms send "OK\n"
repeat 2
  wait 1s
  send "\x02A\\\"\{\}\x03"
end
unplug
)",
                           "t.vsim");
    ASSERT_EQ(s.ports.size(), 2u);
    const PortDescription& a = s.ports[0];
    EXPECT_EQ(a.name, "COM7");
    EXPECT_EQ(a.description, "Bench scale");
    EXPECT_EQ(a.manufacturer, "Acme # not a comment");
    EXPECT_EQ(a.modem.dsr, LineMode::FollowDtr);
    EXPECT_EQ(a.modem.cts, LineMode::FollowRts);
    EXPECT_EQ(a.modem.cd, LineMode::High);
    EXPECT_EQ(a.modem.ri, LineMode::Low);
    ASSERT_EQ(a.values.size(), 1u);
    EXPECT_EQ(a.values[0].decimals, 2);
    EXPECT_EQ(a.values[0].start, -150);
    EXPECT_EQ(a.values[0].drift, 2);
    EXPECT_EQ(a.values[0].step, 10);
    EXPECT_EQ(a.values[0].min, -500);
    ASSERT_EQ(a.program.size(), 1u);
    const Statement& every = a.program[0];
    EXPECT_EQ(every.kind, Statement::Loop);
    ASSERT_EQ(every.body.size(), 2u);
    EXPECT_EQ(every.body[0].ms, 250);
    const Payload& p = every.body[1].payload;
    EXPECT_EQ(literalOf(p), "W{0}\r\n");
    EXPECT_TRUE(p.pieces[1].plusSign);
    EXPECT_EQ(p.pieces[1].width, 8);
    ASSERT_EQ(p.errors.size(), 2u);
    EXPECT_EQ(p.errors[0].index, 2u);
    EXPECT_EQ(p.errors[0].flags, FlagParity);
    EXPECT_EQ(p.errors[1].index, 0u);
    EXPECT_EQ(p.errors[1].flags, FlagFraming);

    const PortDescription& b = s.ports[1];
    EXPECT_EQ(b.openError, 1002);
    EXPECT_EQ(b.modem.dsr, LineMode::Low);
    EXPECT_EQ(b.modem.cts, LineMode::Low);
    EXPECT_TRUE(b.unplugScheduled);
    EXPECT_EQ(b.unplugAfterMs, 1500);
    ASSERT_EQ(b.replies.size(), 1u);
    EXPECT_EQ(b.replies[0].trigger, "P\r\n");
    EXPECT_EQ(b.replies[0].delayMs, 20);
    ASSERT_EQ(b.program.size(), 2u);
    EXPECT_EQ(b.program[0].kind, Statement::Repeat);
    EXPECT_EQ(b.program[0].count, 2);
    EXPECT_EQ(literalOf(b.program[0].body[1].payload), std::string("\x02"
                                                                   "A\\\"{}\x03"));
    EXPECT_EQ(b.program[1].kind, Statement::Unplug);
}

TEST(SimScript, WindowsLineEndsTabsAndByteOrderMark) {
    Script s = parseScript("\xEF\xBB\xBFport A\r\n\tsend\t\"x\"\r\n", "t.vsim");
    ASSERT_EQ(s.ports.size(), 1u);
    ASSERT_EQ(s.ports[0].program.size(), 1u);
    EXPECT_EQ(literalOf(s.ports[0].program[0].payload), "x");
}

TEST(SimScript, BuiltinDemoParsesWithThreeInstruments) {
    Script s = builtinScript();
    ASSERT_EQ(s.ports.size(), 3u);
    EXPECT_EQ(s.ports[0].name, "SIM1");
    EXPECT_EQ(s.ports[1].name, "SIM2");
    EXPECT_EQ(s.ports[2].name, "SIM3");
    EXPECT_EQ(s.ports[2].modem.dsr, LineMode::FollowDtr);
    EXPECT_TRUE(s.ports[2].gateDtr && s.ports[2].gateRts);
    EXPECT_TRUE(s.ports[2].hasSettings);
    EXPECT_EQ(s.ports[2].settings, (LineSettings{2400, 7, 2, 1}));
}

TEST(SimScript, ErrorsNameFileLineAndReason) {
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"", "t.vsim:1: the script defines no port"},
        {"send \"x\"", "t.vsim:1: 'send' must follow a 'port NAME' line"},
        {"port A\nfrobnicate", "t.vsim:2: unknown keyword 'frobnicate'"},
        {"port A\nport a", "t.vsim:2: port 'a' is defined twice (first on line 1)"},
        {"port A\nwait 10", "t.vsim:2: bad duration '10': write a number with the unit ms or s"},
        {"port A\nwait 1.5ms", "t.vsim:2: bad duration '1.5ms': milliseconds are whole numbers"},
        {"port A\nsend \"abc", "t.vsim:2: a quoted text is not closed"},
        {"port A\nsend \"a\\q\"", "t.vsim:2: unknown escape '\\q'"},
        {"port A\nsend \"\\x4\"", "t.vsim:2: '\\x' must be followed by two hexadecimal digits"},
        {"port A\nsend \"{w}\"", "t.vsim:2: value 'w' is not declared"},
        {"port A\nvalue w 1.5 drift=0.01",
         "t.vsim:2: drift '0.01' has more decimals than the start value (1)"},
        {"port A\nvalue w 1 min=3 max=2", "t.vsim:2: min is above max"},
        {"port A\nloop\nsend \"x\"\nend",
         "t.vsim:2: 'loop' needs a 'wait' with a duration above zero inside"},
        {"port A\nrepeat 2\nwait 1s\n", "t.vsim:2: 'repeat' is not closed with 'end'"},
        {"port A\nend", "t.vsim:2: 'end' without 'repeat' or 'loop'"},
        {"port A\nevery 1s send \"x\"\nsend \"y\"", "t.vsim:3: 'send' is never reached"},
        {"port A\nrepeat 2\nmodem none\nend", "t.vsim:3: 'modem' describes the port and cannot stand inside"},
        {"port A\nmodem dsr=sometimes", "t.vsim:2: bad value 'sometimes' for dsr"},
        {"port A\nsend \"x\" parity-error=a", "t.vsim:2: bad byte position 'a'"},
        {"port A\nsend \"x\" loud", "t.vsim:2: unknown option 'loud'"},
        {"port A\nrepeat 0\nwait 1s\nend", "t.vsim:2: repeat count 0 is out of range"},
        {"port A\non \"\" send \"x\"", "t.vsim:2: the text after 'on' is empty"},
        {"port A\nsettings 2400 9E1", "t.vsim:2: bad frame '9E1'"},
        {"port A\nsettings fast 8N1", "t.vsim:2: bad bit rate 'fast'"},
    };
    for (const Case& c : cases) {
        std::string what = errorOf(c.text);
        EXPECT_EQ(what.rfind(c.expected, 0), 0u) << "script:\n" << c.text << "\ngave: " << what;
    }
}

TEST(SimScript, MissingFileIsAScriptError) {
    try {
        loadScript("/nonexistent/dir/x.vsim");
        FAIL() << "no error";
    } catch (const ScriptError& e) {
        EXPECT_EQ(e.file(), "/nonexistent/dir/x.vsim");
        EXPECT_EQ(std::string(e.what()).rfind("/nonexistent/dir/x.vsim: cannot read the simulator script", 0),
                  0u)
            << e.what();
    }
}

TEST(SimScript, ValueFormats) {
    EXPECT_EQ(formatValue(12345, 3, true, false, 9), "+  12.345");
    EXPECT_EQ(formatValue(-12345, 3, true, false, 9), "-  12.345");
    EXPECT_EQ(formatValue(-12345, 3, false, false, 9), "  -12.345");
    EXPECT_EQ(formatValue(10125, 2, true, true, 9), "+00101.25");
    EXPECT_EQ(formatValue(5, 3, false, false, 0), "0.005");
    EXPECT_EQ(formatValue(-5, 3, false, false, 0), "-0.005");
    EXPECT_EQ(formatValue(0, 0, true, false, 0), "+0");
    EXPECT_EQ(formatValue(123456, 0, false, false, 3), "123456");
}

TEST(SimScript, ShippedScriptsParseAndTheDemoMatchesTheBuiltIn) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(VORNAL_SOURCE_DIR) / "resources" / "sim";
    int count = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".vsim")
            continue;
        ++count;
        EXPECT_NO_THROW(loadScript(entry.path().string())) << entry.path();
    }
    EXPECT_GE(count, 1);
    std::ifstream in(dir / "demo.vsim", std::ios::binary);
    std::string demo((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(demo, builtinScriptText()) << "resources/sim/demo.vsim differs from the built-in demo";
}
