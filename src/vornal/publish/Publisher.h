#pragma once

#include "vornal/config/BrokerUrl.h"
#include "vornal/config/Config.h"
#include "vornal/worker/DataLog.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace vornal::publish {

class DiskQueue;

// Readings to an MQTT broker. Each reading becomes one JSON message on "PREFIX/INSTRUMENT/reading"
// (QoS 1), "PREFIX/status" holds "online" (retained) and the broker's last will sets it to "offline".
// Every message first goes to the on-disk queue (DiskQueue) and leaves it only when the broker
// acknowledged it (PUBACK), so a broker that is down, a lost network, a crash or a SIGKILL loses nothing
// queued: the messages are sent in order once the broker is back, also by the next run. At least once:
// a consumer drops the repeats by the message id, which grows by one per message of the station.
//
// The connection to the broker lives on a thread of its own (libmosquitto's loop; connects and TLS
// handshakes never wait on the caller's thread); publish() only appends to the queue. The signals arrive
// on the thread that made the publisher.
class Publisher : public QObject {
    Q_OBJECT
public:
    struct Settings {
        config::BrokerUrl broker;
        QString caFile, certFile, keyFile;
        QString user;
        std::optional<QString> password;
        QString station;
        QString prefix;     // the topic prefix, without a trailing '/'
        QString instrument; // the topic level of the instrument (instrumentName)
        // Further instruments of a station sharing this publisher (one queue, one id sequence): their
        // topic levels, whose request topics are taken as well.
        QStringList moreInstruments;
        QString queueFile;
        qint64 queueMaxBytes = 64 * 1024 * 1024;
        bool requests = false;     // take requests from PREFIX/INSTRUMENT/request
        int keepAliveSeconds = 30; // also how soon the broker notices a station gone (last will)
    };

    // The settings from the record; false with a message naming the setting when one is unusable (the
    // broker not set, a password file that cannot be read, ...).
    static bool fromConfig(const config::Config& config, Settings* settings, QString* error);
    // The topic level of a connection's instrument: its profile's name when it has one, else the preset's
    // constant name ("custom" for a custom expression), topic-safe. The one place that chooses the name
    // readings are published under.
    static QString instrumentName(const config::Config& config, const QString& profileName = QString());
    // The station's default name: the host name, topic-safe.
    static QString defaultStation();
    // The per-user password file (mode 0600; on Windows in %LOCALAPPDATA%, which only the user, the
    // administrators and the system can open), and the file where a station's queue is kept.
    static QString passwordStoreFile();
    static QString queueFileFor(const QString& station);
    // Writes the password to the per-user file, readable only by the user ("" deletes the file).
    static bool storePassword(const QString& password, QString* error);
    // The password: the environment variable VORNAL_MQTT_PASSWORD, else the file the setting
    // mqttPasswordFile names, else the per-user file; none when there is none (an error when a named file
    // cannot be read).
    static std::optional<QString> loadPassword(const config::Config& config, QString* error);

    // The JSON of one reading: {"id", "time", "station", "port", "instrument", "preset", "raw", "value",
    // "stable" (only where known), "result"}.
    static QByteArray readingJson(quint64 id, const QString& station, const worker::DataLog::Row& row,
                                  int stable);
    // "broker unreachable, 3 readings queued".
    static QString unreachableText(qint64 queued);

    explicit Publisher(Settings settings, QObject* parent = nullptr);
    ~Publisher() override;

    // Opens the queue (what a previous run left is sent first) and starts the connection. False with the
    // reason when the queue cannot be used.
    bool start(QString* error);
    // Waits up to `waitMs` for the queued messages to be acknowledged, marks the station offline and
    // disconnects. What is left stays queued for the next run.
    void stop(int waitMs = 2000);

    // Queues one reading. False when it could not be queued (full queue, the file could not be
    // written); that is logged.
    bool publish(const worker::DataLog::Row& row, int stable);
    // The same for one instrument of a station (a topic level from instrumentName).
    bool publishFor(const QString& instrument, const worker::DataLog::Row& row, int stable);

    const Settings& settings() const { return settings_; }
    bool connected() const;
    qint64 queued() const;
    // Readings refused because the queue was full, since the start.
    qint64 refused() const;

signals:
    void logEvent(const QString& text, bool important);
    // The broker took the connection (true), or it is lost or refused (false).
    void connectedChanged(bool connected);
    // While not connected: false with the readings queued, as their number changes (at most every
    // 500 ms; the text is unreachableText); true once connected.
    void brokerStatus(bool reachable, qint64 queued);
    // A request came from the broker for the instrument of that topic level (only with requests on and
    // an authenticated connection).
    void requestReceived(const QString& instrument);

private:
    struct Shared;
    void run();
    void post(std::function<void(Publisher*)> fn);

    Settings settings_;
    std::shared_ptr<Shared> shared_;
};

} // namespace vornal::publish
