#pragma once
// A real MQTT broker for tests: mosquitto on a free loopback port with a configuration of the test's
// own (persistence in its folder, so that messages queued for a subscriber survive a restart), and a
// subscriber made with libmosquitto that keeps its session across broker restarts. Tests skip when
// mosquitto is not installed (Debian: mosquitto).

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <mosquitto.h>

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace vornal::test {

inline QString mosquittoPath() {
    return QStandardPaths::findExecutable(QStringLiteral("mosquitto"),
                                          {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
}

// A loopback port nobody listens on right now.
inline int freeLoopbackPort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

class MosquittoBroker {
public:
    // `extra`: more lines for the listener (password_file, TLS files, ...).
    explicit MosquittoBroker(QString extra = {}) : extra_(std::move(extra)) { port_ = freeLoopbackPort(); }
    ~MosquittoBroker() { stop(); }

    int port() const { return port_; }
    QString folder() const { return dir_.path(); }
    QString url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(port_); }

    bool start() {
        QFile conf(dir_.filePath(QStringLiteral("mosquitto.conf")));
        if (!conf.open(QIODevice::WriteOnly))
            return false;
        QString text = QStringLiteral("listener %1 127.0.0.1\n").arg(port_) + extra_ +
                       QStringLiteral("\npersistence true\npersistence_location %1/\nmax_queued_messages 0\n"
                                      "log_dest stderr\nlog_type error\n")
                           .arg(dir_.path());
        if (!extra_.contains(QStringLiteral("allow_anonymous")))
            text += QStringLiteral("allow_anonymous true\n");
#ifdef Q_OS_UNIX
        if (::getuid() == 0)
            text += QStringLiteral("user root\n"); // else it changes to the user "mosquitto"
#endif
        conf.write(text.toUtf8());
        conf.close();
        proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc_.start(mosquittoPath(), {QStringLiteral("-c"), conf.fileName()});
        if (!proc_.waitForStarted())
            return false;
        // Up once it takes connections.
        for (int i = 0; i < 200; ++i) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, quint16(port_));
            if (s.waitForConnected(100))
                return true;
            if (proc_.state() != QProcess::Running)
                return false;
            QThread::msleep(20);
        }
        return false;
    }
    // SIGTERM: mosquitto saves its state (the sessions and their queued messages) and ends.
    void stop() {
        if (proc_.state() == QProcess::NotRunning)
            return;
        proc_.terminate();
        if (!proc_.waitForFinished(10000)) {
            proc_.kill();
            proc_.waitForFinished();
        }
    }

private:
    QTemporaryDir dir_;
    QString extra_;
    int port_ = 0;
    QProcess proc_;
};

// A subscriber on its own libmosquitto thread, reconnecting by itself; with `persistent` the broker
// keeps its subscription and queues its messages while it is away (and across restarts).
class MqttSubscriber {
public:
    struct Message {
        std::string topic;
        std::string payload;
        bool retained = false;
    };

    MqttSubscriber(int port, const std::string& topic, const std::string& clientId, bool persistent = true)
        : topic_(topic) {
        static std::once_flag init;
        std::call_once(init, [] { mosquitto_lib_init(); });
        m_ = mosquitto_new(clientId.c_str(), !persistent, this);
        mosquitto_reconnect_delay_set(m_, 1, 1, false);
        mosquitto_connect_callback_set(m_, [](mosquitto* m, void* obj, int rc) {
            auto* self = static_cast<MqttSubscriber*>(obj);
            if (rc == 0)
                mosquitto_subscribe(m, nullptr, self->topic_.c_str(), 1);
        });
        mosquitto_subscribe_callback_set(m_, [](mosquitto*, void* obj, int, int, const int*) {
            auto* self = static_cast<MqttSubscriber*>(obj);
            std::lock_guard lock(self->mutex_);
            self->subscribed_ = true;
        });
        mosquitto_message_callback_set(m_, [](mosquitto*, void* obj, const mosquitto_message* msg) {
            auto* self = static_cast<MqttSubscriber*>(obj);
            std::lock_guard lock(self->mutex_);
            self->messages_.push_back(
                {msg->topic,
                 std::string(static_cast<const char*>(msg->payload), std::size_t(msg->payloadlen)),
                 msg->retain});
        });
        mosquitto_connect(m_, "127.0.0.1", port, 30);
        mosquitto_loop_start(m_);
    }
    ~MqttSubscriber() {
        mosquitto_disconnect(m_);
        mosquitto_loop_stop(m_, true);
        mosquitto_destroy(m_);
    }
    bool waitSubscribed(int ms = 5000) {
        for (int i = 0; i < ms / 10; ++i) {
            {
                std::lock_guard lock(mutex_);
                if (subscribed_)
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    std::vector<Message> messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    std::size_t count() {
        std::lock_guard lock(mutex_);
        return messages_.size();
    }
    // Publishes one message (QoS 1).
    void publish(const std::string& topic, const std::string& payload) {
        mosquitto_publish(m_, nullptr, topic.c_str(), int(payload.size()), payload.data(), 1, false);
    }

private:
    mosquitto* m_ = nullptr;
    std::string topic_;
    std::mutex mutex_;
    bool subscribed_ = false;
    std::vector<Message> messages_;
};

} // namespace vornal::test
