#include <Direduva/NativeHandleMutex.h>
#include <Direduva/ProcessProperties.h>

#include <cstdlib>
#include <map>
#include <mutex>

namespace Direduva {

namespace {
std::mutex& propMutex() {
    static std::mutex m;
    return m;
}
std::map<std::string, std::string>& props() {
    static std::map<std::string, std::string> p;
    return p;
}
} // namespace

std::optional<std::string> ProcessProperties::get(const std::string& name) {
    {
        std::lock_guard lock(propMutex());
        auto it = props().find(name);
        if (it != props().end())
            return it->second;
    }
    if (const char* v = std::getenv(name.c_str()))
        return std::string(v);
    return std::nullopt;
}

void ProcessProperties::set(const std::string& name, const std::string& value) {
    std::lock_guard lock(propMutex());
    props()[name] = value;
}

void ProcessProperties::clear(const std::string& name) {
    std::lock_guard lock(propMutex());
    props().erase(name);
}

NativeHandleMutex& NativeHandleMutex::getInstance() {
    static NativeHandleMutex instance;
    return instance;
}

} // namespace Direduva
