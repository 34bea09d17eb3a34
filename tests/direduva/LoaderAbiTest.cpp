// A driver built for another interface version is refused, with a reason the user can act on.
#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialPortLocal.h>

#include <gtest/gtest.h>

#include <string>

TEST(LoaderAbi, MismatchedDriverIsRefused) {
    Direduva::ProcessProperties::set("VAZ_DRIVER_DIR", FAKE_ABI_DIR);
    EXPECT_FALSE(Direduva::SerialPortLocal::isLibraryLoaded());
    const std::string error = Direduva::SerialPortLocal::libraryLoadError();
    EXPECT_NE(error.find("interface version 99"), std::string::npos) << error;
    EXPECT_NE(error.find("needs version 2"), std::string::npos) << error;
    EXPECT_EQ(Direduva::SerialPortLocal::libraryPath(), "");
    EXPECT_THROW(Direduva::SerialPortLocal::getPortList(), Direduva::PortError);
}
