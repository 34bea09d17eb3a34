#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace vornal::util {

class LinkRunner;

// Web links in label texts: recognising, building and extracting them, and opening one in the system's
// standard browser without blocking the user-interface thread.
//
// The core has no access to the desktop: the window installs the browser call with setBrowserOpener
// (QDesktopServices::openUrl) and the error dialog with setErrorHandler. Only http:// and https://
// addresses with a host are ever handed to the browser; anything else is refused with a message.
class OpenHyperlinkInBrowser {
public:
    static constexpr const char* HTML_START = "<html>";
    static constexpr const char* HTML_END = "</html>";
    static constexpr const char* ANCHOR_START = "<a href=\"";
    static constexpr const char* ANCHOR_MIDDLE = "\">";
    static constexpr const char* ANCHOR_END = "</a>";
    static constexpr const char* SECURE_SCHEME = "https://";
    static constexpr const char* PLAIN_SCHEME = "http://";
    // The error dialog's fixed text and title.
    static constexpr const char* ERROR_TEXT =
        "Sorry, a problem occurred while trying to open this link in your system's standard browser.";
    static constexpr const char* ERROR_TITLE = "A problem occured";

    // HTML_START + text + HTML_END.
    static QString htmlIfy(const QString& text);
    // ANCHOR_START + address + ANCHOR_MIDDLE + address + ANCHOR_END.
    static QString linkIfy(const QString& address);
    // Whether the text holds HTML_START, HTML_END, ANCHOR_START and ANCHOR_MIDDLE.
    static bool containsHyperlink(const QString& text);
    // The address between ANCHOR_START and the next ANCHOR_MIDDLE; empty when there is none.
    static QString getPlainLink(const QString& text);
    // A text with a hyperlink unchanged; otherwise its first web address (from "https://" or "http://" up
    // to white space, a quote or "<", without trailing punctuation) made a link, and the whole wrapped in
    // HTML_START ... HTML_END (not again when it already is).
    static QString makeLinkable(const QString& text);

    // Whether `address` may be opened: an http or https address with a host. `why` says why not.
    static bool isWebAddress(const QString& address, QString* why = nullptr);

    // Opens the URL in the standard browser; true when that worked. Called on a background thread.
    using BrowserOpener = std::function<bool(const QUrl& url)>;
    // Shows a failure (the window's modal error dialog). Called on the thread that started the runner.
    using ErrorHandler = std::function<void(const QString& title, const QString& message)>;
    static void setBrowserOpener(BrowserOpener opener);
    static void setErrorHandler(ErrorHandler handler);
    // True when a browser opener is installed (the window installs it when the desktop can open links).
    static bool isBrowsingSupported();

    // Starts a LinkRunner for the address (it deletes itself when it has finished) and returns it.
    static LinkRunner* openHyperlink(const QString& address);

private:
    friend class LinkRunner;
    static BrowserOpener browserOpener();
    static ErrorHandler errorHandler();
};

// Opens one address in the standard browser on a background thread; when that has ended, on the thread
// that started it, a failure (no browser, an address that is not a web address, refused by the system) is
// shown through the error handler with the fixed title and text and the reason.
class LinkRunner : public QObject {
    Q_OBJECT
public:
    explicit LinkRunner(const QString& address, QObject* parent = nullptr);
    // Waits for the background thread (the browser call).
    ~LinkRunner() override;

    // Starts (once). With `deleteWhenDone`, the runner deletes itself after finished().
    void execute(bool deleteWhenDone = false);
    bool isDone() const { return done_; }
    // After the end: empty when the browser was asked successfully.
    QString failure() const;

signals:
    void finished(bool opened);

private:
    // Asks the browser; the reason when that failed, else empty.
    QString doInBackground() const;
    void done();
    void handleException(const QString& reason);

    const QString address_;
    std::thread thread_;
    bool started_ = false;
    bool deleteWhenDone_ = false;
    bool done_ = false;
    // Written by the background thread, read after it has ended.
    mutable std::mutex failureMutex_;
    QString failure_;
};

} // namespace vornal::util
