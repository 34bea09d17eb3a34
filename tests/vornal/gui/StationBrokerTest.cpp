// The window's station publishes through one broker connection: both instruments' readings arrive on
// topics of their own, in one id sequence without gaps, against a real mosquitto (skipped without it).
#include "GuiTestMain.h"

#include "ConnectionPresenter.h"
#include "support/Mosquitto.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>

#include <map>

namespace vornal::test {
namespace {

class StationBrokerTest : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        // The station's queue goes to the test's own folder.
        qputenv("XDG_DATA_HOME", dataDir_.path().toUtf8());
    }
    void TearDown() override {
        if (window_) {
            window_->stopAll();
            QTest::qWait(300);
        }
        WindowFixture::TearDown();
        qunsetenv("XDG_DATA_HOME");
    }
    QTemporaryDir dataDir_;
};

TEST_F(StationBrokerTest, TwoInstrumentsPublishThroughOneConnectionUnderTopicsOfTheirOwn) {
    if (mosquittoPath().isEmpty())
        GTEST_SKIP() << "mosquitto is not installed";
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start());
    MqttSubscriber sub(broker.port(), "vornal/#", "window-consumer");
    ASSERT_TRUE(sub.waitSubscribed());

    auto& w = open({}, false, {QStringLiteral("SIM1"), QStringLiteral("SIM2")});
    ASSERT_TRUE(w.renameProfile(0, QStringLiteral("Scale")).isEmpty());
    MessageBoxes::setNextText(QStringLiteral("Balance"));
    w.findChild<QPushButton*>(QStringLiteral("addProfileButton"))->click();
    ASSERT_EQ(w.profileCount(), 2);
    // As a user does: the broker group on the Output tab, while Balance is the instrument shown.
    w.findChild<QLineEdit*>(QStringLiteral("mqttBrokerTextField"))->setText(broker.url());
    w.findChild<QLineEdit*>(QStringLiteral("mqttStationTextField"))->setText(QStringLiteral("bench"));
    w.findChild<QPushButton*>(QStringLiteral("startAllButton"))->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return logText().count(QStringLiteral("45.678 g")) >= 3; }, 10000))
        << logText().toStdString();
    // Offscreen nothing takes the keys: the values wait for a window until Stop ends them, and their
    // readings go out then (result "not typed").
    w.stopAll();
    // One publisher for the station: one start of publishing, no second queue refused.
    EXPECT_EQ(logText().count(QStringLiteral("publishing readings to")), 1) << logText().toStdString();

    // Enough readings of both on their own topics.
    std::map<qint64, std::string> byId; // id -> topic
    auto collect = [&] {
        byId.clear();
        int scale = 0, balance = 0;
        for (const auto& m : sub.messages()) {
            if (m.topic.find("/reading") == std::string::npos)
                continue;
            const QJsonObject j = QJsonDocument::fromJson(QByteArray::fromStdString(m.payload)).object();
            byId.emplace(j[QStringLiteral("id")].toInteger(), m.topic);
            scale += m.topic == "vornal/bench/Scale/reading";
            balance += m.topic == "vornal/bench/Balance/reading";
        }
        return scale >= 3 && balance >= 3;
    };
    ASSERT_TRUE(QTest::qWaitFor(collect, 15000)) << [&] {
        std::string topics;
        for (const auto& m : sub.messages())
            topics += m.topic + " " + m.payload.substr(0, 120) + "\n";
        return topics;
    }() << logText().toStdString();
    EXPECT_FALSE(logText().contains(QStringLiteral("in use"))) << logText().toStdString();
    for (const auto& [id, topic] : byId)
        EXPECT_TRUE(topic == "vornal/bench/Scale/reading" || topic == "vornal/bench/Balance/reading")
            << topic;
    // One id sequence for the station: no gaps between the first and the last id seen.
    EXPECT_EQ(byId.rbegin()->first - byId.begin()->first + 1, qint64(byId.size()));
}

} // namespace
} // namespace vornal::test
