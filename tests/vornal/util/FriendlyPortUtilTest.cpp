// Friendly port names: "name: description - maker" and back.
#include "FakeState.h"

#include "vornal/util/FriendlyPortUtil.h"

#include <gtest/gtest.h>

using vornal::util::FriendlyPortUtil;

TEST(FriendlyPortUtil, EmptyBeforeAnyUpdate) {
    EXPECT_TRUE(FriendlyPortUtil::getFriendlyPortList().isEmpty());
    EXPECT_FALSE(FriendlyPortUtil::portInfoListIsPopulated());
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName(QStringLiteral("COM3")), QStringLiteral("COM3"));
    EXPECT_EQ(FriendlyPortUtil::getUnfriendlyPortName(QStringLiteral("x")), QStringLiteral("x"));
}

TEST(FriendlyPortUtil, UpdateFailureKeepsThePreviousDetails) {
    FriendlyPortUtil::setPortInfo({{"COM5", "Maker", "Adapter"}});
    // The driver's list has not been read yet.
    EXPECT_THROW(FriendlyPortUtil::update(), Direduva::PortError);
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortList(), QStringList{QStringLiteral("COM5: Adapter - Maker")});
}

TEST(FriendlyPortUtil, NamesFromTheDriver) {
    fake().ports = {"COM3", "COM1"};
    fake().infos = {{"COM3", "Acme", "USB Serial Port"},
                    {"COM1", "(Standard port types)", "Communications Port"}};
    Direduva::SerialPortLocal::getPortList();
    FriendlyPortUtil::update();
    EXPECT_TRUE(FriendlyPortUtil::portInfoListIsPopulated());
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortList(),
              (QStringList{QStringLiteral("COM3: USB Serial Port - Acme"),
                           QStringLiteral("COM1: Communications Port - (Standard port types)")}));
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName(QStringLiteral("COM3")),
              QStringLiteral("COM3: USB Serial Port - Acme"));
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName(QStringLiteral("com3")),
              QStringLiteral("com3")); // exact match only
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName(QStringLiteral("COM9")), QStringLiteral("COM9"));
    EXPECT_EQ(FriendlyPortUtil::getUnfriendlyPortName(QStringLiteral("COM3: USB Serial Port - Acme")),
              QStringLiteral("COM3"));
    EXPECT_EQ(FriendlyPortUtil::getUnfriendlyPortName(QStringLiteral("COM3")), QStringLiteral("COM3"));
}
