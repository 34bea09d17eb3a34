// No driver in the folder named by VAZ_DRIVER_DIR: the library says so and stays usable.
#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialPortLocal.h>

#include "TestEnv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

using Direduva::SerialPortLocal;

TEST(LoaderMissing, ReportedToTheCaller) {
    const std::string dir = makeTempDir("vornal-nodriver-").string();
    Direduva::ProcessProperties::set("VAZ_DRIVER_DIR", dir);

    EXPECT_FALSE(SerialPortLocal::isLibraryLoaded());
    const std::string error = SerialPortLocal::libraryLoadError();
    EXPECT_NE(error.find("not found"), std::string::npos) << error;
    EXPECT_NE(error.find(dir), std::string::npos) << error;

    try {
        SerialPortLocal p(Direduva::SerialConfig(std::string("COM3")));
        ADD_FAILURE() << "opened without a driver";
    } catch (const Direduva::PortError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("COM3: SerOpenPort failed: serial driver not loaded: ", 0), 0u)
            << e.what();
    }
    EXPECT_THROW(SerialPortLocal::getPortList(), Direduva::PortError);
    EXPECT_THROW(SerialPortLocal::registerDeviceNotification([] {}), Direduva::PortError);
    SerialPortLocal unopened; // constructing without opening still works
    EXPECT_FALSE(unopened.isOpen());
    std::filesystem::remove(dir);
}

// exit(-1) as the system reports it.
#ifdef _WIN32
constexpr int kExitMinusOne = -1;
#else
constexpr int kExitMinusOne = 255;
#endif

TEST(LoaderMissingDeathTest, UnsupportedPlatformEndsTheProcess) {
#if defined(__SANITIZE_THREAD__)
    // The thread checker ends a process that exits from inside an uninstrumented library with its own
    // status 66; the exit status is what this test checks, and there are no threads here to check.
    GTEST_SKIP() << "exit status is the thread checker's own";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Direduva::ProcessProperties::set("VAZ_OSNAME", "Plan 9");
            Direduva::ProcessProperties::set("VAZ_OSARCH", "mips");
            SerialPortLocal::isLibraryLoaded();
        },
        ::testing::ExitedWithCode(kExitMinusOne), "");
}
