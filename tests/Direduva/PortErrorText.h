// The message of the PortError a port operation throws ("" when it throws none).
#pragma once

#include <Direduva/Errors.h>

#include <functional>
#include <string>

inline std::string portError(const std::function<void()>& f) {
    try {
        f();
    } catch (const Direduva::PortError& e) {
        return e.what();
    }
    return "";
}
