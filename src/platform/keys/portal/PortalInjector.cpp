#include "PortalInjector.h"

#include "DesktopLayout.h"

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

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

namespace vornal::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kRemoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");
const QString kImplPrefix = QStringLiteral("org.freedesktop.impl.portal.desktop.");
const QString kImplRemoteDesktop = QStringLiteral("org.freedesktop.impl.portal.RemoteDesktop");
constexpr unsigned kKeyboard = 1; // device type bit
constexpr unsigned kPersistUntilRevoked = 2;
constexpr int kCallTimeoutMs = 10000;
constexpr auto kDeadKeyWait = std::chrono::milliseconds(50);
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
// connection again does not ask again. Ended by the desktop (the portal then removes the session
// object and sends Closed), or by the portal or its backend going away (their D-Bus names lose or change
// owner): `lost` says why, and the next connection opens a new session. The portal keeps answering key
// calls when its backend is gone, so those answers alone do not tell that keys still arrive. All this is
// asked before each character, on the typing thread (which runs no event loop to receive signals).
struct PortalSession {
    PortalSession(QDBusConnection b, QDBusObjectPath p, QString backendName)
        : bus(std::move(b)), path(std::move(p)), backend(std::move(backendName)) {
        portalOwner = owner(kService);
        if (!backend.isEmpty())
            backendOwner = owner(backend);
    }

    // Why typing can go on no more, or empty.
    std::string lostWhy() {
        std::lock_guard lock(mutex);
        return lost;
    }
    void setLost(const std::string& why) {
        std::lock_guard lock(mutex);
        if (lost.empty())
            lost = why + ": keys can no longer be typed; start the connection again and allow typing when "
                         "the desktop asks";
    }
    // Asks the bus and the portal whether the session still stands; notes why not.
    void check() {
        if (owner(kService) != portalOwner)
            return setLost("the desktop portal (" + kService.toStdString() + ") went away");
        if (!backend.isEmpty() && owner(backend) != backendOwner)
            return setLost("the desktop's portal backend (" + backend.toStdString() + ") went away");
        QDBusMessage get = QDBusMessage::createMethodCall(
            kService, path.path(), QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << kSession << QStringLiteral("version");
        const QDBusMessage reply = bus.call(get, QDBus::Block, kCallTimeoutMs);
        if (reply.type() == QDBusMessage::ErrorMessage &&
            (reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.UnknownObject") ||
             reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod") ||
             reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface")))
            setLost("the desktop ended the remote-desktop session");
    }

    QDBusConnection bus;
    QDBusObjectPath path;
    QString backend; // the D-Bus name of the portal backend that serves RemoteDesktop, if found
    QString portalOwner, backendOwner; // their unique names when the session started
    std::mutex mutex;
    std::string lost;

private:
    QString owner(const QString& name) const {
        const QDBusReply<QString> reply = bus.interface()->serviceOwner(name);
        return reply.isValid() ? reply.value() : QString();
    }
};

std::mutex sessionMutex;
std::shared_ptr<PortalSession> currentSession;

} // namespace

class PortalInjector : public KeyInjector {
public:
    PortalInjector(std::shared_ptr<PortalSession> session, const CharChords& layout,
                   std::shared_ptr<const LayoutKeys> keys)
        : session_(std::move(session)), decoder_(layout), keys_(std::move(keys)) {}

    // The desktop maps keysyms to its own layout; Caps Lock is its concern.
    std::optional<bool> capsLockOn() override { return false; }
    std::string name() const override {
        const DesktopLayout& l = keys_->layout();
        if (!l.unreadable.empty())
            return "desktop portal (RemoteDesktop); the desktop's keyboard layout could not be read (" +
                   l.unreadable + "): only letters, digits, space and , . - + are typed";
        return "desktop portal (RemoteDesktop) on the desktop's layout " + l.name();
    }
    std::string cannotType(const std::u32string& text) override { return keys_->refusal(text); }

protected:
    // Every key is typed whole at its press (pressed and released at once): a key held down through
    // the key delay would repeat on the desktop. The release of our key code then has nothing to do.
    void pressKey(int code) override {
        std::lock_guard lock(mutex_);
        switch (decoder_.press(code)) {
        case ChordDecoder::Press::Key:
            break;
        default:
            return;
        }
        const auto m = decoder_.decode(code);
        switch (m.kind) {
        case ChordDecoder::Meaning::Kind::DeadCharacter:
            decoder_.dropNextSpace(); // the character itself: no SPACE to complete an accent
            typeResolved(m.ch);
            return;
        case ChordDecoder::Meaning::Kind::Character:
            typeResolved(m.ch);
            return;
        case ChordDecoder::Meaning::Kind::Key: {
            std::vector<std::uint32_t> keysyms;
            for (int mod : m.modifiers)
                keysyms.push_back(keysymOfKey(mod));
            keysyms.push_back(keysymOfKey(code));
            checkSession();
            for (std::uint32_t ks : keysyms)
                send(QStringLiteral("NotifyKeyboardKeysym"), ks, true);
            for (auto ks = keysyms.rbegin(); ks != keysyms.rend(); ++ks)
                send(QStringLiteral("NotifyKeyboardKeysym"), *ks, false);
            confirm();
            return;
        }
        }
    }

    void releaseKey(int code) override {
        std::lock_guard lock(mutex_);
        if (isModifierCode(code)) {
            if (const auto value = decoder_.modifierUp(code))
                typeResolved(static_cast<char32_t>(*value));
        }
    }

    void typeChar(char32_t ch) override {
        std::lock_guard lock(mutex_);
        decoder_.keepNextSpace();
        typeResolved(ch);
    }

private:
    // Types `ch` the way the desktop's layout gives it: its keysym on the first two levels, key codes
    // with the level-3/level-5 key beyond them. A character the layout lacks is refused, never sent.
    void typeResolved(char32_t ch) {
        const KeyWay way = keys_->wayOf(ch);
        if (way.kind == KeyWay::Kind::None)
            throw std::runtime_error(keys_->refusal(std::u32string(1, ch)));
        checkSession();
        if (way.kind == KeyWay::Kind::Keysym) {
            send(QStringLiteral("NotifyKeyboardKeysym"), way.keysym, true);
            send(QStringLiteral("NotifyKeyboardKeysym"), way.keysym, false);
        } else {
            // Before and after a dead key the receiver gets time to take the keys before it: Qt
            // windows otherwise put the accent ahead of characters typed just earlier.
            const bool dead = way.strokes.size() > 1;
            if (dead)
                std::this_thread::sleep_for(kDeadKeyWait);
            for (const auto& stroke : way.strokes) {
                for (std::uint32_t kc : stroke)
                    send(QStringLiteral("NotifyKeyboardKeycode"), kc, true);
                for (auto kc = stroke.rbegin(); kc != stroke.rend(); ++kc)
                    send(QStringLiteral("NotifyKeyboardKeycode"), *kc, false);
            }
            if (dead) {
                confirm();
                std::this_thread::sleep_for(kDeadKeyWait);
                return;
            }
        }
        confirm();
    }

    // Before a character: the session, the portal and its backend still there.
    void checkSession() {
        session_->check();
        checkLost();
    }

    void checkLost() {
        const std::string why = session_->lostWhy();
        if (!why.empty()) {
            forget();
            throw KeyInjectorLost(why);
        }
    }

    void forget() {
        std::lock_guard current(sessionMutex);
        if (currentSession == session_)
            currentSession.reset();
    }

    void send(const QString& method, std::uint32_t value, bool press) {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kRemoteDesktop, method);
        call << QVariant::fromValue(session_->path) << QVariantMap() << static_cast<int>(value)
             << static_cast<uint>(press ? 1 : 0);
        const QDBusMessage reply = session_->bus.call(call, QDBus::Block, kCallTimeoutMs);
        if (reply.type() == QDBusMessage::ErrorMessage) {
            session_->setLost("the desktop ended the remote-desktop session (" +
                              reply.errorMessage().toStdString() + ")");
            checkLost();
        }
    }

    // The portal answers key calls before its backend has them, and goes on answering when the backend
    // is gone. A call to the backend itself, which it answers after the keys forwarded before it, tells
    // that they arrived.
    void confirm() {
        if (session_->backend.isEmpty())
            return; // the portal's answers are all there is: the next key sees a session ended meanwhile
        QDBusMessage get = QDBusMessage::createMethodCall(session_->backend, kPath,
                                                          QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("Get"));
        get << kImplRemoteDesktop << QStringLiteral("version");
        const QDBusMessage reply = session_->bus.call(get, QDBus::Block, kCallTimeoutMs);
        if (reply.type() == QDBusMessage::ErrorMessage &&
            reply.errorName() != QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs") &&
            reply.errorName() != QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty")) {
            session_->setLost("the desktop's portal backend (" + session_->backend.toStdString() +
                              ") no longer answers (" + reply.errorMessage().toStdString() + ")");
            checkLost();
        }
        // Answered: the keys reached the backend. A session ended meanwhile stops the next key.
    }

    std::shared_ptr<PortalSession> session_;
    ChordDecoder decoder_;
    std::shared_ptr<const LayoutKeys> keys_;
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

// The portal backend that serves RemoteDesktop: the org.freedesktop.impl.portal.desktop.* name on the
// bus whose portal object has that interface; where several do (GNOME's and KDE's), the one of the
// desktop in XDG_CURRENT_DESKTOP, as the portal chooses. Empty when none is found.
QString remoteDesktopBackend(const QDBusConnection& bus) {
    const QDBusReply<QStringList> names = bus.interface()->registeredServiceNames();
    if (!names.isValid())
        return {};
    QStringList serving;
    for (const QString& name : names.value()) {
        if (!name.startsWith(kImplPrefix))
            continue;
        QDBusMessage introspect = QDBusMessage::createMethodCall(
            name, kPath, QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect"));
        const QDBusMessage reply = bus.call(introspect, QDBus::Block, kCallTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage &&
            reply.arguments().value(0).toString().contains(kImplRemoteDesktop))
            serving += name;
    }
    for (const QString& desktop : qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':'))
        for (const QString& name : serving)
            if (!desktop.isEmpty() && name.mid(kImplPrefix.size()).compare(desktop, Qt::CaseInsensitive) == 0)
                return name;
    return serving.value(0);
}

} // namespace

std::unique_ptr<KeyInjector> openPortalInjector(const CharChords& layout, std::string* whyNot) {
    auto fail = [&](const QString& why) -> std::unique_ptr<KeyInjector> {
        if (whyNot)
            *whyNot = why.toStdString();
        return nullptr;
    };
    std::shared_ptr<PortalSession> reuse;
    {
        std::lock_guard lock(sessionMutex);
        reuse = currentSession;
    }
    if (reuse && reuse->lostWhy().empty())
        return std::make_unique<PortalInjector>(
            reuse, layout, std::make_shared<LayoutKeys>(readDesktopLayout(reuse->backend)));
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
    auto shared = std::make_shared<PortalSession>(bus, session, remoteDesktopBackend(bus));
    {
        std::lock_guard lock(sessionMutex);
        currentSession = shared;
    }
    return std::make_unique<PortalInjector>(shared, layout,
                                            std::make_shared<LayoutKeys>(readDesktopLayout(shared->backend)));
}

} // namespace vornal::platform

#include "PortalInjector.moc"
