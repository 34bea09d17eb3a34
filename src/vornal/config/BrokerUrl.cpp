#include "vornal/config/BrokerUrl.h"

#include <QStringList>

namespace vornal::config {

std::optional<BrokerUrl> BrokerUrl::parse(const QString& text) {
    BrokerUrl url;
    QString rest;
    if (text.startsWith(QStringLiteral("mqtt://"))) {
        rest = text.mid(7);
    } else if (text.startsWith(QStringLiteral("mqtts://"))) {
        rest = text.mid(8);
        url.tls = true;
        url.port = 8883;
    } else {
        return std::nullopt;
    }
    if (rest.endsWith(QLatin1Char('/')))
        rest.chop(1);
    if (rest.isEmpty() || rest.contains(QLatin1Char('/')) || rest.contains(QLatin1Char('@')) ||
        rest.contains(QLatin1Char('?')) || rest.contains(QLatin1Char('#')))
        return std::nullopt;
    for (const QChar c : rest)
        if (c.unicode() <= 0x20 || c.unicode() == 0x7f)
            return std::nullopt;
    QString portText;
    if (rest.startsWith(QLatin1Char('['))) {
        const auto close = rest.indexOf(QLatin1Char(']'));
        if (close < 2)
            return std::nullopt;
        url.host = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(QLatin1Char(':')))
                return std::nullopt;
            portText = after.mid(1);
            if (portText.isEmpty())
                return std::nullopt;
        }
    } else {
        const auto colon = rest.indexOf(QLatin1Char(':'));
        if (colon >= 0) {
            portText = rest.mid(colon + 1);
            url.host = rest.left(colon);
            if (portText.isEmpty())
                return std::nullopt;
        } else {
            url.host = rest;
        }
    }
    if (url.host.isEmpty())
        return std::nullopt;
    if (!portText.isEmpty()) {
        for (const QChar c : portText)
            if (!c.isDigit() || c.unicode() > 0x7f)
                return std::nullopt;
        bool ok = false;
        const int port = portText.toInt(&ok);
        if (!ok || port < 1 || port > 65535)
            return std::nullopt;
        url.port = port;
    }
    return url;
}

QString BrokerUrl::toString() const {
    const QString h = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
    return QStringLiteral("%1://%2:%3")
        .arg(tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"), h)
        .arg(port);
}

bool BrokerUrl::topicSafe(const QString& level) {
    if (level.isEmpty())
        return false;
    for (const QChar c : level)
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#') || c.unicode() < 0x20 ||
            c.unicode() == 0x7f)
            return false;
    return true;
}

bool BrokerUrl::validPrefix(const QString& prefix) {
    if (prefix.isEmpty() || prefix.toUtf8().size() > 1024)
        return false;
    for (const QString& level : prefix.split(QLatin1Char('/')))
        if (!topicSafe(level))
            return false;
    return true;
}

QString BrokerUrl::topicLevel(const QString& text) {
    QString out;
    for (const QChar c : text)
        out += (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#') ||
                c.unicode() <= 0x20 || c.unicode() == 0x7f)
                   ? QLatin1Char('_')
                   : c;
    return out.isEmpty() ? QStringLiteral("_") : out;
}

} // namespace vornal::config
