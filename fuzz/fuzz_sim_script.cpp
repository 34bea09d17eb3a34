// The simulator's script parser: any text is either a script or a ScriptError naming the file (no other
// exception, no crash, no hang), parsing is deterministic, and every parsed port has a name that a second
// port does not share. The value printer takes any parameters.
// Input: a script text.

#include "SimScript.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "fuzz check failed: %s %s\n", what, detail.substr(0, 200).c_str());
    std::abort();
}

std::string lower(std::string s) {
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::size_t ports = 0;
    std::string first;
    try {
        const vazsim::Script script = vazsim::parseScript(text, "fuzz.vsim");
        ports = script.ports.size();
        std::set<std::string> names;
        for (const auto& p : script.ports) {
            if (p.name.empty())
                fail("a port without a name", std::string(text));
            if (!names.insert(lower(p.name)).second)
                fail("two ports of one name", p.name);
        }
    } catch (const vazsim::ScriptError& e) {
        first = e.what();
        if (first.find("fuzz.vsim") == std::string::npos)
            fail("an error that does not name the file", first);
    }
    // The same text gives the same result.
    try {
        const vazsim::Script again = vazsim::parseScript(text, "fuzz.vsim");
        if (!first.empty() || again.ports.size() != ports)
            fail("a second parse differs", std::string(text));
    } catch (const vazsim::ScriptError& e) {
        if (first != e.what())
            fail("a second parse differs", e.what());
    }
    if (size >= 12) {
        std::int64_t scaled = 0;
        for (int i = 0; i < 8; ++i)
            scaled = (scaled << 8) | data[i];
        (void)vazsim::formatValue(scaled, data[8] % 12, data[9] & 1, data[9] & 2, data[10] % 40);
    }
    return 0;
}
