#include "PortalInjector.h"

#include "../ChordDecoder.h"
#include "../Keysyms.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>

#include <map>
#include <mutex>

namespace vornal::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kRemoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
constexpr unsigned kKeyboard = 1; // device type bit
constexpr unsigned kPersistUntilRevoked = 2;
constexpr int kCallTimeoutMs = 10000;
// The desktop asks the user before Start answers: time to read and decide.
constexpr int kQuestionTimeoutMs = 180000;

QString tokenFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/vornal/remote-desktop-restore-token");
}

QString storedToken() {
    QFile f(tokenFile());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).trimmed() : QString();
}

void storeToken(const QString& token) {
    QDir().mkpath(QFileInfo(tokenFile()).path());
    QSaveFile f(tokenFile());
    if (f.open(QIODevice::WriteOnly)) {
        f.write(token.toUtf8());
        f.commit();
    }
}

// Waits for the Response signal of one portal request.
class ResponseWaiter : public QObject {
    Q_OBJECT
public:
    bool done = false;
    uint response = 2;
    QVariantMap results;
    QEventLoop loop;

public slots:
    void onResponse(uint code, const QVariantMap& values) {
        done = true;
        response = code;
        results = values;
        loop.quit();
    }
};

// The remote-desktop session the user allowed: kept for the program's run, so that starting a
// connection again does not ask again. Ended by the desktop: `lost` says why, and the next connection
// opens a new session.
struct PortalSession {
    PortalSession(QDBusConnection b, QDBusObjectPath p) : bus(std::move(b)), path(std::move(p)) {}
    QDBusConnection bus;
    QDBusObjectPath path;
    std::mutex mutex;
    std::string lost;
};

std::mutex sessionMutex;
std::shared_ptr<PortalSession> currentSession;

} // namespace

class PortalInjector : public KeyInjector {
public:
    PortalInjector(std::shared_ptr<PortalSession> session, const CharChords& layout)
        : session_(std::move(session)), decoder_(layout) {}
    ~PortalInjector() override {
        // Nothing may stay pressed; the session itself stays open for the next connection.
        std::lock_guard lock(mutex_);
        try {
            while (!down_.empty())
                take(down_.begin()->first);
        } catch (const std::exception&) {
        }
    }

    // The desktop maps keysyms to its own layout; Caps Lock is its concern.
    std::optional<bool> capsLockOn() override { return false; }
    std::string name() const override { return "desktop portal (RemoteDesktop)"; }

protected:
    void pressKey(int code) override {
        std::lock_guard lock(mutex_);
        switch (decoder_.press(code)) {
        case ChordDecoder::Press::Key:
            break;
        case ChordDecoder::Press::DroppedSpace:
            down_[code] = {};
            return;
        default:
            return;
        }
        if (down_.count(code))
            take(code);
        const auto m = decoder_.decode(code);
        std::vector<std::uint32_t> keysyms;
        switch (m.kind) {
        case ChordDecoder::Meaning::Kind::DeadCharacter:
            decoder_.dropNextSpace(); // the character itself: no SPACE to complete an accent
            [[fallthrough]];
        case ChordDecoder::Meaning::Kind::Character:
            keysyms.push_back(keysymOfChar(m.ch));
            break;
        case ChordDecoder::Meaning::Kind::Key:
            for (int mod : m.modifiers)
                keysyms.push_back(keysymOfKey(mod));
            keysyms.push_back(keysymOfKey(code));
            break;
        }
        down_[code] = keysyms; // noted first: a failed press is still released
        for (std::uint32_t ks : keysyms)
            send(ks, true);
    }

    void releaseKey(int code) override {
        std::lock_guard lock(mutex_);
        if (isModifierCode(code)) {
            if (const auto value = decoder_.modifierUp(code)) {
                const std::uint32_t ks = keysymOfChar(static_cast<char32_t>(*value));
                send(ks, true);
                send(ks, false);
            }
            return;
        }
        if (numpadDigit(code) && !down_.count(code))
            return; // a collected ALT digit
        take(code);
    }

    void typeChar(char32_t ch) override {
        std::lock_guard lock(mutex_);
        decoder_.keepNextSpace();
        send(keysymOfChar(ch), true);
        send(keysymOfChar(ch), false);
    }

private:
    void take(int code) {
        auto it = down_.find(code);
        if (it == down_.end())
            return;
        const std::vector<std::uint32_t> keysyms = std::move(it->second);
        down_.erase(it);
        for (auto ks = keysyms.rbegin(); ks != keysyms.rend(); ++ks)
            send(*ks, false);
    }

    void send(std::uint32_t keysym, bool press) {
        std::lock_guard lock(session_->mutex);
        if (!session_->lost.empty())
            throw KeyInjectorLost(session_->lost);
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kRemoteDesktop,
                                                           QStringLiteral("NotifyKeyboardKeysym"));
        call << QVariant::fromValue(session_->path) << QVariantMap() << static_cast<int>(keysym)
             << static_cast<uint>(press ? 1 : 0);
        const QDBusMessage reply = session_->bus.call(call, QDBus::Block, kCallTimeoutMs);
        if (reply.type() == QDBusMessage::ErrorMessage) {
            session_->lost = "the desktop ended the remote-desktop session (" +
                             reply.errorMessage().toStdString() +
                             "): keys can no longer be typed; start the connection again and allow typing "
                             "when the desktop asks";
            {
                std::lock_guard current(sessionMutex);
                if (currentSession == session_)
                    currentSession.reset();
            }
            throw KeyInjectorLost(session_->lost);
        }
    }

    std::shared_ptr<PortalSession> session_;
    ChordDecoder decoder_;
    std::map<int, std::vector<std::uint32_t>> down_;
    std::mutex mutex_;
};

namespace {

// One request of the portal: the call, then its Response signal on the request object.
class Requester {
public:
    explicit Requester(QDBusConnection bus) : bus_(std::move(bus)) {
        sender_ = bus_.baseService().mid(1).replace(u'.', u'_');
    }

    // Calls `method` with `args` (the options map last, which gets the handle token) and waits for the
    // Response. Empty on success, else why not.
    QString request(const QString& method, QList<QVariant> args, int timeoutMs, uint* response,
                    QVariantMap* results) {
        const QString token =
            QStringLiteral("vornal%1").arg(QRandomGenerator::global()->generate() & 0xFFFFFF);
        QVariantMap options = args.takeLast().toMap();
        options.insert(QStringLiteral("handle_token"), token);
        args.append(options);
        ResponseWaiter waiter;
        QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender_, token);
        bus_.connect(kService, path, kRequest, QStringLiteral("Response"), &waiter,
                     SLOT(onResponse(uint, QVariantMap)));
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kRemoteDesktop, method);
        call.setArguments(args);
        const QDBusMessage reply = bus_.call(call, QDBus::Block, kCallTimeoutMs);
        if (reply.type() == QDBusMessage::ErrorMessage)
            return QStringLiteral("%1 failed: %2").arg(method, reply.errorMessage());
        const QString handle = reply.arguments().value(0).value<QDBusObjectPath>().path();
        if (!handle.isEmpty() && handle != path) // an older portal with its own request path
            bus_.connect(kService, handle, kRequest, QStringLiteral("Response"), &waiter,
                         SLOT(onResponse(uint, QVariantMap)));
        if (!waiter.done) {
            QTimer::singleShot(timeoutMs, &waiter.loop, &QEventLoop::quit);
            waiter.loop.exec();
        }
        if (!waiter.done)
            return QStringLiteral("the desktop did not answer %1 within %2 s")
                .arg(method)
                .arg(timeoutMs / 1000);
        *response = waiter.response;
        *results = waiter.results;
        return {};
    }

private:
    QDBusConnection bus_;
    QString sender_;
};

} // namespace

std::unique_ptr<KeyInjector> openPortalInjector(const CharChords& layout, std::string* whyNot) {
    auto fail = [&](const QString& why) -> std::unique_ptr<KeyInjector> {
        if (whyNot)
            *whyNot = why.toStdString();
        return nullptr;
    };
    {
        std::lock_guard lock(sessionMutex);
        if (currentSession)
            return std::make_unique<PortalInjector>(currentSession, layout);
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return fail(QStringLiteral("no D-Bus session bus (DBUS_SESSION_BUS_ADDRESS)"));
    auto property = [&](const char* name) {
        QDBusMessage get = QDBusMessage::createMethodCall(
            kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << kRemoteDesktop << QString::fromLatin1(name);
        const QDBusMessage reply = bus.call(get, QDBus::Block, kCallTimeoutMs);
        return reply.type() == QDBusMessage::ReplyMessage
                   ? std::optional<uint>(reply.arguments().value(0).value<QDBusVariant>().variant().toUInt())
                   : std::nullopt;
    };
    const auto devices = property("AvailableDeviceTypes");
    if (!devices)
        return fail(QStringLiteral(
            "the desktop offers no remote-desktop portal (org.freedesktop.portal.RemoteDesktop)"));
    if (!(*devices & kKeyboard))
        return fail(QStringLiteral("the desktop's remote-desktop portal offers no keyboard"));
    const uint version = property("version").value_or(1);

    Requester requester(bus);
    uint response = 0;
    QVariantMap results;
    // 1. A session.
    QVariantMap options{{QStringLiteral("session_handle_token"), QStringLiteral("vornal")}};
    QString error =
        requester.request(QStringLiteral("CreateSession"), {options}, kCallTimeoutMs, &response, &results);
    if (!error.isEmpty())
        return fail(error);
    if (response != 0)
        return fail(QStringLiteral("the desktop refused a remote-desktop session"));
    const QDBusObjectPath session(results.value(QStringLiteral("session_handle")).toString());
    if (session.path().isEmpty())
        return fail(QStringLiteral("the desktop's portal gave no session"));
    // 2. The keyboard; kept until revoked where the portal can, with the token of the last run.
    options = {{QStringLiteral("types"), QVariant::fromValue(kKeyboard)}};
    if (version >= 2) {
        options.insert(QStringLiteral("persist_mode"), QVariant::fromValue(kPersistUntilRevoked));
        const QString token = storedToken();
        if (!token.isEmpty())
            options.insert(QStringLiteral("restore_token"), token);
    }
    error = requester.request(QStringLiteral("SelectDevices"), {QVariant::fromValue(session), options},
                              kCallTimeoutMs, &response, &results);
    if (!error.isEmpty())
        return fail(error);
    if (response != 0)
        return fail(QStringLiteral("the desktop refused the keyboard of a remote-desktop session"));
    // 3. Start: the desktop asks the user (unless the restore token stands for an earlier yes).
    error =
        requester.request(QStringLiteral("Start"), {QVariant::fromValue(session), QString(), QVariantMap()},
                          kQuestionTimeoutMs, &response, &results);
    if (!error.isEmpty())
        return fail(error);
    if (response == 1)
        return fail(
            QStringLiteral("typing was not allowed when the desktop asked: start the connection again and "
                           "allow Vornal to control the keyboard"));
    if (response != 0)
        return fail(QStringLiteral("the desktop ended the remote-desktop request"));
    if (!(results.value(QStringLiteral("devices")).toUInt() & kKeyboard))
        return fail(QStringLiteral("the desktop allowed a remote-desktop session without the keyboard"));
    const QString newToken = results.value(QStringLiteral("restore_token")).toString();
    if (!newToken.isEmpty())
        storeToken(newToken);
    auto shared = std::make_shared<PortalSession>(bus, session);
    {
        std::lock_guard lock(sessionMutex);
        currentSession = shared;
    }
    return std::make_unique<PortalInjector>(shared, layout);
}

} // namespace vornal::platform

#include "PortalInjector.moc"
