// Readings on request: the command notation, sending now and on a timer, and requests handed over by
// `vornal-cli request` through the local socket.
#include "vornal/worker/RequestSender.h"
#include "vornal/config/ConfigHelper.h"
#include "vornal/util/ResourceBundle.h"

#include "support/WaitFor.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>

using vornal::test::waitFor;
using vornal::worker::RequestSender;
using Command = vornal::config::ConfigHelper::RequestCommand;
using Hotkey = vornal::config::ConfigHelper::RequestHotkey;
using Every = vornal::config::ConfigHelper::RequestEverySeconds;

namespace {

// A socket of this program's own: connections of other tests running at the same time listen on the
// user's default one.
const QTemporaryDir socketDir;
[[maybe_unused]] const bool privateSocket = [] {
    qputenv("VORNAL_REQUEST_SOCKET", QFile::encodeName(socketDir.filePath(QStringLiteral("request.socket"))));
    return true;
}();

TEST(RequestCommand, NotationOfControlCharacters) {
    EXPECT_EQ(Command::toBytes("S<13><10>"), QByteArray("S\r\n"));
    EXPECT_EQ(Command::toBytes("<27>P<13><10>"), QByteArray("\x1bP\r\n"));
    EXPECT_EQ(Command::toBytes("<0>"), QByteArray(1, '\0'));
    EXPECT_EQ(Command::toBytes("<255>"), QByteArray(1, '\xff'));
    EXPECT_EQ(Command::toBytes(""), QByteArray());
    // A "<" that starts no code is itself.
    EXPECT_EQ(Command::toBytes("<256>"), QByteArray("<256>"));
    EXPECT_EQ(Command::toBytes("a<b>"), QByteArray("a<b>"));
    EXPECT_EQ(Command::toBytes("<13"), QByteArray("<13"));
    EXPECT_EQ(Command::toBytes("<1234>"), QByteArray("<1234>"));
    EXPECT_EQ(Command::toBytes("<>"), QByteArray("<>"));
    EXPECT_EQ(Command::toBytes(QString::fromUtf8("\xc2\xb0")), QByteArray("\xb0"));
    QString error;
    EXPECT_FALSE(Command::toBytes(QString::fromUtf8("W\xe2\x82\xac"), &error));
    EXPECT_FALSE(Command::valid(QString::fromUtf8("W\xe2\x82\xac")));
    EXPECT_TRUE(error.contains("<13>")) << error.toStdString();
    for (const char* text : {"S<13><10>", "<27>P<13><10>", "READ<13><10>", "<10>W<13>"})
        EXPECT_EQ(RequestSender::formatCommand(*Command::toBytes(text)), text);

    for (const char* ok : {"", "1", "10", "86400"})
        EXPECT_TRUE(Every::valid(ok)) << ok;
    for (const char* bad : {"0", "-1", "+5", "1.5", "86401", "x", " 5"})
        EXPECT_FALSE(Every::valid(bad)) << bad;
}

TEST(RequestHotkey, ModifiersAndAKey) {
    const auto p = Hotkey::parse("Ctrl+Alt+R");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->modifiers, unsigned(Hotkey::Ctrl | Hotkey::Alt));
    EXPECT_EQ(p->key, "R");
    EXPECT_EQ(Hotkey::parse("shift+f9")->key, "F9");
    EXPECT_EQ(Hotkey::parse("F12")->modifiers, 0u);
    EXPECT_EQ(Hotkey::parse("Meta+7")->modifiers, unsigned(Hotkey::Meta));
    // The notation of a German desktop, as the hotkey field shows it there.
    EXPECT_EQ(Hotkey::parse("Strg+Umschalt+F9")->modifiers, unsigned(Hotkey::Ctrl | Hotkey::Shift));
    EXPECT_TRUE(Hotkey::valid(""));
    // A bare letter or digit would be taken from every application; unknown parts are refused.
    for (const char* bad : {"R", "Shift+R", "Ctrl+Ctrl+R", "Ctrl+", "Hyper+R", "Ctrl+F0", "Ctrl+F25", "F",
                            "Ctrl+RR", "Ctrl+F09", "+R", "Ctrl+Alt+F2"})
        EXPECT_FALSE(Hotkey::valid(bad)) << bad;
}

TEST(RequestSender, SendsOnRequestAndOnTheTimerAndReportsFailures) {
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    QByteArrayList written;
    bool broken = false;
    RequestSender sender("S\r\n", [&](const QByteArray& bytes) {
        if (broken)
            throw std::runtime_error("port is closed");
        written << bytes;
    });
    QStringList failures;
    QObject::connect(&sender, &RequestSender::failed, [&](const QString& r) { failures << r; });
    EXPECT_TRUE(sender.request());
    EXPECT_EQ(written, QByteArrayList{"S\r\n"});

    sender.setInterval(1);
    EXPECT_EQ(sender.interval(), 1);
    EXPECT_TRUE(waitFor([&] { return written.size() >= 3; }, 5000));
    sender.setInterval(0);
    const auto count = written.size();
    waitFor([] { return false; }, 1300);
    EXPECT_EQ(written.size(), count) << "the timer stopped";

    broken = true;
    EXPECT_FALSE(sender.request());
    EXPECT_EQ(failures, QStringList{"port is closed"});
    EXPECT_EQ(sender.sentCount(), count);

    // vornal-cli request reaches the running connection; a second connection does not take over.
    broken = false;
    QString error;
    ASSERT_TRUE(sender.listen(&error)) << error.toStdString();
    RequestSender second("x", [](const QByteArray&) {});
    EXPECT_FALSE(second.listen(&error));
    EXPECT_TRUE(error.contains("another")) << error.toStdString();
    // The reasons the event log shows are in the user's language.
    vornal::util::ResourceBundle::setLocale(QStringLiteral("de"));
    RequestSender third("x", [](const QByteArray&) {});
    EXPECT_FALSE(third.listen(&error));
    RequestSender none(QByteArray(), [](const QByteArray&) {});
    QStringList noCommand;
    QObject::connect(&none, &RequestSender::failed, [&](const QString& r) { noCommand << r; });
    EXPECT_FALSE(none.request());
    vornal::util::ResourceBundle::setLocale(QStringLiteral("en"));
    EXPECT_TRUE(error.startsWith(QStringLiteral("eine andere Vornal-Verbindung nimmt die Abfragen")))
        << error.toStdString();
    ASSERT_EQ(noCommand.size(), 1);
    EXPECT_TRUE(noCommand[0].startsWith(QStringLiteral("diese Verbindung hat keinen Abfragebefehl")))
        << noCommand[0].toStdString();
    auto answer = std::async(std::launch::async, [] { return RequestSender::requestFromRunning(); });
    ASSERT_TRUE(
        waitFor([&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_EQ(answer.get(), QString());
    EXPECT_EQ(written.size(), count + 1);
    broken = true;
    answer = std::async(std::launch::async, [] { return RequestSender::requestFromRunning(); });
    ASSERT_TRUE(
        waitFor([&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_EQ(answer.get(), QStringLiteral("port is closed"));
}

TEST(RequestSender, RequestWithoutARunningConnectionSaysSo) {
    // No listener in this process any more (the previous test's sender is gone).
    const QString reason = RequestSender::requestFromRunning(500);
    EXPECT_TRUE(reason.contains("no Vornal connection is running")) << reason.toStdString();
}

} // namespace
