#include "vornal/util/ReadRemoteUpdate.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrl>

#include <optional>

namespace vornal::util {

namespace {

// A decimal fraction: digits with at most one point, at least one digit.
bool isDecimalFraction(const QString& s) {
    bool digit = false;
    int points = 0;
    for (const QChar c : s) {
        if (c == u'.')
            ++points;
        else if (c >= u'0' && c <= u'9')
            digit = true;
        else
            return false;
    }
    return digit && points <= 1;
}

// Exact comparison of two decimal fractions (no floating point: "2024.1" and "2024.10" are equal).
int compareFractions(const QString& a, const QString& b) {
    auto split = [](const QString& s) {
        const qsizetype dot = s.indexOf(u'.');
        QString whole = dot < 0 ? s : s.left(dot);
        QString fraction = dot < 0 ? QString() : s.mid(dot + 1);
        while (whole.startsWith(u'0'))
            whole.remove(0, 1);
        while (fraction.endsWith(u'0'))
            fraction.chop(1);
        return std::pair{whole, fraction};
    };
    const auto [aw, af] = split(a);
    const auto [bw, bf] = split(b);
    if (aw.size() != bw.size())
        return aw.size() < bw.size() ? -1 : 1;
    if (const int c = aw.compare(bw))
        return c;
    return af.compare(bf);
}

// A whole number as a dotted part may hold it: an optional sign, then digits, within 32 bits.
std::optional<qint32> wholeNumber(const QString& s) {
    qsizetype i = (s.startsWith(u'+') || s.startsWith(u'-')) ? 1 : 0;
    if (i >= s.size())
        return std::nullopt;
    for (qsizetype j = i; j < s.size(); ++j)
        if (s[j] < u'0' || s[j] > u'9')
            return std::nullopt;
    bool ok = false;
    const qint32 v = s.toInt(&ok);
    return ok ? std::optional<qint32>(v) : std::nullopt;
}

} // namespace

ReadRemoteUpdate::ReadRemoteUpdate(const QString& url, const QString& currentVersion, const QString& language,
                                   const FetchOptions& options)
    : urlString_(url), currentVersion_(currentVersion) {
    content_ = readURLContent(url, options);
    parse(language);
}

ReadRemoteUpdate ReadRemoteUpdate::fromContent(const QString& content, const QString& currentVersion,
                                               const QString& language) {
    ReadRemoteUpdate r;
    r.content_ = content;
    r.currentVersion_ = currentVersion;
    r.parse(language);
    return r;
}

void ReadRemoteUpdate::parse(const QString& language) {
    remoteVersion_ = findXML(versionTag_, language);
}

QString ReadRemoteUpdate::findXML(const QString& content, const QString& tag, const QString& suffix) {
    const QString name = suffix.isEmpty() ? tag : tag + u'_' + suffix;
    const QString start = u'<' + name + u'>';
    const QString end = QStringLiteral("</") + name + u'>';
    const qsizetype s = content.indexOf(start);
    if (s < 0)
        return QString();
    const qsizetype from = s + start.size();
    const qsizetype e = content.indexOf(end, from);
    if (e < 0)
        return QString();
    return content.mid(from, e - from);
}

bool ReadRemoteUpdate::compareVersions(const QString& remoteIn, const QString& currentIn) {
    // Surrounding white space (a document written with line breaks around the number) is no part of it.
    const QString remote = remoteIn.trimmed();
    const QString current = currentIn.trimmed();
    if (remote.isEmpty() || current.isEmpty() || remote == current)
        return false;
    if (remote.count(u'.') <= 1) {
        if (!isDecimalFraction(remote) || !isDecimalFraction(current))
            return false;
        return compareFractions(remote, current) > 0;
    }
    if (current.count(u'.') <= 1)
        return true;
    const QStringList r = remote.split(u'.');
    const QStringList c = current.split(u'.');
    for (int i = 0; i < 4; ++i) {
        if (i >= r.size() || i >= c.size())
            return false;
        const auto rv = wholeNumber(r[i]);
        const auto cv = wholeNumber(c[i]);
        if (!rv || !cv)
            return false;
        if (*rv != *cv)
            return *rv > *cv;
    }
    return false;
}

QString ReadRemoteUpdate::readURLContent(const QString& urlString, const FetchOptions& options) {
    const QUrl url(urlString, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().compare(u"https", Qt::CaseInsensitive) != 0 || url.host().isEmpty())
        throw UpdateCheckError(
            QStringLiteral("the update address is not an https:// address: %1").arg(urlString));

    QNetworkAccessManager nam;
    QNetworkRequest request(url);
    request.setTransferTimeout(options.readTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    if (!options.extraCaCertificates.isEmpty())
        ssl.addCaCertificates(options.extraCaCertificates);
    request.setSslConfiguration(ssl);

    std::unique_ptr<QNetworkReply> reply(nam.get(request));
    QEventLoop loop;
    QByteArray body;
    QString failure;
    bool requestSent = false;

    auto stop = [&](const QString& why) {
        if (failure.isEmpty())
            failure = why;
        reply->abort();
    };
    QTimer connectWatchdog;
    connectWatchdog.setSingleShot(true);
    QObject::connect(&connectWatchdog, &QTimer::timeout, [&] {
        if (!requestSent)
            stop(QStringLiteral("Connect timed out"));
    });
    QTimer totalWatchdog;
    totalWatchdog.setSingleShot(true);
    QObject::connect(&totalWatchdog, &QTimer::timeout, [&] { stop(QStringLiteral("Timeout")); });
    QTimer cancelPoll;
    QObject::connect(&cancelPoll, &QTimer::timeout, [&] {
        if (options.cancel && options.cancel->load())
            stop(QStringLiteral("Cancelled"));
    });

    QObject::connect(reply.get(), &QNetworkReply::requestSent, [&] {
        requestSent = true;
        connectWatchdog.stop();
    });
    QObject::connect(reply.get(), &QNetworkReply::readyRead, [&] {
        body += reply->read(options.maxBytes + 1 - body.size());
        if (body.size() > options.maxBytes)
            stop(QStringLiteral("the version document is larger than %1 KiB").arg(options.maxBytes / 1024));
    });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);

    connectWatchdog.start(options.connectTimeoutMs);
    totalWatchdog.start(options.totalTimeoutMs);
    if (options.cancel)
        cancelPoll.start(50);
    if (!reply->isFinished())
        loop.exec();

    if (!failure.isEmpty())
        throw UpdateCheckError(failure);
    if (reply->error() == QNetworkReply::OperationCanceledError)
        throw UpdateCheckError(QStringLiteral("Timeout")); // the transfer timeout ended the silence
    if (reply->error() != QNetworkReply::NoError)
        throw UpdateCheckError(reply->errorString());
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status > 299)
        throw UpdateCheckError(QStringLiteral("the server answered with HTTP status %1").arg(status));
    body += reply->read(options.maxBytes + 1 - body.size());
    if (body.size() > options.maxBytes)
        throw UpdateCheckError(
            QStringLiteral("the version document is larger than %1 KiB").arg(options.maxBytes / 1024));
    return QString::fromUtf8(body);
}

} // namespace vornal::util
