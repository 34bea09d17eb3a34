// The settings record: validating setters with their exact messages, bit-rate lookups, summary.
#include <Direduva/Errors.h>
#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialConfig.h>

#include "TestEnv.h"

#include <gtest/gtest.h>

#include <functional>

using Direduva::InvalidSettingError;
using Direduva::SerialConfig;

namespace {

// Runs f and returns the invalid-setting message, or "" when nothing was thrown.
std::string refusal(const std::function<void()>& f) {
    try {
        f();
    } catch (const InvalidSettingError& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(SerialConfig, ConstructorsSetTheirDefaults) {
    const SerialConfig plain;
    EXPECT_EQ(plain.getPortNameString(), "COM1");
    EXPECT_EQ(plain.getPortName(), "COM1");
    EXPECT_EQ(plain.getBaseName(), "/dev/ttyS");
    EXPECT_EQ(plain.getPort(), 0);
    EXPECT_EQ(plain.getTxLen(), 4096);
    EXPECT_EQ(plain.getRxLen(), 4096);
    EXPECT_EQ(plain.getBitRate(), SerialConfig::BR_9600);
    EXPECT_EQ(plain.getDataBits(), SerialConfig::LN_8BITS);
    EXPECT_TRUE(plain.getHardFlow());
    EXPECT_FALSE(plain.getDisableActiveLink());

    const SerialConfig byNumber(3, 100000, 7);
    EXPECT_EQ(byNumber.getPort(), 3);
    EXPECT_EQ(byNumber.getPortNameString(), "");
    EXPECT_EQ(byNumber.getTxLen(), 100000); // stored unchecked
    EXPECT_EQ(byNumber.getRxLen(), 7);
    EXPECT_EQ(byNumber.getBaseName(), "/dev/ttyS");

    const SerialConfig byName(std::string("COM7"));
    EXPECT_EQ(byName.getPortNameString(), "COM7");
    EXPECT_EQ(byName.getPortName(), "COM7");
    EXPECT_EQ(byName.getBaseName(), "");
    EXPECT_EQ(byName.getPort(), 0);

    SerialConfig copy = byName.copy();
    copy.setPortName("COM8");
    EXPECT_EQ(byName.getPortNameString(), "COM7");
    EXPECT_EQ(copy.getPortName(), "COM8");
}

TEST(SerialConfig, SettersRefuseBadValuesAndKeepTheOldOne) {
    SerialConfig c("COM1");
    EXPECT_EQ(refusal([&] { c.setBitRate(921600); }), "");
    EXPECT_EQ(refusal([&] { c.setBitRate(921601); }), "Invalid Serial Port Bit Rate");
    EXPECT_EQ(refusal([&] { c.setBitRate(-1); }), "Invalid Serial Port Bit Rate");
    EXPECT_EQ(c.getBitRate(), 921600);

    EXPECT_EQ(refusal([&] { c.setDataBits(4); }), "Invalid Serial Port Data Bits");
    EXPECT_EQ(refusal([&] { c.setDataBits(-1); }), "Invalid Serial Port Data Bits");
    EXPECT_EQ(refusal([&] { c.setDataBits(0); }), "");
    EXPECT_EQ(refusal([&] { c.setParity(5); }), "Invalid Serial Port Parity");
    EXPECT_EQ(refusal([&] { c.setParity(4); }), "");
    EXPECT_EQ(refusal([&] { c.setStopBits(2); }), "Invalid Serial Port Stop Bits");
    EXPECT_EQ(refusal([&] { c.setStopBits(1); }), "");
    EXPECT_EQ(c.getDataBits(), 0);
    EXPECT_EQ(c.getParity(), 4);

    EXPECT_EQ(refusal([&] { c.setPortNum(-1); }), "Invalid Port Number: -1");
    EXPECT_EQ(refusal([&] { c.setPortNum(0); }), "");
    EXPECT_EQ(refusal([&] { c.setRxLen(100000); }), "");
    EXPECT_EQ(refusal([&] { c.setTxLen(100000); }), "");
}

TEST(SerialConfig, HandshakeRules) {
    SerialConfig c("COM1");
    for (int ok : {0, 1, 2, 16, 48, 240})
        EXPECT_EQ(refusal([&] { c.setHandshake(ok); }), "") << ok;
    for (int bad : {-1, 4, 15, 241, 1000})
        EXPECT_EQ(refusal([&] { c.setHandshake(bad); }), "Invalid Serial Port Handshake") << bad;
    EXPECT_EQ(c.getHandshake(), 240);

    c.setOsNameForTest("Windows 10");
    EXPECT_EQ(refusal([&] { c.setHandshake(3); }), "DSRDTR handshaking not available on this platform");
    c.setOsNameForTest("Windows 7");
    EXPECT_EQ(refusal([&] { c.setHandshake(3); }), "");
    EXPECT_EQ(c.getHandshake(), 3);
}

TEST(SerialConfig, EpocRules) {
    SerialConfig c("COMM::0");
    c.setOsNameForTest("EPOC");
    EXPECT_EQ(refusal([&] { c.setPortNum(-1); }), "");
    EXPECT_EQ(refusal([&] { c.setRxLen(8193); }), "Limited to 8192 on EPOC");
    EXPECT_EQ(refusal([&] { c.setTxLen(8193); }), "Limited to 8192 on EPOC");
    EXPECT_EQ(refusal([&] { c.setTxLen(8192); }), "");
}

TEST(SerialConfig, BitRateLookups) {
    EXPECT_EQ(SerialConfig::getBitRateIndex(14400), -1);
    EXPECT_EQ(SerialConfig::getBitRateIndex(9600), 7);
    EXPECT_EQ(SerialConfig::getBitRateIndex(921600), 14);

    SerialConfig c("COM1");
    c.setBitRate(9600);
    EXPECT_EQ(c.getBitRateNumber(c.getBitRate()), 9600);
    EXPECT_FALSE(c.validBitRateIndex());
    c.setBitRate(7);
    EXPECT_EQ(c.getBitRateNumber(c.getBitRate()), 9600);
    EXPECT_TRUE(c.validBitRateIndex());
    c.setBitRate(14);
    EXPECT_EQ(c.getBitRateNumber(c.getBitRate()), 921600);

    // 15..30 are accepted by the setter but are no rate: refused where used, never read past the table.
    for (int odd : {15, 20, 30}) {
        c.setBitRate(odd);
        EXPECT_EQ(refusal([&] { c.getBitRateNumber(c.getBitRate()); }), "Invalid Serial Port Bit Rate")
            << odd;
        EXPECT_EQ(refusal([&] { c.getSettingsString(); }), "Invalid Serial Port Bit Rate") << odd;
    }
    c.setBitRate(31);
    EXPECT_EQ(c.getBitRateNumber(c.getBitRate()), 31);
}

TEST(SerialConfig, SettingsString) {
    SerialConfig c("COM1");
    EXPECT_EQ(c.getSettingsString(), "9600 / NONE / 8 / 1 / NONE");
    c.setHandshake(48);
    EXPECT_EQ(c.getSettingsString(), "9600 / NONE / 8 / 1 /  HI HO");
    c.setHandshake(0xF0);
    EXPECT_EQ(c.getSettingsString(), "9600 / NONE / 8 / 1 /  HI HO SI SO");
    c.setBitRate(SerialConfig::BR_115200);
    c.setParity(SerialConfig::PY_EVEN);
    c.setDataBits(SerialConfig::LN_7BITS);
    c.setStopBits(SerialConfig::ST_2BITS);
    c.setHandshake(SerialConfig::HS_CTSRTS);
    EXPECT_EQ(c.getSettingsString(), "115200 / EVEN / 7 / 2 / CTS-RTS");
    c.setOsNameForTest("Mac OS");
    EXPECT_EQ(c.getSettingsString(), "115200 / EVEN / 7 / 2 / CTS-DTR");
    c.setBitRate(1234);
    c.setHandshake(SerialConfig::HS_XONXOFF);
    EXPECT_EQ(c.getSettingsString(), "1234 / EVEN / 7 / 2 / XON-XOFF");
}

TEST(ProcessProperties, SetValueWinsOverTheEnvironment) {
    setEnv("VORNAL_TEST_PROPERTY", "from-env");
    EXPECT_EQ(Direduva::ProcessProperties::get("VORNAL_TEST_PROPERTY").value_or(""), "from-env");
    Direduva::ProcessProperties::set("VORNAL_TEST_PROPERTY", "set");
    EXPECT_EQ(Direduva::ProcessProperties::get("VORNAL_TEST_PROPERTY").value_or(""), "set");
    Direduva::ProcessProperties::clear("VORNAL_TEST_PROPERTY");
    EXPECT_EQ(Direduva::ProcessProperties::get("VORNAL_TEST_PROPERTY").value_or(""), "from-env");
    unsetEnv("VORNAL_TEST_PROPERTY");
    EXPECT_FALSE(Direduva::ProcessProperties::get("VORNAL_TEST_PROPERTY").has_value());
}
