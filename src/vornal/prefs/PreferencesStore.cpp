#include "vornal/prefs/PreferencesStore.h"

#include "vornal/prefs/FilePreferences.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <atomic>

namespace vornal::prefs {

namespace {
std::atomic<bool> g_selected{false};
std::atomic<PreferencesStore::Kind> g_kind{PreferencesStore::Kind::PerUser};
} // namespace

QString PreferencesStore::perUserFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Halvorn/Vornal/prefs.txt");
}

QString PreferencesStore::sharedFile() {
    QString base = qEnvironmentVariable("ProgramData");
    if (base.isEmpty()) {
#ifdef Q_OS_WIN
        base = QStringLiteral("C:/ProgramData");
#else
        base = QStringLiteral("/var/lib");
#endif
    }
    return QDir::fromNativeSeparators(base) + QStringLiteral("/Halvorn/VornalMU/prefs.txt");
}

bool PreferencesStore::isSharedInstallation(const QString& programDir) {
    const QString flag = qEnvironmentVariable(SHARED_ENVIRONMENT);
    if (!flag.isEmpty() && flag != u"0")
        return true;
    QString dir = programDir;
    if (dir.isEmpty() && QCoreApplication::instance())
        dir = QCoreApplication::applicationDirPath();
    return !dir.isEmpty() && QFileInfo::exists(dir + u'/' + QLatin1String(SHARED_MARKER));
}

PreferencesStore::Kind PreferencesStore::select(const QString& explicitFile) {
    Kind kind;
    QString path;
    if (!explicitFile.isEmpty()) {
        kind = Kind::Explicit;
        path = QFileInfo(explicitFile).absoluteFilePath();
    } else if (isSharedInstallation()) {
        kind = Kind::Shared;
        path = sharedFile();
    } else {
        kind = Kind::PerUser;
        path = perUserFile();
    }
    FilePreferencesFactory::setFileProperty(path);
    FilePreferencesFactory::reset();
    g_kind = kind;
    g_selected = true;
    return kind;
}

PreferencesStore::Kind PreferencesStore::selectedKind() {
    return g_kind;
}

QString PreferencesStore::file() {
    return FilePreferencesFactory::getPreferencesFile();
}

std::shared_ptr<AbstractPreferences> PreferencesStore::userRoot() {
    if (!g_selected)
        select();
    return FilePreferencesFactory::userRoot();
}

} // namespace vornal::prefs
