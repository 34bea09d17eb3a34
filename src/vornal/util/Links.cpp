#include "vornal/util/Links.h"

#include "vornal/util/Queued.h"

#include <QLoggingCategory>

#include <mutex>

namespace vornal::util {

namespace {

Q_LOGGING_CATEGORY(lcLinks, "vornal.links")

std::mutex& hooksMutex() {
    static std::mutex m;
    return m;
}
OpenHyperlinkInBrowser::BrowserOpener& opener() {
    static OpenHyperlinkInBrowser::BrowserOpener o;
    return o;
}
OpenHyperlinkInBrowser::ErrorHandler& handler() {
    static OpenHyperlinkInBrowser::ErrorHandler h;
    return h;
}

QString s(const char* text) {
    return QString::fromLatin1(text);
}

// Where a web address in running text ends.
bool endsAddress(QChar c) {
    return c.isSpace() || c == u'"' || c == u'\'' || c == u'<' || c == u'>';
}

} // namespace

QString OpenHyperlinkInBrowser::htmlIfy(const QString& text) {
    return s(HTML_START) + text + s(HTML_END);
}

QString OpenHyperlinkInBrowser::linkIfy(const QString& address) {
    return s(ANCHOR_START) + address + s(ANCHOR_MIDDLE) + address + s(ANCHOR_END);
}

bool OpenHyperlinkInBrowser::containsHyperlink(const QString& text) {
    return text.contains(s(HTML_START)) && text.contains(s(HTML_END)) && text.contains(s(ANCHOR_START)) &&
           text.contains(s(ANCHOR_MIDDLE));
}

QString OpenHyperlinkInBrowser::getPlainLink(const QString& text) {
    const qsizetype start = text.indexOf(s(ANCHOR_START));
    if (start < 0)
        return QString();
    const qsizetype from = start + qsizetype(qstrlen(ANCHOR_START));
    const qsizetype end = text.indexOf(s(ANCHOR_MIDDLE), from);
    if (end < 0)
        return QString();
    return text.mid(from, end - from);
}

QString OpenHyperlinkInBrowser::makeLinkable(const QString& text) {
    if (containsHyperlink(text))
        return text;
    QString body = text;
    const bool wrapped = body.startsWith(s(HTML_START)) && body.endsWith(s(HTML_END));
    if (wrapped)
        body =
            body.mid(qstrlen(HTML_START), body.size() - qsizetype(qstrlen(HTML_START) + qstrlen(HTML_END)));

    qsizetype start = body.indexOf(s(SECURE_SCHEME));
    const qsizetype plain = body.indexOf(s(PLAIN_SCHEME));
    if (start < 0 || (plain >= 0 && plain < start))
        start = plain;
    if (start >= 0) {
        qsizetype end = start;
        while (end < body.size() && !endsAddress(body[end]))
            ++end;
        // Punctuation closing the sentence is no part of the address.
        while (end > start && QStringLiteral(".,;:!?)").contains(body[end - 1]))
            --end;
        const QString address = body.mid(start, end - start);
        if (isWebAddress(address))
            body = body.left(start) + linkIfy(address) + body.mid(end);
    }
    return htmlIfy(body);
}

bool OpenHyperlinkInBrowser::isWebAddress(const QString& address, QString* why) {
    auto refuse = [&](const QString& reason) {
        if (why)
            *why = reason;
        return false;
    };
    if (address.isEmpty())
        return refuse(QStringLiteral("The link has no address."));
    for (const QChar c : address)
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return refuse(QStringLiteral("The address \"%1\" contains blanks or control characters.")
                              .arg(address.simplified()));
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid())
        return refuse(QStringLiteral("\"%1\" is not a valid web address.").arg(address));
    if (scheme != u"http" && scheme != u"https")
        return refuse(
            QStringLiteral("Only web addresses (http:// or https://) are opened, not \"%1\".").arg(address));
    if (url.host().isEmpty())
        return refuse(QStringLiteral("The web address \"%1\" names no server.").arg(address));
    return true;
}

void OpenHyperlinkInBrowser::setBrowserOpener(BrowserOpener o) {
    std::lock_guard lock(hooksMutex());
    opener() = std::move(o);
}

void OpenHyperlinkInBrowser::setErrorHandler(ErrorHandler h) {
    std::lock_guard lock(hooksMutex());
    handler() = std::move(h);
}

bool OpenHyperlinkInBrowser::isBrowsingSupported() {
    std::lock_guard lock(hooksMutex());
    return bool(opener());
}

OpenHyperlinkInBrowser::BrowserOpener OpenHyperlinkInBrowser::browserOpener() {
    std::lock_guard lock(hooksMutex());
    return opener();
}

OpenHyperlinkInBrowser::ErrorHandler OpenHyperlinkInBrowser::errorHandler() {
    std::lock_guard lock(hooksMutex());
    return handler();
}

LinkRunner* OpenHyperlinkInBrowser::openHyperlink(const QString& address) {
    auto* runner = new LinkRunner(address);
    runner->execute(true);
    return runner;
}

LinkRunner::LinkRunner(const QString& address, QObject* parent) : QObject(parent), address_(address) {}

LinkRunner::~LinkRunner() {
    if (thread_.joinable())
        thread_.join();
}

void LinkRunner::execute(bool deleteWhenDone) {
    if (started_)
        return;
    started_ = true;
    deleteWhenDone_ = deleteWhenDone;
    thread_ = std::thread([this] {
        const QString why = doInBackground();
        {
            std::lock_guard lock(failureMutex_);
            failure_ = why;
        }
        postQueued(this, [this] { done(); });
    });
}

QString LinkRunner::failure() const {
    std::lock_guard lock(failureMutex_);
    return failure_;
}

QString LinkRunner::doInBackground() const {
    QString why;
    if (!OpenHyperlinkInBrowser::isWebAddress(address_, &why))
        return why;
    const auto open = OpenHyperlinkInBrowser::browserOpener();
    if (!open)
        return QStringLiteral("No web browser is available to this program.");
    try {
        if (!open(QUrl(address_, QUrl::StrictMode)))
            return QStringLiteral("The system did not open %1.").arg(address_);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}

void LinkRunner::done() {
    if (thread_.joinable())
        thread_.join();
    const QString why = failure();
    if (!why.isEmpty())
        handleException(why);
    done_ = true;
    emit finished(why.isEmpty());
    if (deleteWhenDone_)
        deleteLater();
}

void LinkRunner::handleException(const QString& reason) {
    const QString message = QString::fromLatin1(OpenHyperlinkInBrowser::ERROR_TEXT) + u'\n' + reason;
    if (const auto show = OpenHyperlinkInBrowser::errorHandler())
        show(QString::fromLatin1(OpenHyperlinkInBrowser::ERROR_TITLE), message);
    else
        qCWarning(lcLinks).noquote() << message;
}

} // namespace vornal::util
