// The data log: rows as received, quoting, rotation, a location that cannot be written, and a SIGKILL
// in the middle of a run.
#include "vornal/worker/DataLog.h"

#include "Csv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

using vornal::worker::DataLog;

namespace {

using vornal::test::parseCsv;
using vornal::test::readAll;

DataLog::Row row(const QString& line, const QString& value, const QString& outcome) {
    const QDateTime time(QDate(2026, 12, 8), QTime(14, 3, 7, 125), QTimeZone(3600));
    return {time, QStringLiteral("COM3"), QStringLiteral("A&D"), line, value, outcome, QStringLiteral("AND")};
}

const std::vector<QString> kHeader = {"time", "port", "instrument", "line", "value", "result", "preset"};

TEST(DataLog, RowsMatchTheLinesReceived) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("readings.csv"));
    {
        DataLog log(path, 0, 0);
        EXPECT_EQ(log.append(row("ST,+00012.34 kg<13><10>", "12.34", "typed")), QString());
        EXPECT_EQ(log.append(row("US,+00012.30 kg<13><10>", "12.30", "unstable")), QString());
        EXPECT_EQ(log.append(row("say \"hi\", Ünits", "", "no value")), QString());
        EXPECT_EQ(log.append(row("=HYPERLINK(\"x\")", "-1.5", "typed")), QString());
    }
    {
        DataLog again(path, 0, 0); // a second run appends, without a second header
        EXPECT_EQ(again.append(row(" padded ", "+3", "duplicate")), QString());
    }
    const auto table = parseCsv(readAll(path));
    ASSERT_TRUE(table);
    ASSERT_EQ(table->size(), 6u);
    EXPECT_EQ((*table)[0], kHeader);
    EXPECT_EQ((*table)[1], (std::vector<QString>{"2026-12-08T14:03:07.125+01:00", "COM3", "A&D",
                                                 "ST,+00012.34 kg<13><10>", "12.34", "typed", "AND"}));
    EXPECT_EQ((*table)[2][5], "unstable");
    EXPECT_EQ((*table)[3][3], "say \"hi\", Ünits");
    EXPECT_EQ((*table)[4][3], "'=HYPERLINK(\"x\")") << "a spreadsheet must not run it";
    EXPECT_EQ((*table)[4][4], "-1.5");
    EXPECT_EQ((*table)[5][3], " padded ");
    const QDateTime west(QDate(2026, 1, 2), QTime(3, 4, 5), QTimeZone(-(5 * 3600 + 1800)));
    EXPECT_EQ(DataLog::isoTime(west), "2026-01-02T03:04:05.000-05:30");
}

TEST(DataLog, RotatesBySizeAndKeepsTheGivenNumberOfFiles) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.csv"));
    EXPECT_EQ(DataLog::rotatedName(path, 2), dir.filePath(QStringLiteral("log.2.csv")));
    EXPECT_EQ(DataLog::rotatedName(QStringLiteral("/x/log"), 1), QStringLiteral("/x/log.1"));
    const qint64 rowSize = DataLog::formatRow(row("ST,+00001.00 kg", "1.00", "typed")).size();
    const qint64 limit = 3 + DataLog::headerRow().size() + 3 * rowSize; // three rows a file
    DataLog log(path, limit, 2);
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(log.append(row("ST,+00001.00 kg", "1.00", "typed")), QString());
    for (const QString& name : {path, DataLog::rotatedName(path, 1), DataLog::rotatedName(path, 2)}) {
        const QByteArray bytes = readAll(name);
        EXPECT_LE(bytes.size(), limit) << name.toStdString();
        const auto table = parseCsv(bytes);
        ASSERT_TRUE(table) << name.toStdString();
        EXPECT_EQ(table->front(), kHeader);
    }
    EXPECT_EQ(parseCsv(readAll(DataLog::rotatedName(path, 1)))->size(), 4u);
    EXPECT_FALSE(QFile::exists(DataLog::rotatedName(path, 3)));
    // 20 rows = 6 full files and 2 rows in the current one.
    EXPECT_EQ(parseCsv(readAll(path))->size(), 3u);

    // Keeping none begins the file anew.
    const QString single = dir.filePath(QStringLiteral("single.csv"));
    DataLog one(single, limit, 0);
    for (int i = 0; i < 7; ++i)
        ASSERT_EQ(one.append(row("ST,+00001.00 kg", "1.00", "typed")), QString());
    EXPECT_EQ(parseCsv(readAll(single))->size(), 2u);
    EXPECT_FALSE(QFile::exists(DataLog::rotatedName(single, 1)));
}

TEST(DataLog, AnUnwritableLocationGivesOneMessageUntilItCanBeWrittenAgain) {
    QTemporaryDir dir;
    // A folder in the way of the file: not writable for anyone, root included.
    const QString blocker = dir.filePath(QStringLiteral("blocked"));
    {
        QFile f(blocker);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QString path = blocker + QStringLiteral("/readings.csv");
    DataLog log(path, 0, 0);
    const QString message = log.append(row("ST,+1 kg", "1", "typed"));
    EXPECT_TRUE(message.contains(QDir::toNativeSeparators(path))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("still typed"))) << message.toStdString();
    EXPECT_TRUE(log.failing());
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(log.append(row("ST,+1 kg", "1", "typed")), QString());
    ASSERT_TRUE(QFile::remove(blocker));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("blocked")));
    EXPECT_EQ(log.append(row("ST,+2 kg", "2", "typed")), QString());
    EXPECT_FALSE(log.failing());
    EXPECT_EQ(parseCsv(readAll(path))->size(), 2u);
}

#ifdef Q_OS_UNIX
TEST(DataLog, SigkillDuringAThousandLineRunLeavesWholeRows) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("killed.csv"));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        DataLog log(path, 0, 0);
        for (int i = 0; i < 1000; ++i) {
            const QString n = QString::number(i);
            log.append(row("ST,+" + n + ".00 kg, \"quoted\"<13><10>", n + ".00", "typed"));
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        _exit(0);
    }
    // Kill it once a good part of the rows is written.
    for (int i = 0; i < 2000 && readAll(path).count('\n') < 200; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    const QByteArray bytes = readAll(path);
    const auto table = parseCsv(bytes);
    ASSERT_TRUE(table) << "the file ends in a cut-off row";
    ASSERT_GE(table->size(), 2u);
    EXPECT_EQ(table->front(), kHeader);
    for (std::size_t i = 1; i < table->size(); ++i) {
        ASSERT_EQ((*table)[i].size(), 7u);
        EXPECT_EQ((*table)[i][4], QString::number(i - 1) + ".00");
    }
    // A general-purpose reader agrees, where one is installed.
    if (QFile::exists(QStringLiteral("/usr/bin/python3"))) {
        const std::string cmd =
            "/usr/bin/python3 -c \"import csv,sys; rows=list(csv.reader(open(sys.argv[1], "
            "encoding='utf-8-sig', newline=''))); sys.exit(0 if all(len(r)==7 for r in rows) "
            "and len(rows)==" +
            std::to_string(table->size()) + " else 1)\" " + path.toStdString();
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
}
#endif

} // namespace
