// Killing the program (SIGKILL, as a power cut or the task manager would) at random moments while it
// saves its settings must never leave a broken preferences file: the file always parses, holds every
// settings key, and each value is one of the two records being saved in turn.

#include "CrashRecords.h"

#include "vornal/util/Properties.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <random>

using namespace vornal;

namespace {

struct Observed {
    int kills = 0;
    long saves = 0;
    int mixed = 0;    // files holding values of both records
    int leftover = 0; // temporary files left beside the settings file
};

// Checks the file after a kill; returns whether it holds values of both records.
bool checkFile(const QString& file, const config::Config& a, const config::Config& b, int kill) {
    util::Properties table;
    QString error;
    int malformed = 0;
    EXPECT_TRUE(table.load(file, &error, &malformed)) << "after kill " << kill << ": " << error.toStdString();
    EXPECT_EQ(malformed, 0) << "after kill " << kill;
    bool fromA = false, fromB = false;
    const auto entriesA = a.storedEntries();
    const auto entriesB = b.storedEntries();
    for (size_t i = 0; i < entriesA.size(); ++i) {
        const QString key = QStringLiteral("halvorn.Vornal.") + entriesA[i].first;
        EXPECT_TRUE(table.contains(key)) << "after kill " << kill << " the file lacks " << key.toStdString();
        const QString v = table.value(key);
        const bool isA = v == entriesA[i].second;
        const bool isB = v == entriesB[i].second;
        EXPECT_TRUE(isA || isB) << "after kill " << kill << ": " << key.toStdString() << "="
                                << v.toStdString() << " is from neither record";
        fromA = fromA || (isA && !isB);
        fromB = fromB || (isB && !isA);
    }
    EXPECT_EQ(table.size(), entriesA.size()) << "after kill " << kill << ": unexpected keys";
    return fromA && fromB;
}

// Kills the saving helper at random moments until `saves` saves are done or `budgetMs` have passed.
Observed killWhileSaving(long saves, qint64 budgetMs) {
    Observed seen;
    const config::Config a = test::crashRecord(false);
    const config::Config b = test::crashRecord(true);
    {
        // Every field differs, so each stored value names its record.
        const auto ea = a.storedEntries(), eb = b.storedEntries();
        EXPECT_EQ(ea.size(), size_t(config::Config::keys().size()));
        for (size_t i = 0; i < ea.size(); ++i)
            EXPECT_NE(ea[i].second, eb[i].second) << ea[i].first.toStdString();
    }
    QTemporaryDir dir;
    EXPECT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("prefs.txt"));
    const QString helper = QStringLiteral(VORNAL_BIN_DIR "/crash_saver");
    {
        // The settings of an earlier run: every save below replaces a complete file.
        util::Properties earlier;
        for (const auto& [key, value] : a.storedEntries())
            earlier.set(QStringLiteral("halvorn.Vornal.") + key, value);
        QString error;
        EXPECT_TRUE(earlier.save(file, QStringLiteral("FilePreferences"), &error)) << error.toStdString();
    }

    std::mt19937 random(20261207);
    QElapsedTimer clock;
    clock.start();
    // Kills land anywhere from the helper's start to its tenth save or so (a save is one file write).
    while (seen.saves < saves && clock.elapsed() < budgetMs) {
        QProcess p;
        p.start(helper, {file, QString::number(seen.kills % 2)});
        if (!p.waitForStarted(5000)) {
            ADD_FAILURE() << p.errorString().toStdString();
            break;
        }
        EXPECT_TRUE(p.waitForReadyRead(10000))
            << "the helper did not start: " << p.readAllStandardError().toStdString();
        QThread::usleep(std::uniform_int_distribution<int>(0, 20000)(random));
        p.kill();
        EXPECT_TRUE(p.waitForFinished(5000));
        EXPECT_EQ(p.exitStatus(), QProcess::CrashExit) << p.readAllStandardError().toStdString();
        const QStringList out =
            QString::fromLatin1(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        const long done = out.size() > 1 ? out.last().toLong() : 0;
        seen.saves += done;
        ++seen.kills;
        seen.mixed += checkFile(file, a, b, seen.kills) ? 1 : 0;
        if (::testing::Test::HasFailure())
            break;
    }
    // Temporary files of writes cut short stay behind; they must never be taken for the file.
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    seen.leftover = int(left.size()) - 1;
    std::printf("%d kills during %ld saves in %lld ms; %d files held values of both records; %d files "
                "left beside the settings file\n",
                seen.kills, seen.saves, static_cast<long long>(clock.elapsed()), seen.mixed, seen.leftover);
    return seen;
}

} // namespace

TEST(SettingsSaveCrash, KilledAtRandomMomentsTheFileIsAlwaysCompleteAndEachValueFromARecord) {
    const Observed seen = killWhileSaving(1000, 50000);
    EXPECT_GE(seen.kills, 50);
    EXPECT_GE(seen.saves, 100);
}

// A save replaces the whole record at once: after a kill the file holds the old or the new record,
// never a mixture (the store writes all entries of a save in one file write).
TEST(SettingsSaveCrash, KilledAtRandomMomentsTheFileHoldsOneWholeRecord) {
    const Observed seen = killWhileSaving(200, 20000);
    EXPECT_EQ(seen.mixed, 0) << "files holding a mixture of both records";
}
