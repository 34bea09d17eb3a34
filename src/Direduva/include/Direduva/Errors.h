#pragma once

#include <stdexcept>
#include <string>

namespace Direduva {

// An I/O failure of a port operation: opening, configuring, reading, writing, line queries.
class PortError : public std::runtime_error {
public:
    explicit PortError(const std::string& message) : std::runtime_error(message) {}
};

// The device went away while the port was open: the far end closed, or the adapter was unplugged.
// Raised by the read operations; the caller should close the port and stop reading.
class PortHangupError : public PortError {
public:
    explicit PortHangupError(const std::string& message) : PortError(message) {}
};

// A setting was refused by the settings record (bit rate, data bits, parity, ...).
class InvalidSettingError : public std::runtime_error {
public:
    explicit InvalidSettingError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace Direduva
