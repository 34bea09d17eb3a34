// Requests through a connection on a simulated balance that answers only when asked: the Request button
// (Connection::request), the global hotkey (the fake; the X11 backend: tests/platform/hotkey) and the timer;
// the answer reaches the dispatch. Also the stable-reading filter's event for a preset without a rule.
#include "vornal/config/Config.h"
#include "vornal/worker/Connection.h"

#include "support/SimEnvironment.h"
#include "support/WaitFor.h"

#include <platform/hotkey/GlobalHotkey.h>
#include <platform/hotkey/fake/FakeHotkey.h>

#include <QTemporaryDir>

#include <gtest/gtest.h>

using vornal::config::Config;
using vornal::config::ConfigHelper;
using vornal::platform::FakeHotkey;
using vornal::platform::GlobalHotkey;
using vornal::test::waitFor;
using vornal::worker::Connection;
using vornal::worker::DataLine;

namespace {

QString recordPath() {
    static QTemporaryDir dir;
    return dir.filePath(QStringLiteral("received.bin"));
}

const std::string kScript = "port SIMQ\nrecord \"" + recordPath().toStdString() +
                            "\"\non \"S\\r\\n\" send \"ST,+00001.25 kg\\r\\n\"\n";

const auto* const env = ::testing::AddGlobalTestEnvironment(new vornal::test::SimEnvironment(kScript, true));

class RequestConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        config_ = ConfigHelper::Instrument::AND.getDefaultConfig();
        config_.setPort(QStringLiteral("SIMQ"));
        config_.setInstrument(ConfigHelper::Instrument::AND);
        config_.setRequestCommand(ConfigHelper::Instrument::AND.getRequestCommand());
        options_.keys = false;
        options_.sound = false;
        options_.reconnect = false;
        options_.requestServer = false;
        QObject::connect(&connection_, &Connection::line, [this](const DataLine& line, const DataLine&) {
            if (line.hasValue())
                values_ << line.getProcessedData();
        });
        QObject::connect(&connection_, &Connection::logEvent,
                         [this](const QString& t, bool important) { (important ? important_ : log_) << t; });
    }
    void TearDown() override {
        connection_.stop();
        waitFor([this] { return !connection_.isActive(); });
    }
    int commandsReceived() const {
        QFile f(recordPath());
        return f.open(QIODevice::ReadOnly) ? int(f.readAll().count("S\r\n")) : 0;
    }

    Config config_;
    Connection::Options options_;
    Connection connection_;
    QStringList values_, log_, important_;
};

TEST_F(RequestConnectionTest, ButtonHotkeyAndTimerEachGetAnAnswer) {
    FakeHotkey* fake = nullptr;
    options_.hotkeyBackend = [&fake](std::string*) {
        auto h = std::make_unique<FakeHotkey>();
        fake = h.get();
        return std::unique_ptr<GlobalHotkey>(std::move(h));
    };
    config_.setRequestHotkey(QStringLiteral("Ctrl+Alt+R"));
    const int before = commandsReceived();
    ASSERT_TRUE(connection_.start(config_, options_)) << important_.join(u'\n').toStdString();
    ASSERT_TRUE(fake && fake->grabbed());
    EXPECT_EQ(fake->chord().key, "R");
    EXPECT_EQ(fake->chord().modifiers,
              unsigned(vornal::platform::HotkeyChord::Ctrl | vornal::platform::HotkeyChord::Alt));
    EXPECT_TRUE(connection_.canRequest());

    // The Request button.
    EXPECT_TRUE(connection_.request());
    ASSERT_TRUE(waitFor([this] { return values_.size() == 1; }, 5000))
        << log_.join(u'\n').toStdString() << important_.join(u'\n').toStdString();
    // The hotkey, pressed on another thread as the backends do.
    std::thread([fake] { fake->press(); }).join();
    ASSERT_TRUE(waitFor([this] { return values_.size() == 2; }, 5000));
    EXPECT_EQ(values_, QStringList({"1.25", "1.25"}));
    EXPECT_EQ(commandsReceived() - before, 2);

    connection_.stop();
    ASSERT_TRUE(waitFor([this] { return !connection_.isActive(); }));
    EXPECT_FALSE(connection_.request()) << "not connected";
    EXPECT_TRUE(important_.last().contains("Start")) << important_.last().toStdString();

    // The timer.
    config_.setRequestHotkey(QString());
    config_.setRequestEverySeconds(QStringLiteral("1"));
    values_.clear();
    ASSERT_TRUE(connection_.start(config_, options_));
    ASSERT_TRUE(waitFor([this] { return values_.size() >= 2; }, 5000));
    EXPECT_TRUE(log_.contains(QStringLiteral("a request every 1 s")));
}

TEST_F(RequestConnectionTest, WithoutCommandOrShortcutTheUserIsTold) {
    config_.setRequestCommand(QString());
    config_.setTypeOnlyStable(true);
    config_.setInstrument(ConfigHelper::Instrument::KERN_572); // marks no stability
    config_.setRequestHotkey(QStringLiteral("Ctrl+Alt+R"));
    ASSERT_TRUE(connection_.start(config_, options_));
    EXPECT_FALSE(connection_.canRequest());
    EXPECT_FALSE(connection_.request());
    EXPECT_TRUE(important_.last().contains("request command")) << important_.last().toStdString();
    EXPECT_TRUE(important_.contains("The instrument marks no stable readings: every reading is typed."));
    connection_.stop();
    ASSERT_TRUE(waitFor([this] { return !connection_.isActive(); }));

    // A shortcut the desktop cannot give: one message, the connection runs on.
    config_.setRequestCommand(QStringLiteral("S<13><10>"));
    options_.hotkeyBackend = [](std::string* why) {
        *why = "this desktop (Wayland) gives programs no global shortcut";
        return std::unique_ptr<GlobalHotkey>();
    };
    important_.clear();
    ASSERT_TRUE(connection_.start(config_, options_));
    EXPECT_EQ(important_.filter("cannot be used").size(), 1);
    EXPECT_TRUE(connection_.request());
}

} // namespace
