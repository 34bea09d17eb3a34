// The Win32 driver through the serial library, on whatever ports the machine has (none needed):
// the port list works and failed opens give the library's messages. Built for Windows only; the
// cross build runs it under wine when wine is installed.

#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialConfig.h>
#include <Direduva/SerialPortLocal.h>

#include <gtest/gtest.h>

#include <string>

using namespace Direduva;

namespace {

std::string openFailure(const std::string& name) {
    try {
        SerialPortLocal port{SerialConfig(name)};
    } catch (const PortError& e) {
        return e.what();
    }
    return "(opened)";
}

} // namespace

TEST(Win32Driver, ListsPortsAndReportsFailedOpens) {
    ProcessProperties::set("VAZ_DRIVER_DIR", VORNAL_LIB_DIR "/drivers/win32");
    ProcessProperties::set("VAZ_OSNAME", "Windows");
    ProcessProperties::set("VAZ_OSARCH", "x86");
    SerialPortLocal::setDiagnosticOutput(nullptr);
    const auto ports = SerialPortLocal::getPortList();
    ASSERT_TRUE(SerialPortLocal::isLibraryLoaded()) << SerialPortLocal::libraryLoadError();
    for (const std::string& p : ports)
        EXPECT_FALSE(p.empty());
    // The library's code, then the driver's own reason.
    const std::string failure = openFailure("COM250");
    EXPECT_EQ(failure.rfind("COM250: SerOpenPort failed: 2: No such device (COM250: CreateFile", 0), 0u)
        << failure;
}
