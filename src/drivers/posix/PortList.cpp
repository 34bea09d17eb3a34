// Port discovery for the termios driver.
//
// Linux: every entry of /sys/class/tty with a "device" link is a port of some hardware driver;
// virtual consoles and ptys have none. The 8250 driver registers ttyS0..ttyS31 whether or not a
// UART answers, and marks the empty ones with "type" 0, so those are skipped. For USB adapters
// the maker and product come from the first parent folder that carries "idVendor". Ports are not
// filtered by driver name: new adapter drivers appear all the time.
#include "PosixDriver.h"

#include <DriverEntry.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string readLine(const fs::path& file) {
    std::ifstream in(file);
    std::string s;
    std::getline(in, s);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s;
}

// ttyS2 before ttyS10.
bool naturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            size_t ie = i, je = j;
            while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie])))
                ++ie;
            while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je])))
                ++je;
            const std::string na = a.substr(i, ie - i), nb = b.substr(j, je - j);
            const size_t za = na.find_first_not_of('0'), zb = nb.find_first_not_of('0');
            const std::string ta = za == std::string::npos ? "" : na.substr(za);
            const std::string tb = zb == std::string::npos ? "" : nb.substr(zb);
            if (ta.size() != tb.size())
                return ta.size() < tb.size();
            if (ta != tb)
                return ta < tb;
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

using Found = vazcommon::PortEntry;

#if defined(__linux__)
std::vector<Found> scan() {
    std::vector<Found> out;
    std::error_code ec;
    const fs::path root = "/sys/class/tty";
    for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path entry = it->path();
        std::error_code e2;
        if (!fs::exists(entry / "device", e2))
            continue;
        if (fs::exists(entry / "type", e2) && readLine(entry / "type") == "0")
            continue;
        Found f;
        f.name = "/dev/" + entry.filename().string();
        if (!fs::exists(f.name, e2))
            continue;
        fs::path dev = fs::canonical(entry / "device", e2);
        for (fs::path d = dev; !e2 && d.has_relative_path() && d != d.root_path(); d = d.parent_path()) {
            if (fs::exists(d / "idVendor", e2)) {
                f.manufacturer = readLine(d / "manufacturer");
                f.description = readLine(d / "product");
                break;
            }
            if (d.filename() == "devices")
                break;
        }
        out.push_back(std::move(f));
    }
    return out;
}
#else
// BSD and macOS: the call-out devices.
std::vector<Found> scan() {
    std::vector<Found> out;
    std::error_code ec;
    for (fs::directory_iterator it("/dev", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string n = it->path().filename().string();
        if (n.rfind("cu.", 0) == 0 || n.rfind("cuau", 0) == 0 || n.rfind("cuaU", 0) == 0)
            if (n.find(".init") == std::string::npos && n.find(".lock") == std::string::npos)
                out.push_back({it->path().string(), "", ""});
    }
    return out;
}
#endif

} // namespace

int32_t vazdriver::getPortList(VazAddPortNameFn addPortName, VazAddPortInfoFn addPortInfo, void* ctx) {
    std::vector<Found> ports;
    try {
        ports = scan();
    } catch (...) {
        return 0;
    }
    std::sort(ports.begin(), ports.end(),
              [](const Found& a, const Found& b) { return naturalLess(a.name, b.name); });
    return vazcommon::reportPorts(ports, addPortName, addPortInfo, ctx);
}
