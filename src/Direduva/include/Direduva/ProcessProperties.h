#pragma once

#include <optional>
#include <string>

namespace Direduva {

// Process-wide named properties read by the serial library ("SERIAL_PORT_LIST", "VAZ_OSNAME",
// "VAZ_OSARCH", "VAZ_DRIVER_DIR", ...). A property set here wins; otherwise the environment
// variable of the same name is used. Thread-safe.
class ProcessProperties {
public:
    static std::optional<std::string> get(const std::string& name);
    static void set(const std::string& name, const std::string& value);
    // Forgets a value set with set(); the environment variable applies again.
    static void clear(const std::string& name);
};

} // namespace Direduva
