// A simulator script with a mistake: no ports are offered, opening fails, and the reason names the
// file and the line. A separate program, because the driver reads its script once per process.

#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialConfig.h>
#include <Direduva/SerialPortLocal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace Direduva;
namespace fs = std::filesystem;

TEST(SimBadScript, NoPortsAndOpenFailsNamingTheScriptError) {
    const fs::path dir =
        fs::temp_directory_path() /
        ("vornal-sim-bad-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir);
    const fs::path script = dir / "bad.vsim";
    std::ofstream(script) << "port SIM1\nwait 5 minutes\n";
#ifdef _WIN32
    _putenv_s("VAZ_SIM_SCRIPT", script.string().c_str());
#else
    setenv("VAZ_SIM_SCRIPT", script.string().c_str(), 1);
#endif
    ProcessProperties::set("VAZ_DRIVER_DIR", VORNAL_LIB_DIR "/drivers/sim");
    ProcessProperties::set("VAZ_OSNAME", "Windows");
    ProcessProperties::set("VAZ_OSARCH", "x86");
    SerialPortLocal::setDiagnosticOutput(nullptr);

    testing::internal::CaptureStderr();
    const auto list = SerialPortLocal::getPortList();
    const std::string diagnostics = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(SerialPortLocal::isLibraryLoaded()) << SerialPortLocal::libraryLoadError();
    EXPECT_TRUE(list.empty());
    EXPECT_NE(diagnostics.find(script.string() + ":2: bad duration '5'"), std::string::npos) << diagnostics;

    try {
        SerialPortLocal port{SerialConfig("SIM1")};
        FAIL() << "opened a port of a broken script";
    } catch (const PortError& e) {
        const std::string what = e.what();
        EXPECT_EQ(what.rfind("SIM1: SerOpenPort failed: Port not valid", 0), 0u) << what;
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
}
