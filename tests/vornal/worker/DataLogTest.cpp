// The data log: rows as received, quoting, rotation, a location that cannot be written, and a SIGKILL
// in the middle of a run.
#include "vornal/worker/DataLog.h"
#include "vornal/util/ResourceBundle.h"

#include "Csv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
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
    // Writing resumes: the user is told, and a marker row says what is missing before the row itself.
    const QString resumed = log.append(row("ST,+2 kg", "2", "typed"));
    EXPECT_TRUE(resumed.contains(QStringLiteral("written again"))) << resumed.toStdString();
    EXPECT_TRUE(resumed.contains(QStringLiteral("6 reading(s)"))) << resumed.toStdString();
    EXPECT_FALSE(log.failing());
    const auto table = parseCsv(readAll(path));
    ASSERT_TRUE(table);
    ASSERT_EQ(table->size(), 3u);
    EXPECT_EQ((*table)[1][3], "");
    EXPECT_TRUE((*table)[1][5].startsWith("6 row(s) not written from 2026-12-08T14:03:07.125+01:00 to "))
        << (*table)[1][5].toStdString();
    EXPECT_EQ((*table)[2][4], "2");
    EXPECT_EQ(log.append(row("ST,+3 kg", "3", "typed")), QString()) << "no second marker";
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

TEST(DataLog, ValueColumnKeepsTheTypedNumberAndLongLinesAreCutAndMarked) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("values.csv"));
    DataLog log(path, 0, 0);
    // Numbers as typed, also those a spreadsheet would not parse; the raw line is still guarded.
    for (const char* number : {"+1,234,5", "-2,5", "+0.001", "-.5", "-1.234.567,00"})
        ASSERT_EQ(log.append(row(QStringLiteral("%1 kg").arg(number), number, "typed")), QString());
    // Not numbers: a formula stays guarded in both columns.
    ASSERT_EQ(log.append(row("-2+3", "-2+3", "typed")), QString());
    ASSERT_EQ(log.append(row("=1+1", "=1+1", "typed")), QString());
    ASSERT_EQ(log.append(row("+", "+", "typed")), QString());
    const QString longLine(DataLog::MAX_LINE_FIELD + 100, u'x');
    ASSERT_EQ(log.append(row(longLine, "", "no value")), QString());
    const auto table = parseCsv(readAll(path));
    ASSERT_TRUE(table);
    ASSERT_EQ(table->size(), 10u);
    int r = 1;
    for (const char* number : {"+1,234,5", "-2,5", "+0.001", "-.5", "-1.234.567,00"}) {
        EXPECT_EQ((*table)[r][4], number) << "the value column differs from the typed value";
        ++r;
    }
    EXPECT_EQ((*table)[6][3], "'-2+3");
    EXPECT_EQ((*table)[6][4], "'-2+3");
    EXPECT_EQ((*table)[7][4], "'=1+1");
    EXPECT_EQ((*table)[8][4], "'+");
    EXPECT_EQ((*table)[9][3], QString(DataLog::MAX_LINE_FIELD, u'x') + " [cut: 100 more characters]");
}

TEST(DataLog, AFileEndingInACutOffRowIsCutBackToItsLastWholeRow) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("torn.csv"));
    {
        DataLog log(path, 0, 0);
        ASSERT_EQ(log.append(row("ST,+1 kg", "1", "typed")), QString());
    }
    const QByteArray whole = readAll(path);
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("2026-12-08T14:03:07.125+01:00,COM3,AND,\"ST,+2"); // a row cut off by an older crash
    }
    DataLog again(path, 0, 0);
    ASSERT_EQ(again.append(row("ST,+3 kg", "3", "typed")), QString());
    const QByteArray bytes = readAll(path);
    EXPECT_TRUE(bytes.startsWith(whole));
    const auto table = parseCsv(bytes);
    ASSERT_TRUE(table) << bytes.toStdString();
    ASSERT_EQ(table->size(), 3u);
    EXPECT_EQ((*table)[2][4], "3");
}

#ifdef Q_OS_UNIX
// Something that is not a file where the log should be: refused at once, nothing waits, nothing replaced.
TEST(DataLog, AFifoOrADeviceIsRefusedAtOnce) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("log.fifo"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& path : {fifo, QStringLiteral("/dev/full"), dir.path()}) {
        if (!QFileInfo::exists(path))
            continue;
        const auto start = std::chrono::steady_clock::now();
        DataLog log(path, 0, 0);
        const QString message = log.append(row("ST,+1 kg", "1", "typed"));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << path.toStdString();
        EXPECT_TRUE(message.contains(QStringLiteral("not a regular file"))) << message.toStdString();
        EXPECT_TRUE(log.failing());
    }
    struct stat st {};
    ASSERT_EQ(stat(QFile::encodeName(fifo).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO is still there";
}

namespace {

// Appends rows to `path` until a write fails (at most `rows`), in a child process whose files may not grow
// past `limit` bytes when `limit` > 0 (the file-size limit fails a write like a full disk does: part of the
// row goes out, then the system refuses). Returns the first failure message ("" for none).
QString fillUntilFailure(const QString& path, rlim_t limit, int rows) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return QStringLiteral("pipe failed");
    const pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        if (limit > 0) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit rl{limit, limit};
            setrlimit(RLIMIT_FSIZE, &rl);
        }
        DataLog log(path, 0, 0);
        for (int i = 0; i < rows; ++i) {
            const QString message =
                log.append(row("ST,+" + QString::number(i) + ".00 kg", QString::number(i) + ".00", "typed"));
            if (!message.isEmpty()) {
                const QByteArray bytes = message.toUtf8();
                [[maybe_unused]] const auto n = write(pipeFds[1], bytes.constData(), size_t(bytes.size()));
                break;
            }
        }
        _exit(0);
    }
    close(pipeFds[1]);
    QByteArray message;
    char buffer[512];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        message.append(buffer, n);
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return QString::fromUtf8(message);
}

// Checks that the log ends at a whole row and holds rows 0, 1, 2, ... in order; returns how many.
std::size_t checkWholeRows(const QString& path) {
    const QByteArray bytes = readAll(path);
    EXPECT_TRUE(bytes.endsWith("\r\n")) << "the file ends in a cut-off row";
    const auto table = parseCsv(bytes);
    EXPECT_TRUE(table);
    if (!table)
        return 0;
    for (std::size_t i = 1; i < table->size(); ++i)
        EXPECT_EQ((*table)[i][4], QString::number(i - 1) + ".00");
    return table->size() - 1;
}

} // namespace

TEST(DataLog, AWriteCutOffByTheFileSizeLimitIsUndone) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("limited.csv"));
    // 1000 bytes: the row that passes it is written in part, then refused.
    const QString message = fillUntilFailure(path, 1000, 100);
    EXPECT_TRUE(message.contains(QStringLiteral("File too large"))) << message.toStdString();
    EXPECT_FALSE(message.contains(QStringLiteral("Unknown error"))) << message.toStdString();
    const std::size_t rows = checkWholeRows(path);
    EXPECT_GE(rows, 5u);
    EXPECT_LE(readAll(path).size(), 1000);
}

// A real full disk: a 64 KiB tmpfs (root only). The row that does not fit is cut back; once there is room
// again, writing resumes with a marker row.
TEST(DataLog, AFullDiskLeavesWholeRowsAndWritingResumesWithAMarker) {
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    QTemporaryDir dir;
    const QByteArray mountPoint = QFile::encodeName(dir.path());
    if (mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
    struct Unmount {
        QByteArray at;
        ~Unmount() { umount2(at.constData(), MNT_DETACH); }
    } unmount{mountPoint};
    const QString filler = dir.filePath(QStringLiteral("filler"));
    {
        QFile f(filler);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(16 * 1024, 'f'));
    }
    const QString path = dir.filePath(QStringLiteral("full.csv"));
    DataLog log(path, 0, 0);
    QString message;
    int written = 0;
    for (; written < 5000 && message.isEmpty(); ++written)
        message = log.append(
            row("ST,+" + QString::number(written) + ".00 kg", QString::number(written) + ".00", "typed"));
    ASSERT_FALSE(message.isEmpty()) << "the disk never filled";
    EXPECT_TRUE(message.contains(QStringLiteral("No space left on device"))) << message.toStdString();
    const std::size_t rows = checkWholeRows(path);
    EXPECT_EQ(rows, std::size_t(written - 1));
    std::printf("64 KiB tmpfs with 16 KiB taken: %zu whole rows, %lld bytes, then: %s\n", rows,
                qlonglong(QFileInfo(path).size()), qPrintable(message));
    // More rows while the disk is full: quiet. Then room again.
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(log.append(row("ST,+9 kg", "9", "typed")), QString());
    ASSERT_TRUE(QFile::remove(filler));
    const QString resumed = log.append(row("ST,+10 kg", "10", "typed"));
    EXPECT_TRUE(resumed.contains(QStringLiteral("written again"))) << resumed.toStdString();
    EXPECT_TRUE(resumed.contains(QStringLiteral("11 reading(s)"))) << resumed.toStdString();
    const auto table = parseCsv(readAll(path));
    ASSERT_TRUE(table);
    ASSERT_EQ(table->size(), rows + 3);
    EXPECT_TRUE((*table)[rows + 1][5].startsWith("11 row(s) not written from "))
        << (*table)[rows + 1][5].toStdString();
    EXPECT_TRUE((*table)[rows + 1][5].endsWith(": No space left on device"));
    EXPECT_EQ((*table)[rows + 2][4], "10");
}
#endif

} // namespace

// The messages to the user follow the language; the file itself does not (its marker row stays English,
// like the result column, for the scripts that read it).
TEST(DataLog, MessagesFollowTheLanguageTheFileDoesNot) {
    vornal::util::ResourceBundle::setLocale(QStringLiteral("de"));
    struct Restore {
        ~Restore() { vornal::util::ResourceBundle::setLocale(QStringLiteral("en")); }
    } restore;
    QTemporaryDir dir;
    const QString blocker = dir.filePath(QStringLiteral("blocked"));
    {
        QFile f(blocker);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QString path = blocker + QStringLiteral("/readings.csv");
    DataLog log(path, 0, 0);
    const QString message = log.append(row("ST,+1 kg", "1", "typed"));
    EXPECT_TRUE(message.startsWith(QStringLiteral("Das Messprotokoll ") + QDir::toNativeSeparators(path) +
                                   QStringLiteral(" kann nicht geschrieben werden (")))
        << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("Die Werte werden weiter getippt.")))
        << message.toStdString();
    ASSERT_TRUE(QFile::remove(blocker));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("blocked")));
    const QString resumed = log.append(row("ST,+2 kg", "2", "typed"));
    EXPECT_TRUE(resumed.startsWith(QStringLiteral("Das Messprotokoll ") + QDir::toNativeSeparators(path) +
                                   QStringLiteral(" wird wieder geschrieben. 1 Messwert(e) von ")))
        << resumed.toStdString();
    const auto table = parseCsv(readAll(path));
    ASSERT_TRUE(table);
    ASSERT_EQ(table->size(), 3u);
    EXPECT_TRUE((*table)[1][5].startsWith(QStringLiteral("1 row(s) not written from ")))
        << (*table)[1][5].toStdString();
}
