// The publisher against a real mosquitto: every reading arrives once (after dropping repeats by id) and
// in order while the broker is stopped and started again, the JSON carries the reading, and requests
// come from the broker only over an authenticated connection.
#include "vornal/publish/Publisher.h"

#include "support/Mosquitto.h"
#include "support/WaitFor.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace vornal;
using test::MosquittoBroker;
using test::MqttSubscriber;

class PublisherTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "publish_broker";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
    }
    void SetUp() override {
        if (test::mosquittoPath().isEmpty())
            GTEST_SKIP() << "mosquitto is not installed (Debian: mosquitto)";
    }
    publish::Publisher::Settings settings(int port) const {
        publish::Publisher::Settings s;
        s.broker = *config::BrokerUrl::parse(QStringLiteral("mqtt://127.0.0.1:%1").arg(port));
        s.station = QStringLiteral("st1");
        s.prefix = QStringLiteral("site/st1");
        s.instrument = QStringLiteral("KERN_572");
        s.queueFile = dir.filePath(QStringLiteral("queue.txt"));
        return s;
    }
    static worker::DataLog::Row row(int i) {
        return {QDateTime::currentDateTime(), QStringLiteral("SIM1"),
                QStringLiteral("KERN 572"),   QStringLiteral("ST,GS,%1 g<13>").arg(i),
                QString::number(i),           QStringLiteral("typed"),
                QStringLiteral("KERN_572")};
    }
    QTemporaryDir dir;
};

TEST_F(PublisherTest, EveryReadingArrivesOnceAndInOrderWhileTheBrokerIsRestarted) {
    const int n = qEnvironmentVariableIsSet("VORNAL_MQTT_READINGS")
                      ? qEnvironmentVariableIntValue("VORNAL_MQTT_READINGS")
                      : 100000;
    constexpr int restarts = 20;
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start());
    MqttSubscriber sub(broker.port(), "site/st1/#", "consumer");
    ASSERT_TRUE(sub.waitSubscribed());

    publish::Publisher publisher(settings(broker.port()));
    QString why;
    ASSERT_TRUE(publisher.start(&why)) << why.toStdString();
    int restarted = 0;
    for (int i = 1; i <= n; ++i) {
        ASSERT_TRUE(publisher.publish(row(i), i % 3 == 0 ? -1 : i % 2)) << i;
        if (i % (n / (restarts + 1)) == 0 && restarted < restarts) {
            // While readings are in flight: the broker goes, readings pile up, it comes back.
            broker.stop();
            QCoreApplication::processEvents();
            ASSERT_TRUE(broker.start()) << "restart " << restarted;
            ++restarted;
        }
        if (i % 1000 == 0)
            QCoreApplication::processEvents();
    }
    EXPECT_EQ(restarted, restarts);
    ASSERT_TRUE(test::waitFor([&] { return publisher.queued() == 0; }, 90000))
        << publisher.queued() << " still queued";
    // n ids at the subscriber, one per reading; first arrivals in order.
    std::set<qint64> seen;
    qint64 last = 0, first = 0;
    bool ordered = true;
    ASSERT_TRUE(test::waitFor(
        [&] {
            for (const auto& m : sub.messages())
                if (m.topic == "site/st1/KERN_572/reading")
                    seen.insert(
                        QJsonDocument::fromJson(QByteArray::fromStdString(m.payload))["id"].toInteger());
            if (seen.size() < std::size_t(n))
                seen.clear();
            return seen.size() == std::size_t(n);
        },
        30000))
        << "the subscriber has " << sub.count() << " messages";
    seen.clear();
    int checked = 0;
    for (const auto& m : sub.messages()) {
        if (m.topic != "site/st1/KERN_572/reading")
            continue;
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(m.payload)).object();
        const qint64 id = o[QStringLiteral("id")].toInteger();
        if (!seen.insert(id).second)
            continue; // a repeat, dropped by id
        // Ids go up by one from where the station's queue began (a time in microseconds on a new queue).
        if (last == 0)
            first = id;
        else if (id != last + 1)
            ordered = false;
        last = id;
        const qint64 i = id - first + 1; // the reading's number
        if (checked++ % 997 == 0 || i == n) {
            EXPECT_EQ(o[QStringLiteral("value")].toString(), QString::number(i));
            EXPECT_EQ(o[QStringLiteral("raw")].toString(), QStringLiteral("ST,GS,%1 g<13>").arg(i));
            EXPECT_EQ(o[QStringLiteral("station")].toString(), QStringLiteral("st1"));
            EXPECT_EQ(o[QStringLiteral("port")].toString(), QStringLiteral("SIM1"));
            EXPECT_EQ(o[QStringLiteral("instrument")].toString(), QStringLiteral("KERN 572"));
            EXPECT_EQ(o[QStringLiteral("preset")].toString(), QStringLiteral("KERN_572"));
            EXPECT_EQ(o[QStringLiteral("result")].toString(), QStringLiteral("typed"));
            if (i % 3 == 0)
                EXPECT_FALSE(o.contains(QStringLiteral("stable")));
            else
                EXPECT_EQ(o[QStringLiteral("stable")].toBool(), i % 2 == 1);
            // ISO 8601 with the offset from UTC.
            EXPECT_TRUE(
                QRegularExpression(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$)"))
                    .match(o[QStringLiteral("time")].toString())
                    .hasMatch())
                << o[QStringLiteral("time")].toString().toStdString();
        }
    }
    EXPECT_EQ(seen.size(), std::size_t(n));
    EXPECT_TRUE(ordered) << "the first arrivals are not in id order";
    publisher.stop();
    // The station's state, retained: "offline" after a clean stop.
    MqttSubscriber late(broker.port(), "site/st1/status", "late", false);
    ASSERT_TRUE(test::waitFor([&] { return late.count() > 0; }, 5000));
    EXPECT_EQ(late.messages().back().payload, "offline");
    EXPECT_TRUE(late.messages().back().retained);
}

TEST_F(PublisherTest, TheStatusIsOnlineAndRetainedWhileConnected) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start());
    publish::Publisher publisher(settings(broker.port()));
    QStringList log;
    QObject::connect(&publisher, &publish::Publisher::logEvent, [&](const QString& t, bool) { log << t; });
    QString why;
    ASSERT_TRUE(publisher.start(&why));
    ASSERT_TRUE(test::waitFor([&] { return publisher.connected(); }, 10000)) << log.join(u'\n').toStdString();
    MqttSubscriber sub(broker.port(), "site/st1/status", "watcher", false);
    ASSERT_TRUE(test::waitFor([&] { return sub.count() > 0; }, 5000));
    EXPECT_EQ(sub.messages().back().payload, "online");
    EXPECT_TRUE(sub.messages().back().retained);
}

TEST_F(PublisherTest, RequestsComeFromTheBrokerOnlyOverAnAuthenticatedConnection) {
    QTemporaryDir cfg;
    const QString pwFile = cfg.filePath(QStringLiteral("passwords"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("mosquitto_passwd"),
                                {QStringLiteral("-c"), QStringLiteral("-b"), pwFile, QStringLiteral("st1"),
                                 QStringLiteral("s3cret-pw")}),
              0);
    MosquittoBroker broker(QStringLiteral("allow_anonymous false\npassword_file %1\n").arg(pwFile));
    ASSERT_TRUE(broker.start());
    auto s = settings(broker.port());
    s.user = QStringLiteral("st1");
    s.password = QStringLiteral("s3cret-pw");
    s.requests = true;
    publish::Publisher publisher(s);
    int requests = 0;
    QObject::connect(&publisher, &publish::Publisher::requestReceived, [&] { ++requests; });
    QString why;
    ASSERT_TRUE(publisher.start(&why));
    ASSERT_TRUE(test::waitFor([&] { return publisher.connected(); }, 10000));
    QCoreApplication::processEvents();
    QThread::msleep(300); // the subscription made
    // A consumer with a login of the broker asks for a reading.
    mosquitto* m = mosquitto_new("asker2", true, nullptr);
    mosquitto_username_pw_set(m, "st1", "s3cret-pw");
    ASSERT_EQ(mosquitto_connect(m, "127.0.0.1", broker.port(), 10), MOSQ_ERR_SUCCESS);
    mosquitto_publish(m, nullptr, "site/st1/KERN_572/request", 1, "1", 1, false);
    for (int i = 0; i < 20; ++i)
        mosquitto_loop(m, 50, 1);
    mosquitto_disconnect(m);
    mosquitto_destroy(m);
    EXPECT_TRUE(test::waitFor([&] { return requests == 1; }, 5000)) << requests;

    // Without a password the same setting takes no requests (and says so).
    publisher.stop(0);
    MosquittoBroker open;
    ASSERT_TRUE(open.start());
    auto anon = settings(open.port());
    anon.queueFile = dir.filePath(QStringLiteral("queue2.txt"));
    anon.requests = true;
    publish::Publisher unauthenticated(anon);
    QStringList log;
    QObject::connect(&unauthenticated, &publish::Publisher::logEvent,
                     [&](const QString& t, bool) { log << t; });
    int taken = 0;
    QObject::connect(&unauthenticated, &publish::Publisher::requestReceived, [&] { ++taken; });
    ASSERT_TRUE(unauthenticated.start(&why));
    ASSERT_TRUE(test::waitFor([&] { return unauthenticated.connected(); }, 10000));
    EXPECT_TRUE(log.join(u'\n').contains(QStringLiteral("requests from the broker are off")))
        << log.join(u'\n').toStdString();
    MqttSubscriber other(open.port(), "x", "sender", false);
    ASSERT_TRUE(other.waitSubscribed());
    other.publish("site/st1/KERN_572/request", "1");
    QThread::msleep(500);
    QCoreApplication::processEvents();
    EXPECT_EQ(taken, 0);
}

} // namespace
