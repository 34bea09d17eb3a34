#pragma once

#include <QList>
#include <QSslCertificate>
#include <QString>

#include <atomic>
#include <memory>
#include <stdexcept>

namespace vornal::util {

// The version document could not be fetched or read. The message says why ("Timeout", "Connect timed
// out", the network's own reason, ...).
class UpdateCheckError : public std::runtime_error {
public:
    explicit UpdateCheckError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

// How the version document is fetched.
struct FetchOptions {
    // Until the request has gone out (connection and TLS handshake).
    int connectTimeoutMs = 5000;
    // Longest silence while the answer is awaited or read.
    int readTimeoutMs = 5000;
    // Whole fetch, redirects included: a server that trickles its answer cannot hold the check forever.
    int totalTimeoutMs = 30000;
    qint64 maxBytes = 64 * 1024;
    // Certificates trusted in addition to the system's (for a test server). Verification itself is never
    // relaxed.
    QList<QSslCertificate> extraCaCertificates;
    // Set to true (from any thread) to stop a fetch; it then fails with "Cancelled".
    std::shared_ptr<std::atomic<bool>> cancel;
};

// The remote version document and what it says about the running version. The document is a text file
// whose element "version2_<language>" (or "version2" without a language) holds the newest version; it is
// found by plain text search, not parsed as XML, so further elements do not matter.
class ReadRemoteUpdate {
public:
    static constexpr const char* VERSION_TAG = "version2";

    // Fetches the document at `url` (https only) and reads the version for `language` ("de", "en"; empty:
    // the element without a language). Blocks the calling thread until the fetch has ended: call it on a
    // background thread (UpdateWorker does). Throws UpdateCheckError.
    ReadRemoteUpdate(const QString& url, const QString& currentVersion, const QString& language,
                     const FetchOptions& options = {});
    // The same for a document already at hand.
    static ReadRemoteUpdate fromContent(const QString& content, const QString& currentVersion,
                                        const QString& language);

    // The body of the document at `url`, decoded as UTF-8. Only https addresses; redirects only to https;
    // the server's certificate is verified against the system's certificates and the options' extra ones.
    // Throws UpdateCheckError ("Timeout" when the server falls silent for readTimeoutMs).
    static QString readURLContent(const QString& url, const FetchOptions& options = {});

    // The text between "<tag_suffix>" and "</tag_suffix>" ("<tag>" and "</tag>" when suffix is empty);
    // empty when the start or the end tag is missing or the end comes before the start.
    QString findXML(const QString& tag, const QString& suffix) const {
        return findXML(content_, tag, suffix);
    }
    static QString findXML(const QString& content, const QString& tag, const QString& suffix);

    QString getRemoteVersion() const { return remoteVersion_; }
    bool newerVersionAvailable() const { return compareVersions(remoteVersion_, currentVersion_); }

    // Whether `remote` is newer than `current` (both trimmed of surrounding white space first):
    //  - either empty, or both equal as text: not newer;
    //  - remote with at most one ".": both compared as decimal fractions ("1.10" is less than "1.9");
    //  - otherwise, current with at most one ".": newer;
    //  - otherwise the first four dot-separated parts compared from the left as whole numbers; the first
    //    that differs decides; all equal: not newer;
    //  - a part that is needed and is not a number (or missing): not newer.
    static bool compareVersions(const QString& remote, const QString& current);

    QString getUrlString() const { return urlString_; }
    QString getContent() const { return content_; }
    QString getCurrentVersion() const { return currentVersion_; }
    QString getVersionTag() const { return versionTag_; }

private:
    ReadRemoteUpdate() = default;
    void parse(const QString& language);

    QString urlString_;
    QString content_;
    QString currentVersion_;
    QString remoteVersion_;
    QString versionTag_ = QString::fromLatin1(VERSION_TAG);
};

} // namespace vornal::util
