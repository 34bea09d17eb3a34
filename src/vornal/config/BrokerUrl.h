#pragma once

#include <QString>

#include <optional>

namespace vornal::config {

// The MQTT broker a station publishes to: "mqtt://HOST[:PORT]" (port 1883) or "mqtts://HOST[:PORT]"
// (TLS, port 8883). HOST is a name, an IPv4 address or an IPv6 address in brackets.
struct BrokerUrl {
    QString host;
    int port = 1883;
    bool tls = false;

    // None for anything else (another scheme, a path, user information, a port out of range).
    static std::optional<BrokerUrl> parse(const QString& text);
    // "mqtts://broker.example:8883".
    QString toString() const;

    // One topic level: not empty, no '/', '+', '#' or control characters.
    static bool topicSafe(const QString& level);
    // A topic prefix: levels joined by '/', each one topic-safe.
    static bool validPrefix(const QString& prefix);
    // `text` as one topic level: characters a topic level cannot hold (and spaces) become '_'; "" gives
    // "_".
    static QString topicLevel(const QString& text);
};

} // namespace vornal::config
