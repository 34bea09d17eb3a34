// The port list both programs start with: the simulated instruments' ports through the simulation
// driver, and the check that the driver library could be loaded at all.
#include "vornal/worker/Startup.h"

#include "vornal/util/FriendlyPortUtil.h"

#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialPortLocal.h>

#include <QTemporaryDir>

#include <gtest/gtest.h>

using vornal::worker::listPorts;
using vornal::worker::PortListing;

#ifdef VORNAL_NO_DRIVER

// The driver folder named at start-up holds no driver: nothing is listed, and the reason says which
// folder was looked at.
TEST(PortListing, AMissingDriverIsReportedWithItsReason) {
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    Direduva::ProcessProperties::set("VAZ_DRIVER_DIR", empty.path().toStdString());
    Direduva::SerialPortLocal::setDiagnosticOutput(nullptr);
    const PortListing listing = listPorts(true);
    EXPECT_TRUE(listing.libraryMissing);
    EXPECT_TRUE(listing.ports.isEmpty());
    EXPECT_TRUE(listing.failure.contains(empty.path())) << listing.failure.toStdString();
    EXPECT_TRUE(listing.message().startsWith(QStringLiteral("the serial driver is not available: ")))
        << listing.message().toStdString();
}

#else

TEST(PortListing, TheSimulatedPortsWithTheirFriendlyNames) {
    const QString used = vornal::worker::useSimulator(QStringLiteral(VORNAL_BIN_DIR), QString());
    if (used.isEmpty())
        GTEST_SKIP() << "simulation driver not built";
    Direduva::SerialPortLocal::setDiagnosticOutput(nullptr);
    const PortListing listing = listPorts(true);
    ASSERT_FALSE(listing.libraryMissing) << listing.failure.toStdString();
    EXPECT_TRUE(listing.failure.isEmpty()) << listing.failure.toStdString();
    EXPECT_TRUE(listing.message().isEmpty());
    EXPECT_FALSE(listing.entryMissing);
    ASSERT_FALSE(listing.ports.isEmpty());
    for (const QString& port : listing.ports)
        EXPECT_FALSE(port.isEmpty());
    // With details the friendly names are known, "NAME: description - maker".
    const QString friendly = vornal::util::FriendlyPortUtil::getFriendlyPortName(listing.ports.first());
    EXPECT_TRUE(friendly.startsWith(listing.ports.first() + u':')) << friendly.toStdString();
    // Listing again gives the same ports.
    EXPECT_EQ(listPorts().ports, listing.ports);
}

#endif
