// Network port names: "tcp://HOST:PORT" (a raw byte stream) and "rfc2217://HOST:PORT" (a serial port
// behind a device server, its settings sent with the Telnet COM-PORT-OPTION). HOST is an IPv4 address,
// a host name, or an IPv6 address in brackets ("[::1]:4001"). Pure C++: the library and the settings
// use it to tell network names from device names, the network driver to connect.
#pragma once

#include <optional>
#include <string>

namespace vaznet {

enum class Scheme { Tcp, Rfc2217 };

struct NetPortName {
    Scheme scheme = Scheme::Tcp;
    std::string host; // without the brackets of an IPv6 address
    int port = 0;     // 1..65535
};

// Whether name starts with one of the network schemes (case-insensitive); such a name is a network
// port name even when the rest is wrong (parseNetPortName then says what is wrong).
bool hasNetScheme(const std::string& name);

// The parts of a network port name, or nothing with the reason in *why (a sentence naming the name
// and what to write instead).
std::optional<NetPortName> parseNetPortName(const std::string& name, std::string* why = nullptr);

// "127.0.0.1 port 4001", "::1 port 4001", "scale.lab port 4001": the address in messages.
std::string describe(const NetPortName& n);

} // namespace vaznet
