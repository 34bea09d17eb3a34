// Killing the program (SIGKILL) at random moments while it saves a station of several profiles must
// leave the station of the save before or of the save being made, never a mixture: the further profiles
// go into nodes not in use, and one write of the first record switches to them.

#include "CrashStations.h"

#include "vornal/prefs/FilePreferences.h"
#include "vornal/prefs/PreferencesStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <random>

using namespace vornal;

namespace {

std::vector<config::Profile> loadStation(const QString& file, QStringList* messages) {
    prefs::PreferencesStore::select(file);
    auto root = prefs::PreferencesStore::userRoot();
    auto r = config::Profiles::load(*root, config::Profiles::storedPorts(*root));
    *messages = r.messages;
    return r.profiles;
}

TEST(ProfilesSaveCrash, KilledAtRandomMomentsTheStoreHoldsOneWholeStation) {
    const QString a = test::stationText(test::crashStation(false));
    const QString b = test::stationText(test::crashStation(true));
    ASSERT_NE(a, b);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("prefs.txt"));
    const QString helper = QStringLiteral(VORNAL_BIN_DIR "/crash_profiles_saver");

    {
        // The station of an earlier run: every save below replaces a complete station.
        prefs::PreferencesStore::select(file);
        ASSERT_EQ(config::Profiles::save(*prefs::PreferencesStore::userRoot(), test::crashStation(false)),
                  QString());
    }

    std::mt19937 random(20261208);
    QElapsedTimer clock;
    clock.start();
    int kills = 0, fromA = 0, fromB = 0;
    long saves = 0;
    while (clock.elapsed() < 20000 && kills < 150) {
        QProcess p;
        p.start(helper, {file, QString::number(kills % 2)});
        ASSERT_TRUE(p.waitForStarted(5000)) << p.errorString().toStdString();
        ASSERT_TRUE(p.waitForReadyRead(10000)) << p.readAllStandardError().toStdString();
        QThread::usleep(std::uniform_int_distribution<int>(0, 250000)(random));
        p.kill();
        ASSERT_TRUE(p.waitForFinished(5000));
        ASSERT_EQ(p.exitStatus(), QProcess::CrashExit) << p.readAllStandardError().toStdString();
        const QStringList out =
            QString::fromLatin1(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        saves += out.size() > 1 ? out.last().toLong() : 0;
        ++kills;
        QStringList messages;
        const QString loaded = test::stationText(loadStation(file, &messages));
        EXPECT_TRUE(messages.isEmpty())
            << "after kill " << kills << ": " << messages.join(u'\n').toStdString();
        if (loaded == a)
            ++fromA;
        else if (loaded == b)
            ++fromB;
        else
            ADD_FAILURE() << "after kill " << kills << " the store holds neither station:\n"
                          << loaded.toStdString();
        if (::testing::Test::HasFailure())
            break;
    }
    std::printf("%d kills during %ld saves; %d times the first station, %d times the second\n", kills, saves,
                fromA, fromB);
    // A save is a dozen file writes, each synced to the disk: some 100 ms on a loaded machine.
    EXPECT_GE(kills, 30);
    EXPECT_GE(saves, 20);
    EXPECT_GT(fromA, 0);
    EXPECT_GT(fromB, 0);
}

} // namespace
