// The update check: which versions count as newer, how the version is found in the document, and the
// fetch over HTTPS against a local server, with its failures.
#include "support/TestMain.h"
#include "support/WaitFor.h"
#include "vornal/util/ReadRemoteUpdate.h"
#include "vornal/util/UpdateWorker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <gtest/gtest.h>

#include <iostream>
#include <memory>

using namespace vornal::util;

namespace {

using vornal::test::waitFor;

// ---- a throw-away certificate for 127.0.0.1, made once per run

struct Tls {
    QSslCertificate certificate;
    QSslKey key;
    QString skipReason;
};

Tls& tls() {
    static Tls t = [] {
        Tls r;
        if (!QSslSocket::supportsSsl())
            return r.skipReason = QStringLiteral("no TLS support in Qt"), r;
        const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
        if (openssl.isEmpty())
            return r.skipReason = QStringLiteral("openssl command not found"), r;
        static QTemporaryDir dir;
        QProcess p;
        p.start(openssl,
                {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                 "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                 dir.filePath("key.pem"), "-out", dir.filePath("cert.pem")});
        if (!p.waitForFinished(30000) || p.exitCode() != 0)
            return r.skipReason =
                       QStringLiteral("openssl failed: ") + QString::fromUtf8(p.readAllStandardError()),
                   r;
        QFile c(dir.filePath("cert.pem"));
        QFile k(dir.filePath("key.pem"));
        if (!c.open(QIODevice::ReadOnly) || !k.open(QIODevice::ReadOnly))
            return r.skipReason = QStringLiteral("certificate files missing"), r;
        r.certificate = QSslCertificate(c.readAll(), QSsl::Pem);
        r.key = QSslKey(k.readAll(), QSsl::Ec, QSsl::Pem);
        if (r.certificate.isNull() || r.key.isNull())
            r.skipReason = QStringLiteral("certificate not readable");
        return r;
    }();
    return t;
}

#define REQUIRE_TLS()                                                                                        \
    do {                                                                                                     \
        if (!tls().skipReason.isEmpty())                                                                     \
            GTEST_SKIP() << tls().skipReason.toStdString();                                                  \
    } while (false)

// ---- a small HTTPS server on 127.0.0.1 that answers every request with one document

class VersionServer {
public:
    enum class Mode { Answer, Silent };

    explicit VersionServer(QByteArray body, Mode mode = Mode::Answer, int status = 200)
        : body_(std::move(body)), mode_(mode), status_(status) {
        QSslConfiguration c = QSslConfiguration::defaultConfiguration();
        c.setLocalCertificate(tls().certificate);
        c.setPrivateKey(tls().key);
        c.setPeerVerifyMode(QSslSocket::VerifyNone);
        server_.setSslConfiguration(c);
        QObject::connect(&server_, &QTcpServer::pendingConnectionAvailable, [this] { accept(); });
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0));
    }
    QString url() const {
        return QStringLiteral("https://127.0.0.1:%1/version.xml").arg(server_.serverPort());
    }
    int requests() const { return requests_; }

private:
    void accept() {
        while (QTcpSocket* s = server_.nextPendingConnection()) {
            auto buffer = std::make_shared<QByteArray>();
            QObject::connect(s, &QTcpSocket::readyRead, s, [this, s, buffer] {
                *buffer += s->readAll();
                if (!buffer->contains("\r\n\r\n"))
                    return;
                ++requests_;
                buffer->clear();
                if (mode_ == Mode::Silent)
                    return;
                s->write(QByteArray("HTTP/1.1 ") + QByteArray::number(status_) +
                         (status_ == 200 ? " OK" : " Not Found") +
                         "\r\nContent-Type: text/xml\r\nConnection: close\r\nContent-Length: " +
                         QByteArray::number(body_.size()) + "\r\n\r\n" + body_);
                s->disconnectFromHost();
            });
        }
    }

    QSslServer server_;
    QByteArray body_;
    Mode mode_;
    int status_;
    int requests_ = 0;
};

class RecordingView : public UpdateWorkerView {
public:
    void setText(const QString& text) override {
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        texts += text;
    }
    QStringList texts;
};

QString text(const char* key) {
    return UpdateWorker::resourceBundle().getString(QString::fromLatin1(key));
}

struct Check {
    QStringList texts;
    QString failure;
    qint64 elapsedMs = 0;
};

// One update check against `url` with the running version 2024.1.0.0 and the language "en".
Check runCheck(const QString& url, bool trustTestCertificate = true, FetchOptions options = {}) {
    RecordingView view;
    UpdateWorker w(&view, url, QStringLiteral("2024.1.0.0"), QStringLiteral("en"));
    if (trustTestCertificate)
        options.extraCaCertificates = {tls().certificate};
    w.setFetchOptions(options);
    QElapsedTimer t;
    t.start();
    w.execute();
    EXPECT_TRUE(waitFor([&] { return w.isDone(); }));
    return {view.texts, w.failure(), t.elapsed()};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    // The test server is local; no proxy of the environment may stand in between.
    for (const char* v : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(v);
    return vornal::test::finishTests(RUN_ALL_TESTS());
}

TEST(CompareVersions, DottedVersionsPartByPartAndShortOnesAsFractions) {
    struct Case {
        const char* remote;
        const char* current;
        bool newer;
    };
    const std::vector<Case> cases = {
        {"2024.2.0.0", "2024.1.0.0", true},
        {"2024.1.0.0", "2024.1.0.0", false},
        {"2023.9.9.9", "2024.1.0.0", false},
        {"2024.1.0.1", "2024.1.0.0", true},
        {"2024.1.0", "2024.1.0.0", false}, // a missing part decides nothing
        {"2024.2.0", "2024.1.0.0", true},  // decided before the missing part
        {"2024.1.0.0.9", "2024.1.0.0", false},
        {"2024.x.0.0", "2024.1.0.0", false},
        {"2025.x.0.0", "2024.1.0.0", true},
        {"2024.99999999999.0.0", "2024.1.0.0", false}, // no 32-bit number
        {"1.5", "1.4", true},
        {"1.10", "1.9", false}, // fractions: 1.10 is less than 1.9
        {"1.50", "1.5", false},
        {"2", "1.9", true},
        {"1.4", "1.5", false},
        {"2025.1", "2024.1.0.0", false}, // the current version is no fraction
        {"2024.1.0.0", "1.5", true},
        {"", "2024.1.0.0", false},
        {"2024.2.0.0", "", false},
        {"abc", "1.0", false},
        {" 2024.2.0.0\n", "2024.1.0.0", true}, // surrounding white space of the document
    };
    for (const auto& c : cases)
        EXPECT_EQ(
            ReadRemoteUpdate::compareVersions(QString::fromLatin1(c.remote), QString::fromLatin1(c.current)),
            c.newer)
            << c.remote << " against " << c.current;
}

TEST(FindXml, TheElementOfTheLanguageByPlainTextSearch) {
    const QString doc = QStringLiteral("<v><version2>1.0</version2><version2_de>2.0</version2_de>"
                                       "<version2_en></version2_en><x_fr>3</x_fr></v>");
    EXPECT_EQ(ReadRemoteUpdate::findXML(doc, "version2", "de"), "2.0");
    EXPECT_EQ(ReadRemoteUpdate::findXML(doc, "version2", ""), "1.0");
    EXPECT_EQ(ReadRemoteUpdate::findXML(doc, "version2", "en"), "");
    EXPECT_EQ(ReadRemoteUpdate::findXML(doc, "version2", "it"), "") << "missing start";
    EXPECT_EQ(ReadRemoteUpdate::findXML("<a_b>1", "a", "b"), "") << "missing end";
    EXPECT_EQ(ReadRemoteUpdate::findXML("</a_b>x<a_b>1", "a", "b"), "") << "end before start";

    const auto r = ReadRemoteUpdate::fromContent(doc, QStringLiteral("1.5"), QStringLiteral("de"));
    EXPECT_EQ(r.getRemoteVersion(), "2.0");
    EXPECT_TRUE(r.newerVersionAvailable());
    EXPECT_FALSE(
        ReadRemoteUpdate::fromContent(doc, QStringLiteral("1.5"), QString()).newerVersionAvailable());
}

TEST(UpdateCheck, ANewerVersionShowsTheUpdateTextWithTheDownloadPage) {
    REQUIRE_TLS();
    VersionServer server("<?xml version=\"1.0\"?>\n<versions>\n  <version2>2030.1.0.0</version2>\n"
                         "  <version2_en>2024.2.0.0</version2_en>\n  <version2_de>2024.3.0.0</version2_de>\n"
                         "</versions>\n");
    const Check c = runCheck(server.url());
    ASSERT_EQ(c.texts.size(), 2) << c.failure.toStdString();
    EXPECT_EQ(c.texts[0], text("checking.for.update"));
    EXPECT_TRUE(c.texts[1].contains("2024.2.0.0")) << c.texts[1].toStdString();
    EXPECT_TRUE(c.texts[1].contains(QStringLiteral("https://127.0.0.1:%1/").arg(QUrl(server.url()).port())))
        << c.texts[1].toStdString();
    EXPECT_EQ(server.requests(), 1);
}

TEST(UpdateCheck, NotNewerMissingElementAndMalformedDocumentsRestoreTheStatusText) {
    REQUIRE_TLS();
    const QByteArray documents[] = {
        "<versions><version2_en>2024.1.0.0</version2_en></versions>",
        "<versions><version2>2099.1.0.0</version2><version2_de>2099.1.0.0</version2_de></versions>",
        "<versions><version2_en>2099.1.0.0",
        QByteArray("\x00\xff\xfe<version2_en>not-a-version</version2_en>", 43),
    };
    for (const QByteArray& d : documents) {
        VersionServer server(d);
        const Check c = runCheck(server.url());
        EXPECT_EQ(c.texts,
                  (QStringList{text("checking.for.update"), text("VororaZeZovFrame2.statusJLabel.text")}))
            << d.toStdString() << " / " << c.failure.toStdString();
    }
}

TEST(UpdateCheck, FailuresShowTheFailureText) {
    REQUIRE_TLS();
    auto failedWith = [](const Check& c, const char* reason) {
        EXPECT_EQ(c.texts.size(), 2);
        EXPECT_TRUE(c.failure.contains(QLatin1String(reason), Qt::CaseInsensitive))
            << c.failure.toStdString();
        if (c.texts.size() == 2) {
            EXPECT_EQ(c.texts[1], text("update.check.failed").replace("{0}", c.failure));
        }
        std::cout << "  failure shown: " << c.texts.value(1).toStdString() << '\n';
    };
    {
        VersionServer oversized("<versions>" + QByteArray(70 * 1024, ' ') + "</versions>");
        failedWith(runCheck(oversized.url()), "larger than 64 KiB");
    }
    {
        VersionServer notFound("nothing here", VersionServer::Mode::Answer, 404);
        failedWith(runCheck(notFound.url()), "Not Found");
    }
    {
        // The same server, but its certificate is not trusted: refused, never read.
        VersionServer untrusted("<version2_en>2099.1.0.0</version2_en>");
        const Check c = runCheck(untrusted.url(), false);
        failedWith(c, "SSL");
        EXPECT_EQ(untrusted.requests(), 0) << "no request reaches a server the client does not trust";
    }
    // Only https.
    failedWith(runCheck(QStringLiteral("http://127.0.0.1:1/version.xml")), "https://");
    {
        // Nobody listens.
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 port = probe.serverPort();
        probe.close();
        failedWith(runCheck(QStringLiteral("https://127.0.0.1:%1/version.xml").arg(port)), "refused");
    }
}

TEST(UpdateCheck, AServerThatNeverAnswersFailsWithTimeoutAfterAboutFiveSeconds) {
    REQUIRE_TLS();
    VersionServer silent("", VersionServer::Mode::Silent);
    const Check c = runCheck(silent.url());
    EXPECT_EQ(c.failure, "Timeout");
    EXPECT_GE(c.elapsedMs, 4500);
    EXPECT_LE(c.elapsedMs, 7000);
    EXPECT_EQ(silent.requests(), 1);
}

TEST(UpdateCheck, AConnectionThatNeverCompletesIsCutByTheConnectWatchdog) {
    REQUIRE_TLS();
    // Accepts the connection but never speaks TLS.
    QTcpServer mute;
    ASSERT_TRUE(mute.listen(QHostAddress::LocalHost, 0));
    FetchOptions quick;
    quick.connectTimeoutMs = 800;
    const Check c =
        runCheck(QStringLiteral("https://127.0.0.1:%1/version.xml").arg(mute.serverPort()), true, quick);
    EXPECT_EQ(c.failure, "Connect timed out");
    EXPECT_LE(c.elapsedMs, 3000);
}

TEST(UpdateCheck, DestroyingARunningCheckEndsItQuicklyAndShowsNothingMore) {
    REQUIRE_TLS();
    VersionServer silent("", VersionServer::Mode::Silent);
    RecordingView view;
    QElapsedTimer t;
    {
        UpdateWorker w(&view, silent.url(), QStringLiteral("2024.1.0.0"), QStringLiteral("en"));
        FetchOptions o;
        o.extraCaCertificates = {tls().certificate};
        w.setFetchOptions(o);
        w.execute();
        ASSERT_TRUE(waitFor([&] { return silent.requests() == 1; }));
        t.start();
    }
    EXPECT_LT(t.elapsed(), 1000);
    QCoreApplication::processEvents();
    EXPECT_EQ(view.texts, QStringList{text("checking.for.update")});
}

TEST(UpdateCheck, OneStartInFourChecksAndNeverWithTheSettingOff) {
    int draws = 0;
    auto zero = [&](int bound) {
        EXPECT_EQ(bound, 4);
        ++draws;
        return 0;
    };
    EXPECT_FALSE(UpdateWorker::isCheckDue(false, zero));
    EXPECT_EQ(draws, 0) << "no draw with the setting off";
    EXPECT_TRUE(UpdateWorker::isCheckDue(true, zero));
    for (int v : {1, 2, 3})
        EXPECT_FALSE(UpdateWorker::isCheckDue(true, [v](int) { return v; }));

    int due = 0;
    for (int i = 0; i < 4000; ++i)
        due += UpdateWorker::isCheckDue(true) ? 1 : 0;
    EXPECT_GT(due, 800);
    EXPECT_LT(due, 1200);

    // At most one check per run: the second start-up request gives nothing.
    qputenv("VORNAL_UPDATE_URL", "https://127.0.0.1:1/version.xml");
    EXPECT_EQ(UpdateWorker::defaultRemoteUrl(), "https://127.0.0.1:1/version.xml");
    RecordingView view;
    EXPECT_EQ(UpdateWorker::startAtLaunch(&view, true, "2024.1.0.0", "en", [](int) { return 1; }), nullptr);
    auto first = UpdateWorker::startAtLaunch(&view, true, "2024.1.0.0", "en", zero);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(UpdateWorker::startAtLaunch(&view, true, "2024.1.0.0", "en", zero), nullptr);
    ASSERT_TRUE(waitFor([&] { return first->isDone(); }));
    qunsetenv("VORNAL_UPDATE_URL");
    EXPECT_TRUE(UpdateWorker::defaultRemoteUrl().startsWith("https://"));
    EXPECT_TRUE(UpdateWorker::defaultRemoteUrl().endsWith("/version.xml"));
}
