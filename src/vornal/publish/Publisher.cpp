#include "vornal/publish/Publisher.h"

#include "vornal/publish/DiskQueue.h"
#include "vornal/util/MessageFormat.h"
#include "vornal/util/Queued.h"
#include "vornal/util/ResourceBundle.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QPointer>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#if VORNAL_HAVE_MQTT
#include <mosquitto.h>
#endif

namespace vornal::publish {

using config::BrokerUrl;

namespace {
// An event-log text of the worker bundle with its arguments (the window's language).
template <class... Args> QString text(const char* key, const Args&... args) {
    return util::MessageFormat::format(
        util::ResourceBundle::get(QStringLiteral("vornal.worker.WorkerBundle")).getString(QLatin1String(key)),
        args...);
}
} // namespace

// ---- settings ----

QString Publisher::instrumentName(const config::Config& config, const QString& profileName) {
    if (!profileName.isEmpty())
        return BrokerUrl::topicLevel(profileName);
    const auto instrument = config.getInstrument();
    return BrokerUrl::topicLevel(instrument ? instrument->name() : QStringLiteral("custom"));
}

QString Publisher::defaultStation() {
    return BrokerUrl::topicLevel(QHostInfo::localHostName());
}

QString Publisher::passwordStoreFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Halvorn/Vornal/mqtt-password");
}

QString Publisher::queueFileFor(const QString& station) {
    QString name = BrokerUrl::topicLevel(station);
#ifdef Q_OS_WIN
    // Characters a Windows file name cannot hold; a ':' would even write the queue into an alternate
    // data stream of another file. Two running stations that end up with one file are refused by its lock.
    for (QChar& c : name)
        if (QStringView(u"\\:*?\"<>|").contains(c))
            c = u'_';
#endif
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Halvorn/Vornal/mqtt-queue-%1.txt").arg(name);
}

bool Publisher::storePassword(const QString& password, QString* error) {
    const QString path = passwordStoreFile();
    if (password.isEmpty()) {
        if (QFile::exists(path) && !QFile::remove(path)) {
            *error = QStringLiteral("cannot delete %1").arg(QDir::toNativeSeparators(path));
            return false;
        }
        return true;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile out(path);
    // The permissions are set before the password is written: never readable by others, not for a moment.
    if (!out.open(QIODevice::WriteOnly) ||
        !out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        out.write(password.toUtf8()) < 0 || !out.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(path), out.errorString());
        return false;
    }
    return true;
}

std::optional<QString> Publisher::loadPassword(const config::Config& config, QString* error) {
    if (qEnvironmentVariableIsSet("VORNAL_MQTT_PASSWORD"))
        return qEnvironmentVariable("VORNAL_MQTT_PASSWORD");
    const bool named = !config.getMqttPasswordFile().isEmpty();
    const QString path = named ? config.getMqttPasswordFile() : passwordStoreFile();
    QFile in(path);
    if (!in.exists()) {
        if (named)
            *error = QStringLiteral("the password file %1 (setting mqttPasswordFile) does not exist")
                         .arg(QDir::toNativeSeparators(path));
        return std::nullopt;
    }
    if (!QFileInfo(path).isFile() || !in.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the password file %1: %2")
                     .arg(QDir::toNativeSeparators(path), in.errorString());
        return std::nullopt;
    }
    QByteArray text = in.read(4096);
    // One line: a final line break is not part of the password.
    while (text.endsWith('\n') || text.endsWith('\r'))
        text.chop(1);
    return QString::fromUtf8(text);
}

bool Publisher::fromConfig(const config::Config& config, Settings* s, QString* error) {
    const auto url = BrokerUrl::parse(config.getMqttBroker());
    if (!url) {
        *error = config.getMqttBroker().isEmpty()
                     ? QStringLiteral("no broker: set mqttBroker (mqtt://HOST[:PORT] or mqtts://HOST[:PORT])")
                     : QStringLiteral("the broker '%1' is not mqtt://HOST[:PORT] or mqtts://HOST[:PORT]")
                           .arg(config.getMqttBroker());
        return false;
    }
#if !VORNAL_HAVE_MQTT_TLS && VORNAL_HAVE_MQTT
    // Never a plain connection in place of the encrypted one asked for.
    if (url->tls) {
        // The plain counterpart: the TLS port 8883 becomes MQTT's own 1883, another port stays.
        const BrokerUrl plain{url->host, url->port == 8883 ? 1883 : url->port, false};
        *error =
            QStringLiteral("the broker %1 needs TLS, but this build of Vornal has no TLS: use %2 on a "
                           "trusted network, or reach the broker through a TLS tunnel (stunnel) given as "
                           "mqtt://")
                .arg(url->toString(), plain.toString());
        return false;
    }
#endif
    s->broker = *url;
    s->caFile = config.getMqttCaFile();
    s->certFile = config.getMqttCertFile();
    s->keyFile = config.getMqttKeyFile();
    for (const auto& [file, key] :
         {std::pair{s->caFile, "mqttCaFile"}, std::pair{s->certFile, "mqttCertFile"},
          std::pair{s->keyFile, "mqttKeyFile"}}) {
        if (!file.isEmpty() && !QFileInfo(file).isReadable()) {
            *error = QStringLiteral("cannot read %1 (setting %2)")
                         .arg(QDir::toNativeSeparators(file), QLatin1String(key));
            return false;
        }
    }
    if (s->certFile.isEmpty() != s->keyFile.isEmpty()) {
        *error = QStringLiteral("a client certificate needs both mqttCertFile and mqttKeyFile");
        return false;
    }
    if (!url->tls && !(s->caFile.isEmpty() && s->certFile.isEmpty())) {
        *error = QStringLiteral("CA and certificate files need an mqtts:// broker");
        return false;
    }
    s->user = config.getMqttUser();
    QString why;
    s->password = loadPassword(config, &why);
    if (!why.isEmpty()) {
        *error = why;
        return false;
    }
    if (s->password && s->user.isEmpty()) {
        *error = QStringLiteral("a password is set but no user name (setting mqttUser)");
        return false;
    }
    s->station = config.getMqttStation().isEmpty() ? defaultStation() : config.getMqttStation();
    s->prefix = config.getMqttTopicPrefix().isEmpty() ? QStringLiteral("vornal/") + s->station
                                                      : config.getMqttTopicPrefix();
    s->instrument = instrumentName(config);
    s->queueFile = queueFileFor(s->station);
    s->queueMaxBytes = config.getMqttQueueMaxBytes();
    s->requests = config.getMqttRequests();
    return true;
}

QByteArray Publisher::readingJson(quint64 id, const QString& station, const worker::DataLog::Row& row,
                                  int stable) {
    QJsonObject o;
    o.insert(QStringLiteral("id"), QString::number(id).toLongLong());
    o.insert(QStringLiteral("time"), worker::DataLog::isoTime(row.time));
    o.insert(QStringLiteral("station"), station);
    o.insert(QStringLiteral("port"), row.port);
    o.insert(QStringLiteral("instrument"), row.instrument);
    o.insert(QStringLiteral("preset"), row.preset);
    o.insert(QStringLiteral("raw"), row.rawLine);
    o.insert(QStringLiteral("value"), row.value);
    if (stable >= 0)
        o.insert(QStringLiteral("stable"), stable == 1);
    o.insert(QStringLiteral("result"), row.outcome);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QString Publisher::unreachableText(qint64 queued) {
    return text("mqtt.unreachable.0", QString::number(queued));
}

// ---- the connection ----

struct Publisher::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::unique_ptr<DiskQueue> queue;
    std::unique_ptr<QLockFile> lock;
    bool stopping = false;
    std::chrono::steady_clock::time_point stopBy;
    bool connected = false;
    qint64 refused = 0;
    bool fullWarned = false;
    std::thread thread;
    QPointer<Publisher> owner;
};

Publisher::Publisher(Settings settings, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), shared_(std::make_shared<Shared>()) {
    shared_->owner = this;
}

Publisher::~Publisher() {
    stop(0);
}

void Publisher::post(std::function<void(Publisher*)> fn) {
    util::postQueued(this, [this, fn = std::move(fn)] { fn(this); });
}

bool Publisher::connected() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->connected;
}

qint64 Publisher::queued() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->queue ? qint64(shared_->queue->pending().size()) : 0;
}

qint64 Publisher::refused() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->refused;
}

bool Publisher::start(QString* error) {
#if !VORNAL_HAVE_MQTT
    *error = QStringLiteral("this build of Vornal cannot publish to a broker (built without libmosquitto)");
    return false;
#else
    if (shared_->thread.joinable())
        return true;
    QDir().mkpath(QFileInfo(settings_.queueFile).absolutePath());
    // One process per station's queue: two would send each other's messages twice and mix the ids.
    auto lock = std::make_unique<QLockFile>(settings_.queueFile + QStringLiteral(".lock"));
    lock->setStaleLockTime(0);
    bool locked = lock->tryLock(0);
#ifdef Q_OS_WIN
    // Windows gives a process id again soon (wine even the same one to the next program): the id in a
    // lock file left by a killed run can name a running Vornal, this one included. A held lock file is
    // open without delete sharing, so a lock file that can be deleted is held by nobody.
    if (!locked && lock->error() == QLockFile::LockFailedError &&
        QFile::remove(settings_.queueFile + QStringLiteral(".lock")))
        locked = lock->tryLock(0);
#endif
    if (!locked) {
        qint64 pid = 0;
        QString host, app;
        lock->getLockInfo(&pid, &host, &app);
        *error =
            QStringLiteral("the broker queue of station '%1' (%2) is in use by another Vornal (process %3); "
                           "give each running station its own name (setting mqttStation)")
                .arg(settings_.station, QDir::toNativeSeparators(settings_.queueFile))
                .arg(pid);
        return false;
    }
    // A station without a queue's past (first run, or its state folder was cleared) begins its ids at the
    // time in microseconds, so that they never repeat ids a consumer has seen from it before.
    auto queue = std::make_unique<DiskQueue>(settings_.queueFile, settings_.queueMaxBytes,
                                             quint64(QDateTime::currentMSecsSinceEpoch()) * 1000);
    QString why;
    if (!queue->open(&why)) {
        *error = QStringLiteral("cannot use the broker queue: %1").arg(why);
        return false;
    }
    const auto left = qint64(queue->pending().size());
    shared_->queue = std::move(queue);
    shared_->lock = std::move(lock);
    shared_->stopping = false;
    emit logEvent(
        text("mqtt.publishing.0.1.2", settings_.broker.toString(), settings_.station,
             settings_.prefix + QLatin1Char('/') +
                 (settings_.moreInstruments.isEmpty() ? settings_.instrument : QStringLiteral("+")) +
                 QStringLiteral("/reading")),
        false);
    if (left > 0)
        emit logEvent(text("mqtt.left.queued.0", QString::number(left)), false);
    if (settings_.requests &&
        !((!settings_.user.isEmpty() && settings_.password) || !settings_.certFile.isEmpty()))
        emit logEvent(text("mqtt.requests.off"), true);
    else if (settings_.requests)
        emit logEvent(
            text("mqtt.requests.on.0",
                 settings_.prefix + QLatin1Char('/') +
                     (settings_.moreInstruments.isEmpty() ? settings_.instrument : QStringLiteral("+")) +
                     QStringLiteral("/request")),
            false);
    shared_->thread = std::thread([this] { run(); });
    return true;
#endif
}

void Publisher::stop(int waitMs) {
    if (!shared_->thread.joinable())
        return;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
        shared_->stopBy = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    }
    shared_->wake.notify_all();
    shared_->thread.join();
    std::lock_guard lock(shared_->mutex);
    const auto left = shared_->queue ? shared_->queue->pending().size() : 0;
    if (left > 0)
        emit logEvent(text("mqtt.stay.queued.0", QString::number(left)), true);
    if (shared_->refused > 0)
        emit logEvent(text("mqtt.not.queued.0", QString::number(shared_->refused)), true);
    shared_->refused = 0;
    shared_->queue.reset();
    shared_->lock.reset();
    shared_->connected = false;
}

bool Publisher::publish(const worker::DataLog::Row& row, int stable) {
    return publishFor(settings_.instrument, row, stable);
}

bool Publisher::publishFor(const QString& instrument, const worker::DataLog::Row& row, int stable) {
    const QByteArray topic =
        (settings_.prefix + QLatin1Char('/') + instrument + QStringLiteral("/reading")).toUtf8();
    DiskQueue::Added added = DiskQueue::Added::Failed;
    QString why;
    qint64 refused = 0;
    bool warnFull = false, warnRoom = false;
    {
        std::lock_guard lock(shared_->mutex);
        if (!shared_->queue)
            return false;
        quint64 id = 0;
        DiskQueue& q = *shared_->queue;
        added = q.add(topic, readingJson(q.nextId(), settings_.station, row, stable), &id, &why);
        if (added == DiskQueue::Added::Full) {
            refused = ++shared_->refused;
            warnFull = !shared_->fullWarned;
            shared_->fullWarned = true;
        } else if (added == DiskQueue::Added::Queued && shared_->fullWarned) {
            shared_->fullWarned = false;
            warnRoom = true;
            refused = shared_->refused;
        }
    }
    shared_->wake.notify_all();
    if (warnFull)
        emit logEvent(text("mqtt.queue.full.0", QString::number(settings_.queueMaxBytes)), true);
    if (warnRoom)
        emit logEvent(text("mqtt.queue.room.0", QString::number(refused)), true);
    if (added == DiskQueue::Added::Failed)
        emit logEvent(text("mqtt.not.queued.reading.0", why), true);
    return added == DiskQueue::Added::Queued;
}

#if !VORNAL_HAVE_MQTT
void Publisher::run() {}
#else
namespace {
std::once_flag g_libInit;

// What the loop thread keeps of one connection attempt; the callbacks write it.
struct Session {
    mosquitto* mosq = nullptr;
    bool connected = false;
    bool ended = false;   // lost or refused: the client is made anew
    int connackCode = -1; // the broker's answer, -1 none yet
    bool authenticated = false;
    std::map<int, quint64> inflight; // message id of the client -> queue id
    std::set<quint64> acked;         // acknowledged, not yet at the front
    quint64 lastSent = 0;
    std::vector<std::pair<QByteArray, QString>> requestTopics; // topic -> instrument
    bool subscribe = false;                                    // to the request topics
    std::vector<QString> requests; // the instruments of requests taken from the broker, not yet handed on
};

QString reasonOf(int rc) {
    if (rc == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString::fromUtf8(mosquitto_strerror(rc));
}
} // namespace

void Publisher::run() {
    std::call_once(g_libInit, [] { mosquitto_lib_init(); });
    Shared& sh = *shared_;
    const Settings& st = settings_;
    const QByteArray statusTopic = (st.prefix + QStringLiteral("/status")).toUtf8();
    const QByteArray clientId = QStringLiteral("vornal-%1").arg(st.station).toUtf8().left(200);
    const QByteArray host = st.broker.host.toUtf8();
    const QByteArray user = st.user.toUtf8();
    const QByteArray password = st.password ? st.password->toUtf8() : QByteArray();
    const QByteArray ca = QFile::encodeName(st.caFile), cert = QFile::encodeName(st.certFile),
                     key = QFile::encodeName(st.keyFile);
    // Requests only over a connection the broker authenticated: a user with a password, or a client
    // certificate.
    const bool authenticated = (!st.user.isEmpty() && st.password) || !st.certFile.isEmpty();
    constexpr int WINDOW = 100;
    int pause = 100;
    QString lastReason;
    bool wasConnected = false;
    auto lastStatus = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    qint64 lastStatusCount = -1;

    auto tellStatus = [&](bool force) {
        qint64 n;
        bool connected;
        {
            std::lock_guard lock(sh.mutex);
            n = qint64(sh.queue->pending().size());
            connected = sh.connected;
        }
        if (connected)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (!force && (n == lastStatusCount || now - lastStatus < std::chrono::milliseconds(500)))
            return;
        lastStatus = now;
        lastStatusCount = n;
        post([n](Publisher* p) { emit p->brokerStatus(false, n); });
    };
    auto tellLost = [&](const QString& reason) {
        {
            std::lock_guard lock(sh.mutex);
            sh.connected = false;
        }
        if (wasConnected || reason != lastReason) {
            const QString said = text("mqtt.broker.0.1", st.broker.toString(), reason);
            post([said](Publisher* p) {
                emit p->logEvent(said, true);
                emit p->connectedChanged(false);
            });
        }
        wasConnected = false;
        lastReason = reason;
        tellStatus(true);
    };

    while (true) {
        {
            std::unique_lock lock(sh.mutex);
            if (sh.stopping)
                break;
        }
        Session s;
        s.authenticated = authenticated;
        for (const QString& instrument : QStringList{st.instrument} + st.moreInstruments)
            s.requestTopics.emplace_back(
                (st.prefix + QLatin1Char('/') + instrument + QStringLiteral("/request")).toUtf8(),
                instrument);
        s.mosq = mosquitto_new(clientId.constData(), true, &s);
        if (!s.mosq) {
            tellLost(QStringLiteral("cannot make a client: out of memory"));
            break;
        }
        mosquitto_int_option(s.mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_max_inflight_messages_set(s.mosq, WINDOW);
        mosquitto_will_set(s.mosq, statusTopic.constData(), 7, "offline", 1, true);
        if (!user.isEmpty())
            mosquitto_username_pw_set(s.mosq, user.constData(), st.password ? password.constData() : nullptr);
        QString setupError;
#if VORNAL_HAVE_MQTT_TLS
        if (st.broker.tls) {
            // Without a CA file: the system's CA store (which also turns TLS on).
            int rc = st.caFile.isEmpty() ? mosquitto_int_option(s.mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1)
                                         : MOSQ_ERR_SUCCESS;
            // A client certificate is given together with a CA file or folder.
            if (rc == MOSQ_ERR_SUCCESS && (!st.caFile.isEmpty() || !st.certFile.isEmpty()))
                rc = mosquitto_tls_set(s.mosq, st.caFile.isEmpty() ? nullptr : ca.constData(),
                                       st.caFile.isEmpty() ? "/etc/ssl/certs" : nullptr,
                                       st.certFile.isEmpty() ? nullptr : cert.constData(),
                                       st.keyFile.isEmpty() ? nullptr : key.constData(), nullptr);
            if (rc != MOSQ_ERR_SUCCESS)
                setupError =
                    QStringLiteral("TLS set-up failed: %1 (check mqttCaFile, mqttCertFile, mqttKeyFile)")
                        .arg(reasonOf(rc));
        }
#endif
        mosquitto_connect_callback_set(s.mosq, [](mosquitto* m, void* obj, int rc) {
            auto* s = static_cast<Session*>(obj);
            s->connackCode = rc;
            if (rc != 0) {
                s->ended = true;
                return;
            }
            s->connected = true;
            if (s->subscribe)
                for (const auto& [topic, instrument] : s->requestTopics)
                    mosquitto_subscribe(m, nullptr, topic.constData(), 1);
        });
        mosquitto_disconnect_callback_set(s.mosq, [](mosquitto*, void* obj, int) {
            auto* s = static_cast<Session*>(obj);
            s->connected = false;
            s->ended = true;
        });
        mosquitto_publish_callback_set(s.mosq, [](mosquitto*, void* obj, int mid) {
            auto* s = static_cast<Session*>(obj);
            const auto it = s->inflight.find(mid);
            if (it == s->inflight.end())
                return;
            if (it->second)
                s->acked.insert(it->second);
            s->inflight.erase(it);
        });
        s.subscribe = st.requests && authenticated;
        if (s.subscribe)
            mosquitto_message_callback_set(s.mosq, [](mosquitto*, void* obj, const mosquitto_message* msg) {
                auto* s = static_cast<Session*>(obj);
                if (!msg || !msg->topic)
                    return;
                for (const auto& [topic, instrument] : s->requestTopics)
                    if (topic == msg->topic)
                        s->requests.push_back(instrument);
            });

        int rc = setupError.isEmpty()
                     ? mosquitto_connect_async(s.mosq, host.constData(), st.broker.port, st.keepAliveSeconds)
                     : MOSQ_ERR_TLS;
        QString reason = setupError;
        if (rc != MOSQ_ERR_SUCCESS && reason.isEmpty())
            reason = QStringLiteral("cannot connect: %1").arg(reasonOf(rc));
        const auto attemptStart = std::chrono::steady_clock::now();
        bool announced = false;
        while (rc == MOSQ_ERR_SUCCESS && !s.ended) {
            rc = mosquitto_loop(s.mosq, 20, 1);
            if (rc != MOSQ_ERR_SUCCESS) {
                if (s.connackCode > 0)
                    reason =
                        text("mqtt.refused.0", QString::fromUtf8(mosquitto_connack_string(s.connackCode)));
                else if (rc == MOSQ_ERR_TLS)
                    reason = text("mqtt.tls.failed");
                else if (rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_NO_CONN)
                    reason = s.connected || announced ? text("mqtt.connection.lost")
                                                      : text("mqtt.connection.closed");
                else
                    reason = text("mqtt.connection.failed.0", reasonOf(rc));
                break;
            }
            if (s.connackCode > 0) {
                reason = text("mqtt.refused.0", QString::fromUtf8(mosquitto_connack_string(s.connackCode)));
                break;
            }
            if (!s.connected) {
                if (!announced &&
                    std::chrono::steady_clock::now() - attemptStart > std::chrono::seconds(10)) {
                    reason = text("mqtt.no.answer");
                    break;
                }
                {
                    std::lock_guard lock(sh.mutex);
                    if (sh.stopping)
                        break;
                }
                if (!lastReason.isEmpty())
                    tellStatus(false);
                continue;
            }
            if (!announced) {
                announced = true;
                pause = 100;
                mosquitto_publish(s.mosq, nullptr, statusTopic.constData(), 6, "online", 1, true);
                {
                    std::lock_guard lock(sh.mutex);
                    sh.connected = true;
                    s.lastSent = sh.queue->lastAcknowledged();
                }
                wasConnected = true;
                lastReason.clear();
                const QString said = text("mqtt.connected.0", st.broker.toString());
                post([said](Publisher* p) {
                    emit p->logEvent(said, false);
                    emit p->connectedChanged(true);
                    emit p->brokerStatus(true, 0);
                });
            }
            // A request taken from the broker.
            for (const QString& instrument : std::exchange(s.requests, {}))
                post([instrument](Publisher* p) { emit p->requestReceived(instrument); });
            // Acknowledged messages leave the queue, in order; then the next ones go out.
            std::vector<DiskQueue::Message> toSend;
            QString ackError;
            bool done = false;
            {
                std::lock_guard lock(sh.mutex);
                DiskQueue& q = *sh.queue;
                quint64 upTo = 0;
                for (const auto& m : q.pending()) {
                    if (!s.acked.count(m.id))
                        break;
                    upTo = m.id;
                }
                if (upTo) {
                    s.acked.erase(s.acked.begin(), s.acked.upper_bound(upTo));
                    if (!q.acknowledge(upTo, &ackError) && ackError.isEmpty())
                        ackError = QStringLiteral("unknown error");
                }
                const int room = WINDOW - int(s.inflight.size());
                for (const auto& m : q.pending()) {
                    if (int(toSend.size()) >= room)
                        break;
                    if (m.id > s.lastSent)
                        toSend.push_back(m);
                }
                done = sh.stopping && (q.pending().empty() || std::chrono::steady_clock::now() >= sh.stopBy);
            }
            if (!ackError.isEmpty())
                post([ackError](Publisher* p) {
                    emit p->logEvent(text("mqtt.delivery.not.recorded.0", ackError), true);
                });
            for (const auto& m : toSend) {
                int mid = 0;
                const int prc = mosquitto_publish(s.mosq, &mid, m.topic.constData(), int(m.payload.size()),
                                                  m.payload.constData(), 1, false);
                if (prc != MOSQ_ERR_SUCCESS)
                    break;
                s.inflight[mid] = m.id;
                s.lastSent = m.id;
            }
            if (done) {
                mosquitto_publish(s.mosq, nullptr, statusTopic.constData(), 7, "offline", 1, true);
                mosquitto_disconnect(s.mosq);
                for (int i = 0; i < 10 && mosquitto_loop(s.mosq, 20, 1) == MOSQ_ERR_SUCCESS; ++i) {
                }
                break;
            }
        }
        if (s.connackCode > 0)
            reason = text("mqtt.refused.0", QString::fromUtf8(mosquitto_connack_string(s.connackCode)));
        const bool stopping = [&] {
            std::lock_guard lock(sh.mutex);
            return sh.stopping;
        }();
        mosquitto_destroy(s.mosq);
        if (stopping)
            break;
        if (reason.isEmpty())
            reason = text("mqtt.connection.lost");
        tellLost(reason);
        // Tried again soon, then less often: 100 ms doubling up to 2 s, at once when stopping.
        std::unique_lock lock(sh.mutex);
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(pause);
        while (!sh.stopping && std::chrono::steady_clock::now() < until) {
            sh.wake.wait_until(lock, until);
            lock.unlock();
            tellStatus(false);
            lock.lock();
        }
        pause = std::min(pause * 2, 2000);
    }
    std::lock_guard lock(sh.mutex);
    sh.connected = false;
}
#endif

} // namespace vornal::publish
