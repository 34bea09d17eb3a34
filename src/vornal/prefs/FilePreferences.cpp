#include "vornal/prefs/FilePreferences.h"

#include "vornal/util/Properties.h"
#include "vornal/util/RegularFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace vornal::prefs {

// Diagnostics only: off unless enabled, e.g. QT_LOGGING_RULES="vornal.prefs.*=true".
Q_LOGGING_CATEGORY(lcFilePreferences, "vornal.prefs.FilePreferences", QtWarningMsg)
Q_LOGGING_CATEGORY(lcFilePreferencesFactory, "vornal.prefs.FilePreferencesFactory", QtWarningMsg)

namespace {

struct FactoryState {
    std::mutex mutex;
    std::shared_ptr<FilePreferences> root;
    std::optional<QString> file;
};

FactoryState& state() {
    static FactoryState s;
    return s;
}

// The entries of `table` that belong to the node with `prefix`: file key = prefix + key, key without ".".
template <typename Fn> void forOwnKeys(const util::Properties& table, const QString& prefix, Fn fn) {
    for (const auto& [fileKey, value] : table.entries()) {
        if (!fileKey.startsWith(prefix))
            continue;
        const QString rest = fileKey.mid(prefix.size());
        if (!rest.contains(u'.'))
            fn(fileKey, rest, value);
    }
}

util::Properties readTable(const QString& file) {
    util::Properties table;
    QString error;
    if (!table.load(file, &error))
        throw BackingStoreException(error);
    return table;
}

// Replaces the file in one step: a temporary file next to it, renamed over it only when every byte
// was written. QSaveFile alone is not enough: a write error that shows up only when its buffer is
// flushed at commit (a full disk, a file-size limit) would still commit a truncated file, so the
// buffer is flushed and checked before the commit.
//
// The rename would replace whatever has the name: a device node ("/dev/null") or a FIFO is refused.
void writeAtomically(const QString& file, const QByteArray& data) {
    if (const QString why = util::notRegularFile(file); !why.isEmpty())
        throw BackingStoreException(QStringLiteral("Cannot write %1").arg(why));
    QSaveFile f(file);
    auto failure = [&] {
        const QString reason = f.errorString();
        f.cancelWriting();
        return BackingStoreException(
            QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(file), reason));
    };
    if (!f.open(QIODevice::WriteOnly))
        throw failure();
    if (f.write(data) != data.size() || !f.flush())
        throw failure();
    if (!f.commit())
        throw BackingStoreException(
            QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(file), f.errorString()));
}

} // namespace

FilePreferences::FilePreferences(Passkey, const std::shared_ptr<FilePreferences>& parent, const QString& name)
    : AbstractPreferences(parent, name) {
    qCDebug(lcFilePreferences).noquote() << "Instantiating node" << name;
    try {
        syncSpi();
    } catch (const std::exception& e) {
        qCInfo(lcFilePreferences).noquote()
            << "Unable to sync on creation of node" << name << "-" << QString::fromUtf8(e.what());
    }
}

QString FilePreferences::getPath() const {
    // "/halvorn/Vornal" -> "halvorn.Vornal."; the root's prefix is empty.
    QString prefix;
    for (const QString& part : absolutePath().split(u'/', Qt::SkipEmptyParts))
        prefix += part + u'.';
    return prefix;
}

std::optional<QString> FilePreferences::getSpi(const QString& key) {
    auto it = root_.find(key);
    if (it == root_.end())
        return std::nullopt;
    return it->second;
}

void FilePreferences::putSpi(const QString& key, const QString& value) {
    if (key.contains(u'.'))
        throw std::invalid_argument(
            QStringLiteral(
                "Preference key '%1' contains '.', which the preferences file uses between node names")
                .arg(key)
                .toStdString());
    root_[key] = value;
    try {
        flushSpi();
    } catch (const BackingStoreException& e) {
        qCInfo(lcFilePreferences).noquote() << "Unable to flush after putting" << key << "-" << e.message();
    }
}

// One file write for all entries: a settings save must never leave a mixture of the old and the new
// record behind when the program is killed in the middle of it.
void FilePreferences::putAllSpi(const std::vector<std::pair<QString, QString>>& entries) {
    for (const auto& [key, value] : entries)
        if (key.contains(u'.'))
            throw std::invalid_argument(
                QStringLiteral(
                    "Preference key '%1' contains '.', which the preferences file uses between node names")
                    .arg(key)
                    .toStdString());
    for (const auto& [key, value] : entries)
        root_[key] = value;
    try {
        flushSpi();
    } catch (const BackingStoreException& e) {
        qCInfo(lcFilePreferences).noquote()
            << "Unable to flush after putting" << entries.size() << "entries -" << e.message();
    }
}

void FilePreferences::removeSpi(const QString& key) {
    root_.erase(key);
    try {
        flushSpi();
    } catch (const BackingStoreException& e) {
        qCInfo(lcFilePreferences).noquote() << "Unable to flush after removing" << key << "-" << e.message();
    }
}

QStringList FilePreferences::keysSpi() {
    QStringList keys;
    for (const auto& [key, value] : root_)
        keys += key;
    return keys;
}

QStringList FilePreferences::childrenNamesSpi() {
    QStringList names;
    for (const auto& [name, child] : children_)
        if (!child->isRemoved_)
            names += name;
    return names;
}

std::shared_ptr<AbstractPreferences> FilePreferences::childSpi(const QString& name) {
    if (name.contains(u'.'))
        throw std::invalid_argument(
            QStringLiteral("Preferences node name '%1' contains '.', which the preferences file uses between "
                           "node names")
                .arg(name)
                .toStdString());
    auto it = children_.find(name);
    if (it != children_.end() && !it->second->isRemoved_)
        return it->second;
    auto child = std::make_shared<FilePreferences>(
        Passkey{}, std::static_pointer_cast<FilePreferences>(shared_from_this()), name);
    children_[name] = child;
    return child;
}

void FilePreferences::removeNodeSpi() {
    isRemoved_ = true;
    try {
        flushSpi();
    } catch (...) {
        // The lines are still in the file: the node is not removed.
        isRemoved_ = false;
        throw;
    }
}

void FilePreferences::syncSpi() {
    const QString file = FilePreferencesFactory::getPreferencesFile();
    std::lock_guard guard(FilePreferencesFactory::fileLock());
    if (!QFileInfo::exists(file))
        return;
    const util::Properties table = readTable(file);
    forOwnKeys(table, getPath(), [this](const QString&, const QString& key, const QString& value) {
        if (!key.isEmpty())
            root_[key] = value;
    });
}

void FilePreferences::flushSpi() {
    const QString file = FilePreferencesFactory::getPreferencesFile();
    std::lock_guard guard(FilePreferencesFactory::fileLock());
    util::Properties table;
    if (QFileInfo::exists(file))
        table = readTable(file);
    const QString prefix = getPath();
    QStringList own;
    forOwnKeys(table, prefix,
               [&own](const QString& fileKey, const QString&, const QString&) { own += fileKey; });
    for (const QString& fileKey : own)
        table.remove(fileKey);
    if (!isRemoved_)
        for (const auto& [key, value] : root_)
            table.set(prefix + key, value);
    // A fresh per-user location has no folder yet.
    const QString dir = QFileInfo(file).absolutePath();
    if (!QDir().mkpath(dir))
        throw BackingStoreException(QStringLiteral("Cannot write %1: cannot create the folder %2")
                                        .arg(QDir::toNativeSeparators(file), QDir::toNativeSeparators(dir)));
    writeAtomically(file, table.serialize(QString::fromLatin1(FilePreferencesFactory::FILE_HEADER)));
}

std::shared_ptr<AbstractPreferences> FilePreferencesFactory::userRoot() {
    FactoryState& s = state();
    {
        std::lock_guard guard(s.mutex);
        if (s.root)
            return s.root;
    }
    qCDebug(lcFilePreferencesFactory) << "Instantiating root preferences";
    // Created outside the factory's mutex: the node reads the file, which asks for the file name.
    auto root = std::make_shared<FilePreferences>(FilePreferences::Passkey{}, nullptr, QString());
    std::lock_guard guard(s.mutex);
    if (!s.root)
        s.root = root;
    return s.root;
}

std::shared_ptr<AbstractPreferences> FilePreferencesFactory::systemRoot() {
    return userRoot();
}

QString FilePreferencesFactory::getPreferencesFile() {
    FactoryState& s = state();
    std::lock_guard guard(s.mutex);
    if (!s.file) {
        const QString property = qEnvironmentVariable(SYSTEM_PROPERTY_FILE);
        s.file = property.isEmpty() ? QDir::homePath() + QStringLiteral("/.fileprefs") : property;
        qCDebug(lcFilePreferencesFactory).noquote()
            << "Preferences file is" << QDir::toNativeSeparators(*s.file);
    }
    return *s.file;
}

void FilePreferencesFactory::setFileProperty(const QString& path) {
    if (path.isEmpty())
        qunsetenv(SYSTEM_PROPERTY_FILE);
    else
        qputenv(SYSTEM_PROPERTY_FILE, path.toLocal8Bit());
}

void FilePreferencesFactory::reset() {
    FactoryState& s = state();
    std::lock_guard guard(s.mutex);
    s.root.reset();
    s.file.reset();
}

std::mutex& FilePreferencesFactory::fileLock() {
    static std::mutex m;
    return m;
}

} // namespace vornal::prefs
