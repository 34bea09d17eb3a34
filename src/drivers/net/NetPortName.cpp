#include "NetPortName.h"

#include <algorithm>
#include <cctype>

namespace vaznet {

namespace {

constexpr const char* kTcp = "tcp://";
constexpr const char* kRfc = "rfc2217://";

bool startsWithNoCase(const std::string& s, const std::string& prefix) {
    if (s.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i])
            return false;
    return true;
}

bool fail(std::string* why, const std::string& text) {
    if (why)
        *why = text;
    return false;
}

// Letters, digits, '-', '.', '_' (host names); IPv4 addresses are made of the same characters.
bool validHostName(const std::string& h) {
    if (h.empty() || h.size() > 253)
        return false;
    return std::all_of(h.begin(), h.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return std::isalnum(u) || c == '-' || c == '.' || c == '_';
    });
}

bool validIpv6(const std::string& h) {
    if (h.size() < 2 || h.size() > 45 || h.find(':') == std::string::npos)
        return false;
    // Hex digits, colons, dots (an embedded IPv4 address) and a zone after '%'.
    const auto zone = h.find('%');
    const std::string addr = h.substr(0, zone);
    if (zone != std::string::npos && (zone + 1 >= h.size() || !validHostName(h.substr(zone + 1))))
        return false;
    return std::all_of(addr.begin(), addr.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
    });
}

} // namespace

bool hasNetScheme(const std::string& name) {
    return startsWithNoCase(name, kTcp) || startsWithNoCase(name, kRfc);
}

std::optional<NetPortName> parseNetPortName(const std::string& name, std::string* why) {
    NetPortName n;
    std::string rest;
    if (startsWithNoCase(name, kTcp)) {
        n.scheme = Scheme::Tcp;
        rest = name.substr(std::string(kTcp).size());
    } else if (startsWithNoCase(name, kRfc)) {
        n.scheme = Scheme::Rfc2217;
        rest = name.substr(std::string(kRfc).size());
    } else {
        fail(why, name + ": not a network port name (write tcp://HOST:PORT or rfc2217://HOST:PORT)");
        return std::nullopt;
    }
    const std::string usage = name + ": a network port is written " +
                              (n.scheme == Scheme::Tcp ? "tcp" : "rfc2217") +
                              "://HOST:PORT with a port number from 1 to 65535, e.g. " +
                              (n.scheme == Scheme::Tcp ? "tcp" : "rfc2217") +
                              "://192.168.1.20:4001 or [fd00::20]:4001 in brackets for IPv6";
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    std::string portText;
    if (!rest.empty() && rest.front() == '[') {
        const auto close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            fail(why, usage);
            return std::nullopt;
        }
        n.host = rest.substr(1, close - 1);
        portText = rest.substr(close + 2);
        if (!validIpv6(n.host)) {
            fail(why, name + ": '" + n.host + "' is not an IPv6 address");
            return std::nullopt;
        }
    } else {
        const auto colon = rest.rfind(':');
        if (colon == std::string::npos || colon == 0) {
            fail(why, usage);
            return std::nullopt;
        }
        n.host = rest.substr(0, colon);
        portText = rest.substr(colon + 1);
        if (n.host.find(':') != std::string::npos) {
            fail(why, name + ": an IPv6 address needs brackets, e.g. [" + n.host + "]:" + portText);
            return std::nullopt;
        }
        if (!validHostName(n.host)) {
            fail(why, name + ": '" + n.host + "' is not a host name or IPv4 address");
            return std::nullopt;
        }
    }
    if (portText.empty() || portText.size() > 5 ||
        !std::all_of(portText.begin(), portText.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        fail(why, usage);
        return std::nullopt;
    }
    n.port = std::stoi(portText);
    if (n.port < 1 || n.port > 65535) {
        fail(why, usage);
        return std::nullopt;
    }
    return n;
}

std::string describe(const NetPortName& n) {
    return n.host + " port " + std::to_string(n.port);
}

} // namespace vaznet
