// vornal-cli run --publish against a real mosquitto (skipped without it): a fleet of stations gives one
// complete, ordered record across broker restarts; a station killed while the broker is down sends its
// queue on the next start; a wrong password, an unknown CA, an unreachable broker and a full queue are
// told clearly while the values go on; the password is in no export, event log or data log.
#include "support/Cli.h"
#include "support/Mosquitto.h"
#include "support/WaitFor.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>
#include <mosquitto.h>

#include <map>
#include <memory>
#include <set>

namespace {

using namespace vornal::test;

class PublishCli : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "cli_publish";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
    }
    void SetUp() override {
        if (mosquittoPath().isEmpty())
            GTEST_SKIP() << "mosquitto is not installed (Debian: mosquitto)";
        QFile script(dir.filePath(QStringLiteral("fast.vsim")));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("port SIM1\nvalue w 1 step=1\nevery 5ms send \"{w}\\r\"\n");
    }
    QProcessEnvironment env() const {
        QProcessEnvironment e = cliEnvironment();
        e.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        e.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        e.remove(QStringLiteral("VORNAL_MQTT_PASSWORD"));
        return e;
    }
    // A station printing the simulated values and publishing them.
    std::unique_ptr<QProcess> station(const QString& name, const QString& broker,
                                      const QStringList& more = {}, QProcessEnvironment e = {}) {
        auto p = std::make_unique<QProcess>();
        startCli(*p,
                 QStringList{QStringLiteral("--store"),
                             dir.filePath(QStringLiteral("prefs-%1.txt").arg(name)),
                             QStringLiteral("--simulate"), dir.filePath(QStringLiteral("fast.vsim")),
                             QStringLiteral("run"), QStringLiteral("--port"), QStringLiteral("SIM1"),
                             QStringLiteral("--print"), QStringLiteral("--publish"), broker,
                             QStringLiteral("--set"), QStringLiteral("mqttStation=%1").arg(name)} +
                     more,
                 e.isEmpty() ? env() : e);
        return p;
    }
    struct Output {
        QString out, err;
    };
    // Reads what the station wrote so far (kept in `o`).
    static void read(QProcess& p, Output& o) {
        o.out += QString::fromUtf8(p.readAllStandardOutput());
        o.err += QString::fromUtf8(p.readAllStandardError());
    }
    static bool waitOutput(QProcess& p, Output& o, const std::function<bool()>& done, int ms = 15000) {
        return waitFor(
            [&] {
                p.waitForReadyRead(20);
                read(p, o);
                return done();
            },
            ms);
    }
    static void terminate(QProcess& p, Output& o) {
        p.terminate();
        if (!p.waitForFinished(15000)) {
            ADD_FAILURE() << "the station did not end";
            p.kill();
            p.waitForFinished();
        }
        read(p, o);
    }
    static QStringList values(const Output& o) { return o.out.split(u'\n', Qt::SkipEmptyParts); }
    // The values of a station's readings as first received, repeats dropped by id; `ordered` false when
    // the ids of the first arrivals do not go up by one.
    static QStringList received(MqttSubscriber& sub, const QString& station, bool* ordered = nullptr) {
        std::set<qint64> seen;
        QStringList v;
        qint64 last = 0;
        if (ordered)
            *ordered = true;
        const std::string topic = QStringLiteral("vornal/%1/GENERIC/reading").arg(station).toStdString();
        for (const auto& m : sub.messages()) {
            if (m.topic != topic)
                continue;
            const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(m.payload)).object();
            const qint64 id = o[QStringLiteral("id")].toInteger();
            if (!seen.insert(id).second)
                continue;
            if (ordered && last != 0 && id != last + 1)
                *ordered = false;
            last = id;
            v << o[QStringLiteral("value")].toString();
        }
        return v;
    }
    QTemporaryDir dir;
};

TEST_F(PublishCli, AFleetOfThreeStationsGivesOneCompleteOrderedRecordAcrossBrokerRestarts) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start());
    MqttSubscriber sub(broker.port(), "vornal/#", "fleet-consumer");
    ASSERT_TRUE(sub.waitSubscribed());
    const QStringList names = {QStringLiteral("st1"), QStringLiteral("st2"), QStringLiteral("st3")};
    std::vector<std::unique_ptr<QProcess>> stations;
    std::vector<Output> outs(3);
    for (const QString& n : names)
        stations.push_back(station(n, broker.url()));
    for (int restart = 0; restart < 3; ++restart) {
        QThread::msleep(700);
        broker.stop();
        QThread::msleep(400);
        ASSERT_TRUE(broker.start());
    }
    // Back for good: what was queued goes out.
    QThread::msleep(1500);
    for (std::size_t i = 0; i < stations.size(); ++i)
        terminate(*stations[i], outs[i]);
    for (std::size_t i = 0; i < stations.size(); ++i) {
        const QStringList printed = values(outs[i]);
        EXPECT_GT(printed.size(), 100) << outs[i].err.toStdString();
        bool ordered = false;
        QStringList got;
        waitFor(
            [&] {
                got = received(sub, names[int(i)], &ordered);
                return got.size() >= printed.size();
            },
            20000);
        EXPECT_EQ(got, printed) << names[int(i)].toStdString() << ": " << got.size() << " of "
                                << printed.size() << "\n"
                                << outs[i].err.toStdString();
        EXPECT_TRUE(ordered) << names[int(i)].toStdString();
        EXPECT_TRUE(outs[i].err.contains(QStringLiteral("broker unreachable, ")))
            << outs[i].err.toStdString();
    }
}

TEST_F(PublishCli, AStationKilledWhileTheBrokerIsDownSendsItsWholeQueueOnTheNextStart) {
    MosquittoBroker broker; // not started yet: its port refuses
    auto first = station(QStringLiteral("killed"), broker.url());
    Output o1;
    ASSERT_TRUE(waitOutput(*first, o1, [&] {
        return values(o1).size() > 300 && o1.err.contains(QStringLiteral("readings queued"));
    })) << o1.err.toStdString();
    first->kill(); // SIGKILL
    first->waitForFinished();
    read(*first, o1);
    const QStringList printed = values(o1);
    EXPECT_TRUE(
        o1.err.contains(QRegularExpression(QStringLiteral("broker unreachable, \\d+ readings queued"))))
        << o1.err.toStdString();

    ASSERT_TRUE(broker.start());
    MqttSubscriber sub(broker.port(), "vornal/#", "after-kill");
    ASSERT_TRUE(sub.waitSubscribed());
    auto second = station(QStringLiteral("killed"), broker.url());
    Output o2;
    ASSERT_TRUE(waitOutput(
        *second, o2, [&] { return received(sub, QStringLiteral("killed")).size() > printed.size() + 20; },
        30000))
        << o2.err.toStdString();
    terminate(*second, o2);
    EXPECT_TRUE(o2.err.contains(QStringLiteral("readings left queued by the last run are sent first")))
        << o2.err.toStdString();
    bool ordered = false;
    const QStringList got = received(sub, QStringLiteral("killed"), &ordered);
    ASSERT_GE(got.size(), printed.size());
    // Every value printed before the kill (each was queued before it was printed), in order, then the
    // second run's.
    EXPECT_EQ(got.mid(0, printed.size()), printed);
    EXPECT_TRUE(ordered);
}

TEST_F(PublishCli, TheStationIsOnlineWhileItRunsAndTheLastWillSaysOfflineWhenItIsKilled) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start());
    auto p = station(QStringLiteral("willing"), broker.url());
    Output o;
    ASSERT_TRUE(waitOutput(*p, o, [&] { return o.err.contains(QStringLiteral("connected to the broker")); }))
        << o.err.toStdString();
    MqttSubscriber sub(broker.port(), "vornal/willing/status", "status-watch", false);
    ASSERT_TRUE(waitFor([&] { return sub.count() > 0; }, 5000));
    EXPECT_EQ(sub.messages().back().payload, "online");
    EXPECT_TRUE(sub.messages().back().retained);
    p->kill(); // no goodbye: the broker sends the last will
    p->waitForFinished();
    ASSERT_TRUE(waitFor([&] { return sub.messages().back().payload == "offline"; }, 10000));
    MqttSubscriber late(broker.port(), "vornal/willing/status", "late-watch", false);
    ASSERT_TRUE(waitFor([&] { return late.count() > 0; }, 5000));
    EXPECT_EQ(late.messages().back().payload, "offline") << "kept (retained)";
}

TEST_F(PublishCli, BrokerFailuresAreToldClearlyAndTheValuesGoOn) {
    // Unreachable (nobody listens), and a full queue meanwhile.
    {
        auto p =
            station(QStringLiteral("down"), QStringLiteral("mqtt://127.0.0.1:%1").arg(freeLoopbackPort()),
                    {QStringLiteral("--set"), QStringLiteral("mqttQueueMaxBytes=65536")});
        Output o;
        EXPECT_TRUE(waitOutput(
            *p, o,
            [&] {
                return o.err.contains(QStringLiteral("the broker queue is full")) && values(o).size() > 700;
            },
            30000))
            << o.err.toStdString();
        terminate(*p, o);
        EXPECT_TRUE(
            o.err.contains(QRegularExpression(QStringLiteral("broker unreachable, \\d+ readings queued"))))
            << o.err.toStdString();
        EXPECT_TRUE(o.err.contains(QStringLiteral("setting mqttQueueMaxBytes"))) << o.err.toStdString();
        EXPECT_TRUE(o.err.contains(
            QRegularExpression(QStringLiteral("\\d+ readings were not queued for the broker"))))
            << o.err.toStdString();
        EXPECT_TRUE(
            o.err.contains(QStringLiteral("readings stay queued for the broker until the next start")));
    }
    // A wrong password.
    {
        const QString pw = dir.filePath(QStringLiteral("passwd"));
        ASSERT_EQ(QProcess::execute(QStringLiteral("mosquitto_passwd"),
                                    {QStringLiteral("-c"), QStringLiteral("-b"), pw, QStringLiteral("st"),
                                     QStringLiteral("right")}),
                  0);
        MosquittoBroker broker(QStringLiteral("allow_anonymous false\npassword_file %1\n").arg(pw));
        ASSERT_TRUE(broker.start());
        QProcessEnvironment e = env();
        e.insert(QStringLiteral("VORNAL_MQTT_PASSWORD"), QStringLiteral("wrong"));
        auto p = station(QStringLiteral("wrongpw"), broker.url(),
                         {QStringLiteral("--set"), QStringLiteral("mqttUser=st")}, e);
        Output o;
        EXPECT_TRUE(waitOutput(*p, o, [&] {
            return o.err.contains(QStringLiteral("the broker refused the connection")) &&
                   values(o).size() > 100;
        })) << o.err.toStdString();
        terminate(*p, o);
        EXPECT_TRUE(o.err.contains(QStringLiteral("check mqttUser and the password"))) << o.err.toStdString();
    }
    // TLS with a certificate of a CA the station does not know; then with that CA's file.
    {
        const auto ssl = [&](const QStringList& args) {
            QProcess p;
            p.setWorkingDirectory(dir.path());
            p.start(QStringLiteral("openssl"), args);
            return p.waitForFinished(60000) && p.exitCode() == 0;
        };
        if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
            GTEST_SKIP() << "openssl is not installed";
        QFile ext(dir.filePath(QStringLiteral("ext.cnf")));
        ASSERT_TRUE(ext.open(QIODevice::WriteOnly));
        ext.write("subjectAltName=IP:127.0.0.1\n");
        ext.close();
        ASSERT_TRUE(ssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
                         "ca.pem", "-subj", "/CN=Test CA", "-days", "2"}));
        ASSERT_TRUE(ssl({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out",
                         "server.csr", "-subj", "/CN=127.0.0.1"}));
        ASSERT_TRUE(ssl({"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                         "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "ext.cnf"}));
        MosquittoBroker broker(QStringLiteral("cafile %1\ncertfile %2\nkeyfile %3\n")
                                   .arg(dir.filePath(QStringLiteral("ca.pem")),
                                        dir.filePath(QStringLiteral("server.pem")),
                                        dir.filePath(QStringLiteral("server.key"))));
        ASSERT_TRUE(broker.start());
        const QString url = QStringLiteral("mqtts://127.0.0.1:%1").arg(broker.port());
        auto p = station(QStringLiteral("tls"), url);
        Output o;
        EXPECT_TRUE(waitOutput(*p, o, [&] {
            return o.err.contains(QStringLiteral("the TLS handshake failed")) && values(o).size() > 100;
        })) << o.err.toStdString();
        terminate(*p, o);
        auto trusted = station(QStringLiteral("tls"), url,
                               {QStringLiteral("--set"),
                                QStringLiteral("mqttCaFile=%1").arg(dir.filePath(QStringLiteral("ca.pem")))});
        Output o2;
        EXPECT_TRUE(waitOutput(*trusted, o2, [&] {
            return o2.err.contains(QStringLiteral("connected to the broker"));
        })) << o2.err.toStdString();
        terminate(*trusted, o2);
    }
}

TEST_F(PublishCli, ThePasswordIsInNoExportEventLogOrDataLog) {
    const QString secret = QStringLiteral("Pw-9f3b1c77");
    const QString pwList = dir.filePath(QStringLiteral("passwd"));
    ASSERT_EQ(
        QProcess::execute(QStringLiteral("mosquitto_passwd"),
                          {QStringLiteral("-c"), QStringLiteral("-b"), pwList, QStringLiteral("st"), secret}),
        0);
    MosquittoBroker broker(QStringLiteral("allow_anonymous false\npassword_file %1\n").arg(pwList));
    ASSERT_TRUE(broker.start());
    // The password in a file of the user's, named by the settings.
    const QString pwFile = dir.filePath(QStringLiteral("broker-password"));
    QFile f(pwFile);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(secret.toUtf8() + "\n");
    f.close();
    const QString store = dir.filePath(QStringLiteral("prefs-pw.txt"));
    const QString csv = dir.filePath(QStringLiteral("readings.csv"));
    ASSERT_EQ(runCli({QStringLiteral("--store"), store, QStringLiteral("set"), QStringLiteral("mqttUser=st"),
                      QStringLiteral("mqttPasswordFile=%1").arg(pwFile),
                      QStringLiteral("mqttBroker=%1").arg(broker.url())},
                     {}, 30000, env())
                  .exitCode,
              0);
    auto p = std::make_unique<QProcess>();
    startCli(*p,
             {QStringLiteral("--store"), store, QStringLiteral("--simulate"),
              dir.filePath(QStringLiteral("fast.vsim")), QStringLiteral("run"), QStringLiteral("--port"),
              QStringLiteral("SIM1"), QStringLiteral("--print"), QStringLiteral("--verbose"),
              QStringLiteral("--log"), csv},
             env());
    Output o;
    EXPECT_TRUE(waitOutput(*p, o, [&] {
        return o.err.contains(QStringLiteral("connected to the broker")) && values(o).size() > 20;
    })) << o.err.toStdString();
    terminate(*p, o);
    const QString xml = dir.filePath(QStringLiteral("export.xml"));
    const CliResult exported =
        runCli({QStringLiteral("--store"), store, QStringLiteral("export"), xml}, {}, 30000, env());
    EXPECT_EQ(exported.exitCode, 0) << exported.err.toStdString();
    const CliResult listed =
        runCli({QStringLiteral("--store"), store, QStringLiteral("settings")}, {}, 30000, env());
    for (const QString& file : {xml, csv, store}) {
        QFile in(file);
        ASSERT_TRUE(in.open(QIODevice::ReadOnly)) << file.toStdString();
        const QByteArray text = in.readAll();
        EXPECT_FALSE(text.isEmpty()) << file.toStdString();
        EXPECT_FALSE(text.contains(secret.toUtf8())) << file.toStdString();
    }
    EXPECT_FALSE(o.err.contains(secret));
    EXPECT_FALSE(o.out.contains(secret));
    EXPECT_FALSE(listed.out.contains(secret));
    EXPECT_TRUE(listed.out.contains(QStringLiteral("mqttUser")));
}

// A station of two instruments (profiles, run --all): one publisher for both, each on its own topic.
class StationPublishCli : public PublishCli {
protected:
    void SetUp() override {
        PublishCli::SetUp();
        if (IsSkipped())
            return;
        QFile script(dir.filePath(QStringLiteral("station.vsim")));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral(
                         "port IDLE\n\nport SIMA\nvalue a 1 step=1\nevery 5ms send \"ST,GS,+  {a} kg\\r\"\n\n"
                         "port SIMB\nvalue b 500000 step=1\nevery 5ms send \"ST,GS,+  {b} kg\\r\"\n\n"
                         "port SIMQ\nrecord \"%1\"\non \"S\\r\\n\" send \"ST,GS,+  1.25 kg\\r\"\n\n"
                         "port SIMR\nrecord \"%2\"\non \"S\\r\\n\" send \"ST,GS,+  2.50 kg\\r\"\n")
                         .arg(dir.filePath(QStringLiteral("q.bin")), dir.filePath(QStringLiteral("r.bin")))
                         .toUtf8());
    }
    QStringList common() const {
        return {QStringLiteral("--store"), dir.filePath(QStringLiteral("prefs-station.txt")),
                QStringLiteral("--simulate"), dir.filePath(QStringLiteral("station.vsim"))};
    }
    void set(const QStringList& args) {
        const CliResult r = runCli(common() + QStringList{QStringLiteral("set")} + args, {}, 30000, env());
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    }
    // Two simulated scales (lines end with CR) as the profiles "Left" and "Right scale".
    void profiles(const QString& left, const QString& right, const QStringList& more = {}) {
        // The first profile (the settings record) on a port of its own that sends nothing.
        set({QStringLiteral("port=IDLE")});
        for (const auto& [name, port] :
             {std::pair{QStringLiteral("Left"), left}, std::pair{QStringLiteral("Right scale"), right}})
            set(QStringList{QStringLiteral("--profile"), name, QStringLiteral("port=%1").arg(port),
                            QStringLiteral("inputTerminator=13"), QStringLiteral("bitRate=7"),
                            QStringLiteral("dataBits=3")} +
                more);
    }
    std::unique_ptr<QProcess> runAll(const QString& broker, const QProcessEnvironment& e) {
        auto p = std::make_unique<QProcess>();
        startCli(*p,
                 common() + QStringList{QStringLiteral("run"), QStringLiteral("--all"),
                                        QStringLiteral("--print"), QStringLiteral("--publish"), broker},
                 e);
        return p;
    }
    // What --print gave for one profile.
    static QStringList printedBy(const Output& o, const QString& who) {
        QStringList v;
        for (const QString& line : values(o))
            if (line.section(u'\t', 0, 0) == who)
                v << line.section(u'\t', 1);
        return v;
    }
};

TEST_F(StationPublishCli, TwoInstrumentsShareOneIdSequenceOnTopicsOfTheirOwnAcrossBrokerRestarts) {
    profiles(QStringLiteral("SIMA"), QStringLiteral("SIMB"));
    set({QStringLiteral("mqttStation=duo")});
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start());
    MqttSubscriber sub(broker.port(), "vornal/#", "station-consumer");
    ASSERT_TRUE(sub.waitSubscribed());
    auto p = runAll(broker.url(), env());
    Output o;
    ASSERT_TRUE(waitOutput(*p, o, [&] { return o.err.contains(QStringLiteral("connected to the broker")); }))
        << o.err.toStdString();
    for (int restart = 0; restart < 2; ++restart) {
        QThread::msleep(600);
        broker.stop();
        QThread::msleep(400);
        ASSERT_TRUE(broker.start());
    }
    QThread::msleep(1200);
    terminate(*p, o);
    EXPECT_EQ(p->exitCode(), 0) << o.err.toStdString();
    // Exactly one publisher: one connection to the broker, no second queue refused.
    EXPECT_FALSE(o.err.contains(QStringLiteral("queue"), Qt::CaseInsensitive) &&
                 o.err.contains(QStringLiteral("in use"), Qt::CaseInsensitive))
        << o.err.toStdString();
    QStringList left = printedBy(o, QStringLiteral("Left")),
                right = printedBy(o, QStringLiteral("Right scale"));
    ASSERT_GT(left.size(), 50) << o.err.toStdString();
    ASSERT_GT(right.size(), 50) << o.err.toStdString();
    if (o.err.contains(QStringLiteral("stay queued"))) {
        // The broker had not acknowledged everything within the stop's wait (a loaded machine): the next
        // start sends those first, then its own readings, in the same id sequence.
        auto again = runAll(broker.url(), env());
        Output o2;
        ASSERT_TRUE(waitOutput(*again, o2, [&] {
            return o2.err.contains(QStringLiteral("connected to the broker"));
        })) << o2.err.toStdString();
        QThread::msleep(1500);
        terminate(*again, o2);
        left += printedBy(o2, QStringLiteral("Left"));
        right += printedBy(o2, QStringLiteral("Right scale"));
        o.err += o2.err;
    }

    // Per topic, first arrivals by id; across both, the ids of the station.
    const std::map<std::string, QString> topics = {
        {"vornal/duo/Left/reading", QStringLiteral("Left")},
        {"vornal/duo/Right_scale/reading", QStringLiteral("Right scale")}};
    std::map<qint64, std::pair<QString, QString>> byId; // id -> (profile, value)
    auto collect = [&] {
        byId.clear();
        for (const auto& m : sub.messages()) {
            if (m.topic.find("/reading") == std::string::npos)
                continue;
            const auto t = topics.find(m.topic);
            if (t == topics.end()) {
                ADD_FAILURE() << "a reading on an unexpected topic: " << m.topic;
                continue;
            }
            const QJsonObject j = QJsonDocument::fromJson(QByteArray::fromStdString(m.payload)).object();
            const std::pair<QString, QString> v{t->second, j[QStringLiteral("value")].toString()};
            const auto [it, added] = byId.emplace(j[QStringLiteral("id")].toInteger(), v);
            if (!added) {
                EXPECT_EQ(it->second, v) << "one id for two readings: " << it->first;
            }
        }
        return qsizetype(byId.size()) >= left.size() + right.size();
    };
    EXPECT_TRUE(waitFor(collect, 20000)) << byId.size() << " of " << left.size() + right.size() << "\n"
                                         << o.err.toStdString();
    ASSERT_FALSE(byId.empty());
    // One sequence without gaps: the ids run from the first to the last by one.
    EXPECT_EQ(byId.rbegin()->first - byId.begin()->first + 1, qint64(byId.size()));
    QStringList gotLeft, gotRight;
    for (const auto& [id, v] : byId)
        (v.first == QStringLiteral("Left") ? gotLeft : gotRight) << v.second;
    EXPECT_EQ(gotLeft, left);
    EXPECT_EQ(gotRight, right);
    EXPECT_GE(o.err.count(QStringLiteral("connected to the broker")), 3) << o.err.toStdString();
}

TEST_F(StationPublishCli, ARequestOnOneInstrumentsTopicReachesOnlyThatInstrument) {
    const QString pwList = dir.filePath(QStringLiteral("passwd"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("mosquitto_passwd"),
                                {QStringLiteral("-c"), QStringLiteral("-b"), pwList, QStringLiteral("duo"),
                                 QStringLiteral("duo-pw")}),
              0);
    MosquittoBroker broker(QStringLiteral("allow_anonymous false\npassword_file %1\n").arg(pwList));
    ASSERT_TRUE(broker.start());
    profiles(QStringLiteral("SIMQ"), QStringLiteral("SIMR"), {QStringLiteral("requestCommand=S<13><10>")});
    set({QStringLiteral("mqttStation=duo"), QStringLiteral("mqttUser=duo"),
         QStringLiteral("mqttRequests=true")});
    QProcessEnvironment e = env();
    e.insert(QStringLiteral("VORNAL_MQTT_PASSWORD"), QStringLiteral("duo-pw"));
    auto p = runAll(broker.url(), e);
    Output o;
    ASSERT_TRUE(waitOutput(*p, o, [&] { return o.err.contains(QStringLiteral("connected to the broker")); }))
        << o.err.toStdString();
    QThread::msleep(300); // the subscriptions made
    auto ask = [&](const char* topic) {
        mosquitto* m = mosquitto_new(nullptr, true, nullptr);
        mosquitto_username_pw_set(m, "duo", "duo-pw");
        ASSERT_EQ(mosquitto_connect(m, "127.0.0.1", broker.port(), 10), MOSQ_ERR_SUCCESS);
        mosquitto_publish(m, nullptr, topic, 1, "1", 1, false);
        for (int i = 0; i < 10; ++i)
            mosquitto_loop(m, 50, 1);
        mosquitto_disconnect(m);
        mosquitto_destroy(m);
    };
    ask("vornal/duo/Right_scale/request");
    EXPECT_TRUE(waitOutput(*p, o, [&] { return !printedBy(o, QStringLiteral("Right scale")).isEmpty(); }))
        << o.out.toStdString() << o.err.toStdString();
    QThread::msleep(300);
    read(*p, o);
    EXPECT_EQ(printedBy(o, QStringLiteral("Right scale")).size(), 1) << o.out.toStdString();
    EXPECT_TRUE(printedBy(o, QStringLiteral("Left")).isEmpty()) << o.out.toStdString();
    EXPECT_FALSE(QFile(dir.filePath(QStringLiteral("q.bin"))).size() > 0);

    ask("vornal/duo/Left/request");
    EXPECT_TRUE(waitOutput(*p, o, [&] { return !printedBy(o, QStringLiteral("Left")).isEmpty(); }))
        << o.out.toStdString() << o.err.toStdString();
    terminate(*p, o);
    EXPECT_EQ(printedBy(o, QStringLiteral("Left")).size(), 1) << o.out.toStdString();
    EXPECT_EQ(printedBy(o, QStringLiteral("Right scale")).size(), 1) << o.out.toStdString();
}

TEST_F(StationPublishCli, TwoProfilesWhoseNamesGiveOneTopicAreRefusedBeforeAnythingStarts) {
    set({QStringLiteral("port=IDLE")});
    set({QStringLiteral("--profile"), QStringLiteral("Left scale"), QStringLiteral("port=SIMA")});
    set({QStringLiteral("--profile"), QStringLiteral("Left_scale"), QStringLiteral("port=SIMB")});
    const CliResult r = runCli(common() + QStringList{QStringLiteral("run"), QStringLiteral("--all"),
                                                      QStringLiteral("--print"), QStringLiteral("--publish"),
                                                      QStringLiteral("mqtt://127.0.0.1:1")},
                               {}, 30000, env());
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("same topic level 'Left_scale'"))) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
}

} // namespace
