// A recording stand-in for the desktop portal's RemoteDesktop interface, on the session bus it is started
// with: answers CreateSession, SelectDevices and Start through Response signals the way the portal does,
// and writes every call and every keysym and key code it receives, one a line, to the file named by the first
// argument. The second argument says how it behaves:
//   grant        allows typing and hands out the restore token "token-1"
//   refuse       the user cancels the question at Start (response 1)
//   close-after=N   closes the session after N keysym events; later events fail like the portal's
//   no-keyboard  offers no keyboard device
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QTimer>

namespace {

// The session object, as the portal exports it while the session stands.
class Session : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Session")
    Q_PROPERTY(uint version READ version)

public:
    uint version() const { return 1; }
};

class Portal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.RemoteDesktop")
    Q_PROPERTY(uint AvailableDeviceTypes READ availableDeviceTypes)
    Q_PROPERTY(uint version READ version)

public:
    Portal(QString log, QString mode) : log_(std::move(log)), mode_(std::move(mode)) {
        if (mode_.startsWith(QStringLiteral("close-after=")))
            closeAfter_ = mode_.mid(12).toInt();
    }
    uint availableDeviceTypes() const { return mode_ == QStringLiteral("no-keyboard") ? 2 : 7; }
    uint version() const { return 2; }
    void write(const QString& line) {
        QFile f(log_);
        if (f.open(QIODevice::Append))
            f.write((line + u'\n').toUtf8());
    }

public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options, const QDBusMessage& msg) {
        write(QStringLiteral("CreateSession session_handle_token=%1")
                  .arg(options.value(QStringLiteral("session_handle_token")).toString()));
        session_ = QStringLiteral("/org/freedesktop/portal/desktop/session/%1/%2")
                       .arg(sender(msg), options.value(QStringLiteral("session_handle_token")).toString());
        QDBusConnection::sessionBus().unregisterObject(session_);
        QDBusConnection::sessionBus().registerObject(session_, &sessionObject_,
                                                     QDBusConnection::ExportAllProperties);
        closed_ = false;
        keys_ = 0;
        return respond(msg, options, 0, {{QStringLiteral("session_handle"), session_}});
    }
    QDBusObjectPath SelectDevices(const QDBusObjectPath& session, const QVariantMap& options,
                                  const QDBusMessage& msg) {
        write(QStringLiteral("SelectDevices session=%1 types=%2 persist_mode=%3 restore_token=%4")
                  .arg(session.path() == session_ ? QStringLiteral("ok") : session.path())
                  .arg(options.value(QStringLiteral("types")).toUInt())
                  .arg(options.value(QStringLiteral("persist_mode")).toUInt())
                  .arg(options.value(QStringLiteral("restore_token")).toString()));
        return respond(msg, options, 0, {});
    }
    QDBusObjectPath Start(const QDBusObjectPath& session, const QString&, const QVariantMap& options,
                          const QDBusMessage& msg) {
        write(QStringLiteral("Start session=%1")
                  .arg(session.path() == session_ ? QStringLiteral("ok") : session.path()));
        if (mode_ == QStringLiteral("refuse"))
            return respond(msg, options, 1, {});
        return respond(msg, options, 0,
                       {{QStringLiteral("devices"), QVariant::fromValue(1u)},
                        {QStringLiteral("restore_token"), QStringLiteral("token-1")}});
    }
    void NotifyKeyboardKeysym(const QDBusObjectPath& session, const QVariantMap&, int keysym, uint state,
                              const QDBusMessage& msg) {
        if (closed_ || session.path() != session_) {
            msg.setDelayedReply(true);
            QDBusConnection::sessionBus().send(
                msg.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotAllowed"),
                                     QStringLiteral("Invalid session")));
            write(QStringLiteral("refused %1 %2").arg(keysym, 0, 16).arg(state));
            return;
        }
        write(QStringLiteral("key %1 %2").arg(keysym, 0, 16).arg(state));
        if (closeAfter_ > 0 && ++keys_ == closeAfter_) {
            closed_ = true;
            QDBusConnection::sessionBus().unregisterObject(session_);
            QDBusConnection::sessionBus().send(QDBusMessage::createSignal(
                session_, QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Closed")));
            write(QStringLiteral("closed"));
        }
    }

    void NotifyKeyboardKeycode(const QDBusObjectPath& session, const QVariantMap& options, int keycode,
                               uint state, const QDBusMessage& msg) {
        if (closed_ || session.path() != session_) {
            msg.setDelayedReply(true);
            QDBusConnection::sessionBus().send(
                msg.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotAllowed"),
                                     QStringLiteral("Invalid session")));
            write(QStringLiteral("refused code %1 %2").arg(keycode).arg(state));
            return;
        }
        (void)options;
        write(QStringLiteral("code %1 %2").arg(keycode).arg(state));
    }

private:
    static QString sender(const QDBusMessage& msg) { return msg.service().mid(1).replace(u'.', u'_'); }
    // The request object's path as the portal makes it, and its Response signal after the reply.
    QDBusObjectPath respond(const QDBusMessage& msg, const QVariantMap& options, uint code,
                            QVariantMap results) {
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                 .arg(sender(msg), options.value(QStringLiteral("handle_token")).toString());
        QTimer::singleShot(20, this, [path, code, results] {
            QDBusMessage signal = QDBusMessage::createSignal(
                path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
            signal << code << results;
            QDBusConnection::sessionBus().send(signal);
        });
        return QDBusObjectPath(path);
    }

    Session sessionObject_;
    QString log_, mode_, session_;
    int closeAfter_ = 0, keys_ = 0;
    bool closed_ = false;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    Portal portal(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) ||
        !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")))
        return 1;
    portal.write(QStringLiteral("ready"));
    return app.exec();
}

#include "RecordingPortal.moc"
