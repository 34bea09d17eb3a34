#include "vornal/prefs/PreferencesStore.h"
#include "vornal/prefs/FilePreferences.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace vornal::prefs;

namespace {

struct EnvGuard {
    explicit EnvGuard(const char* n) : name(n), had(qEnvironmentVariableIsSet(n)), old(qgetenv(n)) {}
    ~EnvGuard() {
        if (had)
            qputenv(name, old);
        else
            qunsetenv(name);
    }
    const char* name;
    bool had;
    QByteArray old;
};

TEST(PreferencesStoreTest, LocationsFollowTheInstallationKind) {
    EnvGuard shared(PreferencesStore::SHARED_ENVIRONMENT), programData("ProgramData"),
        property(FilePreferencesFactory::SYSTEM_PROPERTY_FILE);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());

    EXPECT_EQ(PreferencesStore::perUserFile(),
              QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                  QStringLiteral("/Halvorn/Vornal/prefs.txt"));
    qputenv("ProgramData", "/srv/data");
    EXPECT_EQ(PreferencesStore::sharedFile(), QStringLiteral("/srv/data/Halvorn/VornalMU/prefs.txt"));
    qunsetenv("ProgramData");
    EXPECT_TRUE(PreferencesStore::sharedFile().endsWith(QStringLiteral("/Halvorn/VornalMU/prefs.txt")));

    qunsetenv(PreferencesStore::SHARED_ENVIRONMENT);
    EXPECT_FALSE(PreferencesStore::isSharedInstallation(dir.path()));
    qputenv(PreferencesStore::SHARED_ENVIRONMENT, "0");
    EXPECT_FALSE(PreferencesStore::isSharedInstallation(dir.path()));
    qputenv(PreferencesStore::SHARED_ENVIRONMENT, "1");
    EXPECT_TRUE(PreferencesStore::isSharedInstallation(dir.path()));
    qunsetenv(PreferencesStore::SHARED_ENVIRONMENT);
    QFile marker(dir.filePath(QString::fromLatin1(PreferencesStore::SHARED_MARKER)));
    ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
    marker.close();
    EXPECT_TRUE(PreferencesStore::isSharedInstallation(dir.path()));

    qputenv("ProgramData", dir.path().toLocal8Bit());
    qputenv(PreferencesStore::SHARED_ENVIRONMENT, "1");
    EXPECT_EQ(PreferencesStore::select(), PreferencesStore::Kind::Shared);
    EXPECT_EQ(PreferencesStore::file(), dir.path() + QStringLiteral("/Halvorn/VornalMU/prefs.txt"));
    PreferencesStore::userRoot()
        ->node(QStringLiteral("/halvorn/Vornal"))
        ->put(QStringLiteral("port"), QStringLiteral("COM3"));
    EXPECT_TRUE(QFile::exists(dir.path() + QStringLiteral("/Halvorn/VornalMU/prefs.txt")));

    // An explicit file wins over the installation kind.
    EXPECT_EQ(PreferencesStore::select(dir.filePath(QStringLiteral("mine.txt"))),
              PreferencesStore::Kind::Explicit);
    EXPECT_EQ(PreferencesStore::file(), dir.filePath(QStringLiteral("mine.txt")));
    EXPECT_TRUE(PreferencesStore::userRoot()->node(QStringLiteral("/halvorn/Vornal"))->keys().isEmpty());

    FilePreferencesFactory::reset();
}

} // namespace
