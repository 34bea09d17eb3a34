#pragma once

#include <Direduva/PortDriverInfo.h>

#include <QString>
#include <QStringList>

#include <vector>

namespace vornal::util {

// Friendly port names for the port list: "COM3: USB Serial Port - Acme" (name, description,
// maker), built from what the serial driver reported, and the way back to the bare port name.
// Thread-safe.
class FriendlyPortUtil {
public:
    // Takes the driver details of the current port list (call SerialPortLocal::getPortList first).
    // Throws Direduva::PortError and then keeps the previous details.
    static void update();
    // Uses the given details instead (what update() does with the driver's list).
    static void setPortInfo(const std::vector<Direduva::PortDriverInfo>& info);
    static bool portInfoListIsPopulated();
    // One friendly name per port with details, in the driver's order; empty without details.
    static QStringList getFriendlyPortList();
    // The friendly name of port (compared exactly), or port itself when there are no details.
    static QString getFriendlyPortName(const QString& port);
    // The port name behind a friendly name, or text itself when it is none.
    static QString getUnfriendlyPortName(const QString& text);
};

} // namespace vornal::util
