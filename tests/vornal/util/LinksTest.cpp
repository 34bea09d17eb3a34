// Links in label texts and opening them: only web addresses ever reach the browser, failures reach the
// error dialog with its fixed title, and the browser is asked off the calling thread.
#include "vornal/util/Links.h"
#include "support/TestMain.h"
#include "support/WaitFor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

#include <mutex>

using vornal::util::LinkRunner;
using L = vornal::util::OpenHyperlinkInBrowser;

namespace {

using vornal::test::waitFor;

struct Recorder {
    std::mutex m;
    QStringList opened;
    QList<QThread*> threads;
    QStringList errors;
};

// Opens `address` through openHyperlink with a browser that answers `works`; returns what happened.
void open(Recorder& r, const QString& address, bool installBrowser = true, bool works = true) {
    if (installBrowser)
        L::setBrowserOpener([&r, works](const QUrl& url) {
            std::lock_guard lock(r.m);
            r.opened += url.toString();
            r.threads += QThread::currentThread();
            return works;
        });
    else
        L::setBrowserOpener({});
    L::setErrorHandler([&r](const QString& title, const QString& message) {
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        r.errors += title + u'|' + message;
    });
    bool finished = false;
    LinkRunner* runner = L::openHyperlink(address);
    QObject::connect(runner, &LinkRunner::finished, [&] { finished = true; });
    ASSERT_TRUE(waitFor([&] { return finished; }));
    QCoreApplication::processEvents(); // the runner deletes itself
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return vornal::test::finishTests(RUN_ALL_TESTS());
}

TEST(LinkTexts, BuildRecogniseAndExtract) {
    EXPECT_EQ(L::htmlIfy("a"), "<html>a</html>");
    EXPECT_EQ(L::linkIfy("https://x.example/p"), "<a href=\"https://x.example/p\">https://x.example/p</a>");
    const QString linked = L::htmlIfy("See " + L::linkIfy("https://x.example/p") + " now");
    EXPECT_TRUE(L::containsHyperlink(linked));
    EXPECT_FALSE(L::containsHyperlink("<a href=\"https://x.example\">x</a>")) << "no <html> wrapper";
    EXPECT_EQ(L::getPlainLink(linked), "https://x.example/p");
    EXPECT_EQ(L::getPlainLink("<html>no link</html>"), "");
    EXPECT_EQ(L::getPlainLink("<a href=\"unterminated"), "");
}

TEST(LinkTexts, MakeLinkableTurnsTheFirstWebAddressIntoALink) {
    struct Case {
        const char* in;
        const char* out;
    };
    const std::vector<Case> cases = {
        {"No address here", "<html>No address here</html>"},
        {"Visit https://halvorn.example/vornal.",
         "<html>Visit <a href=\"https://halvorn.example/vornal\">https://halvorn.example/vornal</a>.</html>"},
        {"(http://a.example/x) and https://b.example",
         "<html>(<a href=\"http://a.example/x\">http://a.example/x</a>) and https://b.example</html>"},
        {"<html>Wrapped http://a.example</html>",
         "<html>Wrapped <a href=\"http://a.example\">http://a.example</a></html>"},
        {"Bad https://\"onmouseover=x", "<html>Bad https://\"onmouseover=x</html>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(L::makeLinkable(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.in;
    const QString already = L::htmlIfy(L::linkIfy("https://x.example"));
    EXPECT_EQ(L::makeLinkable(already), already);
}

TEST(LinkTexts, OnlyWebAddressesWithAServerAreAccepted) {
    for (const char* ok : {"https://halvorn.example/", "http://127.0.0.1:8080/a?b=c", "HTTPS://X.EXAMPLE"})
        EXPECT_TRUE(L::isWebAddress(QString::fromLatin1(ok))) << ok;
    for (const char* bad :
         {"", "file:///etc/passwd", "javascript:alert(1)", "mailto:a@b.example", "https://", "/usr/bin/xterm",
          "https://a.example/\nx", "ftp://a.example", "https://a b.example"}) {
        QString why;
        EXPECT_FALSE(L::isWebAddress(QString::fromLatin1(bad), &why)) << bad;
        EXPECT_FALSE(why.isEmpty()) << bad;
    }
}

TEST(LinkRunner, OpensWebAddressesOffTheCallingThread) {
    Recorder r;
    open(r, "https://halvorn.example/download");
    EXPECT_EQ(r.opened, QStringList{"https://halvorn.example/download"});
    ASSERT_EQ(r.threads.size(), 1);
    EXPECT_NE(r.threads[0], QThread::currentThread());
    EXPECT_TRUE(r.errors.isEmpty());
    EXPECT_TRUE(L::isBrowsingSupported());
}

TEST(LinkRunner, AnythingButAWebAddressIsRefusedWithTheErrorDialog) {
    Recorder r;
    open(r, "file:///etc/passwd");
    EXPECT_TRUE(r.opened.isEmpty()) << "never handed to the browser";
    ASSERT_EQ(r.errors.size(), 1);
    EXPECT_TRUE(r.errors[0].startsWith(QStringLiteral("A problem occured|") + L::ERROR_TEXT))
        << r.errors[0].toStdString();
    EXPECT_TRUE(r.errors[0].contains("http://")) << "the message says what is accepted";
}

TEST(LinkRunner, NoBrowserOrARefusingSystemShowsTheErrorDialog) {
    Recorder none;
    open(none, "https://halvorn.example/", false);
    EXPECT_FALSE(L::isBrowsingSupported());
    ASSERT_EQ(none.errors.size(), 1);
    EXPECT_TRUE(none.errors[0].startsWith("A problem occured|Sorry, a problem occurred"));

    Recorder refusing;
    open(refusing, "https://halvorn.example/", true, false);
    EXPECT_EQ(refusing.opened.size(), 1);
    ASSERT_EQ(refusing.errors.size(), 1);
    EXPECT_TRUE(refusing.errors[0].contains("did not open")) << refusing.errors[0].toStdString();
}
