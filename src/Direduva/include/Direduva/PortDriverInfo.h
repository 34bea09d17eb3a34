#pragma once

#include <string>

namespace Direduva {

// What the driver knows about one port: its name, the maker and a description of the device.
class PortDriverInfo {
public:
    PortDriverInfo(std::string name, std::string manufacture, std::string description)
        : name_(std::move(name)), manufacture_(std::move(manufacture)), description_(std::move(description)) {
    }

    const std::string& getPortName() const { return name_; }
    const std::string& getDriverMfgr() const { return manufacture_; }
    const std::string& getDriverDesc() const { return description_; }

private:
    std::string name_;
    std::string manufacture_;
    std::string description_;
};

} // namespace Direduva
