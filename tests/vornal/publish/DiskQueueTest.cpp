// The station's queue of messages for the broker, and the broker's address.
#include "vornal/publish/DiskQueue.h"
#include "vornal/config/BrokerUrl.h"
#include "vornal/publish/Publisher.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using vornal::config::BrokerUrl;
using vornal::publish::DiskQueue;
using vornal::publish::Publisher;

TEST(BrokerUrl, TakesMqttAndMqttsWithTheirDefaultPortsAndRefusesTheRest) {
    const auto plain = BrokerUrl::parse(QStringLiteral("mqtt://broker.example"));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->host, QStringLiteral("broker.example"));
    EXPECT_EQ(plain->port, 1883);
    EXPECT_FALSE(plain->tls);
    const auto tls = BrokerUrl::parse(QStringLiteral("mqtts://10.0.0.5:8884"));
    ASSERT_TRUE(tls);
    EXPECT_EQ(tls->port, 8884);
    EXPECT_TRUE(tls->tls);
    const auto v6 = BrokerUrl::parse(QStringLiteral("mqtts://[::1]"));
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->host, QStringLiteral("::1"));
    EXPECT_EQ(v6->port, 8883);
    EXPECT_EQ(v6->toString(), QStringLiteral("mqtts://[::1]:8883"));
    for (const char* bad :
         {"", "broker:1883", "tcp://broker:1883", "mqtt://", "mqtt://:1883", "mqtt://b:0", "mqtt://b:65536",
          "mqtt://b:", "mqtt://b:12x", "mqtt://user:pw@b", "mqtt://b/topic", "mqtt://b c", "mqtt://[::1"})
        EXPECT_FALSE(BrokerUrl::parse(QString::fromLatin1(bad))) << bad;
}

TEST(BrokerUrl, TopicLevelsNeverCarryWildcardsOrSeparators) {
    EXPECT_EQ(BrokerUrl::topicLevel(QStringLiteral("KERN 572/a+b#")), QStringLiteral("KERN_572_a_b_"));
    EXPECT_EQ(BrokerUrl::topicLevel(QString()), QStringLiteral("_"));
    EXPECT_TRUE(BrokerUrl::validPrefix(QStringLiteral("site/hall 2")));
    EXPECT_FALSE(BrokerUrl::validPrefix(QStringLiteral("site//hall")));
    EXPECT_FALSE(BrokerUrl::validPrefix(QStringLiteral("site/+")));
    EXPECT_FALSE(BrokerUrl::validPrefix(QStringLiteral("site/#")));
    EXPECT_FALSE(BrokerUrl::validPrefix(QStringLiteral("/site")));
}

class DiskQueueTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("q.txt")); }
    static quint64 add(DiskQueue& q, const char* payload) {
        quint64 id = 0;
        QString why;
        EXPECT_EQ(q.add("t/reading", payload, &id, &why), DiskQueue::Added::Queued) << why.toStdString();
        return id;
    }
};

TEST_F(DiskQueueTest, IdsGoOnAfterAReopenAndOnlyAcknowledgedMessagesLeave) {
    {
        DiskQueue q(path(), 1 << 20);
        QString why;
        ASSERT_TRUE(q.open(&why)) << why.toStdString();
        EXPECT_EQ(add(q, "{\"a\":1}"), 1u);
        EXPECT_EQ(add(q, "{\"a\":2}"), 2u);
        EXPECT_EQ(add(q, "{\"a\":3}"), 3u);
        ASSERT_TRUE(q.acknowledge(1, &why));
        EXPECT_EQ(q.pending().size(), 2u);
    }
    {
        // As after a SIGKILL: what is on disk is all there is.
        DiskQueue q(path(), 1 << 20);
        QString why;
        ASSERT_TRUE(q.open(&why));
        ASSERT_EQ(q.pending().size(), 2u);
        EXPECT_EQ(q.pending().front().id, 2u);
        EXPECT_EQ(q.pending().front().topic, QByteArray("t/reading"));
        EXPECT_EQ(q.pending().front().payload, QByteArray("{\"a\":2}"));
        EXPECT_EQ(add(q, "{\"a\":4}"), 4u);
        ASSERT_TRUE(q.acknowledge(4, &why));
        EXPECT_TRUE(q.pending().empty());
        EXPECT_EQ(QFile(path()).size(), 0); // everything acknowledged: the file begins anew
    }
    {
        // The ids never start again at 1, also with an empty file.
        DiskQueue q(path(), 1 << 20);
        QString why;
        ASSERT_TRUE(q.open(&why));
        EXPECT_EQ(add(q, "{}"), 5u);
    }
}

// A queue without a past (its folder cleared) begins at the id it is given, never again at 1: a consumer
// that drops repeats by id would drop new readings otherwise.
TEST_F(DiskQueueTest, AQueueWithoutAPastBeginsAtItsFirstId) {
    const quint64 first = 1796760000000000ull;
    {
        DiskQueue q(path(), 1 << 20, first);
        QString why;
        ASSERT_TRUE(q.open(&why));
        EXPECT_EQ(add(q, "{}"), first);
        EXPECT_EQ(add(q, "{}"), first + 1);
    }
    DiskQueue again(path(), 1 << 20, first + 500);
    QString why;
    ASSERT_TRUE(again.open(&why));
    EXPECT_EQ(add(again, "{}"), first + 2) << "with a past, its ids go on";
}

TEST_F(DiskQueueTest, ALineCutOffAtTheEndIsDroppedAndTheNextAppendStartsWhole) {
    {
        DiskQueue q(path(), 1 << 20);
        QString why;
        ASSERT_TRUE(q.open(&why));
        add(q, "{\"a\":1}");
    }
    QFile f(path());
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("2\tt/reading\t{\"a\""); // the machine went down during the append
    f.close();
    DiskQueue q(path(), 1 << 20);
    QString why;
    ASSERT_TRUE(q.open(&why));
    ASSERT_EQ(q.pending().size(), 1u);
    EXPECT_EQ(add(q, "{\"b\":2}"), 2u);
    DiskQueue again(path() + QStringLiteral(".copy"), 1 << 20);
    QFile::copy(path(), path() + QStringLiteral(".copy"));
    ASSERT_TRUE(again.open(&why));
    ASSERT_EQ(again.pending().size(), 2u);
    EXPECT_EQ(again.pending().back().payload, QByteArray("{\"b\":2}"));
}

TEST_F(DiskQueueTest, AFullQueueKeepsTheOldestAndRefusesNewOnesUntilThereIsRoom) {
    DiskQueue q(path(), 1000);
    QString why;
    ASSERT_TRUE(q.open(&why));
    const QByteArray payload(100, 'x');
    quint64 id = 0;
    int queued = 0;
    while (q.add("t", payload, &id, &why) == DiskQueue::Added::Queued)
        ++queued;
    EXPECT_GT(queued, 5);
    EXPECT_LE(q.pendingBytes(), 1000);
    EXPECT_EQ(q.pending().front().id, 1u);
    EXPECT_EQ(q.add("t", payload, &id, &why), DiskQueue::Added::Full);
    ASSERT_TRUE(q.acknowledge(1, &why));
    EXPECT_EQ(q.add("t", payload, &id, &why), DiskQueue::Added::Queued);
    EXPECT_EQ(id, quint64(queued + 1)); // refused messages took no id
}

TEST_F(DiskQueueTest, CuttingTheAcknowledgedFrontKeepsTheRestInOrder) {
    DiskQueue q(path(), 64 << 20);
    QString why;
    ASSERT_TRUE(q.open(&why));
    const QByteArray payload(1000, 'p');
    quint64 id = 0;
    for (int i = 0; i < 5000; ++i)
        ASSERT_EQ(q.add("t", payload + QByteArray::number(i), &id, &why), DiskQueue::Added::Queued);
    for (quint64 a = 100; a <= 4000; a += 100)
        ASSERT_TRUE(q.acknowledge(a, &why)) << why.toStdString();
    EXPECT_LT(QFile(path()).size(), 3 * 1024 * 1024); // the front was cut
    DiskQueue reread(path(), 64 << 20);
    ASSERT_TRUE(reread.open(&why));
    ASSERT_EQ(reread.pending().size(), 1000u);
    EXPECT_EQ(reread.pending().front().id, 4001u);
    EXPECT_EQ(reread.pending().back().payload, payload + "4999");
}

// The password: only the user can read its file; the environment, then a named file, then that file.
TEST(BrokerPassword, IsKeptInAFileOnlyTheUserCanReadAndFoundInItsOrder) {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    qunsetenv("VORNAL_MQTT_PASSWORD");
    QString why;
    ASSERT_TRUE(Publisher::storePassword(QStringLiteral("first secret"), &why)) << why.toStdString();
    QFile stored(Publisher::passwordStoreFile());
    ASSERT_TRUE(stored.exists());
    EXPECT_TRUE(stored.fileName().startsWith(home.path()));
    EXPECT_EQ(stored.permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
              QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        << "mode 0600: " << std::hex << int(stored.permissions());
    vornal::config::Config c;
    EXPECT_EQ(Publisher::loadPassword(c, &why), QStringLiteral("first secret"));

    const QString named = home.filePath(QStringLiteral("pw.txt"));
    QFile f(named);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("from file\r\n");
    f.close();
    c.setMqttPasswordFile(named);
    EXPECT_EQ(Publisher::loadPassword(c, &why), QStringLiteral("from file"))
        << "the line break is not part of it";
    qputenv("VORNAL_MQTT_PASSWORD", "from env");
    EXPECT_EQ(Publisher::loadPassword(c, &why), QStringLiteral("from env"));
    qunsetenv("VORNAL_MQTT_PASSWORD");

    // A named file that is missing is an error naming the setting; the settings refuse to start with it.
    c.setMqttPasswordFile(home.filePath(QStringLiteral("missing")));
    why.clear();
    EXPECT_FALSE(Publisher::loadPassword(c, &why));
    EXPECT_TRUE(why.contains(QStringLiteral("mqttPasswordFile"))) << why.toStdString();
    c.setMqttBroker(QStringLiteral("mqtt://127.0.0.1"));
    c.setMqttUser(QStringLiteral("st"));
    Publisher::Settings settings;
    why.clear();
    EXPECT_FALSE(Publisher::fromConfig(c, &settings, &why));
    EXPECT_TRUE(why.contains(QStringLiteral("missing"))) << why.toStdString();

    // Deleting it: an empty password removes the file.
    ASSERT_TRUE(Publisher::storePassword(QString(), &why));
    EXPECT_FALSE(QFile::exists(Publisher::passwordStoreFile()));
    qunsetenv("XDG_CONFIG_HOME");
}

TEST(BrokerSettings, DefaultsComeFromTheHostAndThePreset) {
    vornal::config::Config c;
    c.setMqttBroker(QStringLiteral("mqtts://broker.example"));
    c.setInstrument(vornal::config::ConfigHelper::Instrument::KERN_572);
    Publisher::Settings s;
    QString why;
    qunsetenv("VORNAL_MQTT_PASSWORD");
    ASSERT_TRUE(Publisher::fromConfig(c, &s, &why)) << why.toStdString();
    EXPECT_EQ(s.station, Publisher::defaultStation());
    EXPECT_EQ(s.prefix, QStringLiteral("vornal/") + s.station);
    EXPECT_EQ(s.instrument, QStringLiteral("KERN_572"));
    EXPECT_TRUE(s.broker.tls);
    EXPECT_EQ(s.broker.port, 8883);
    c.setMqttStation(QStringLiteral("scale-7"));
    c.setMqttTopicPrefix(QStringLiteral("site/hall2"));
    ASSERT_TRUE(Publisher::fromConfig(c, &s, &why));
    EXPECT_EQ(s.prefix, QStringLiteral("site/hall2"));
    EXPECT_TRUE(s.queueFile.endsWith(QStringLiteral("mqtt-queue-scale-7.txt")));
    // The settings refuse what a topic cannot hold.
    EXPECT_FALSE(c.setByKey(QStringLiteral("mqttStation"), QStringLiteral("a/b"), &why));
    EXPECT_FALSE(c.setByKey(QStringLiteral("mqttTopicPrefix"), QStringLiteral("site/#"), &why));
    EXPECT_FALSE(c.setByKey(QStringLiteral("mqttBroker"), QStringLiteral("http://x"), &why));
    EXPECT_TRUE(c.setByKey(QStringLiteral("mqttBroker"), QString(), &why));
}

TEST(BrokerSettings, AProfilesNameIsItsInstrumentsTopicLevelAndWordedLikeTheLog) {
    vornal::config::Config c;
    c.setInstrument(vornal::config::ConfigHelper::Instrument::KERN_572);
    EXPECT_EQ(Publisher::instrumentName(c), QStringLiteral("KERN_572"));
    EXPECT_EQ(Publisher::instrumentName(c, QStringLiteral("Left scale")), QStringLiteral("Left_scale"));
    EXPECT_EQ(Publisher::instrumentName(c, QStringLiteral("a/b+#")), QStringLiteral("a_b__"));
    // Two profiles of the same preset are two topics.
    EXPECT_NE(Publisher::instrumentName(c, QStringLiteral("One")),
              Publisher::instrumentName(c, QStringLiteral("Two")));
    // The texts come from the bundle with their numbers filled in (no placeholder left).
    EXPECT_EQ(Publisher::unreachableText(1234), QStringLiteral("broker unreachable, 1234 readings queued"));
}

} // namespace
