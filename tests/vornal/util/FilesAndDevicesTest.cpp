// What the system tells about files and devices: a name that is no regular file, an open that must not
// wait, and the other processes that have a serial device open.
#include "vornal/util/DeviceUsers.h"
#include "vornal/util/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vornal::util;

TEST(RegularFile, OnlyRegularFilesAndLinksToThemPass) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("file.txt"));
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    const QString link = dir.filePath(QStringLiteral("link"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(file, link));
    EXPECT_EQ(notRegularFile(file), QString());
    EXPECT_EQ(notRegularFile(link), QString());
    EXPECT_EQ(notRegularFile(dir.filePath(QStringLiteral("not-yet"))), QString())
        << "a file still to be made";
    EXPECT_EQ(notRegularFile(fifo), fifo + QStringLiteral(" is a FIFO (named pipe), not a regular file"));
    EXPECT_EQ(notRegularFile(dir.path()), dir.path() + QStringLiteral(" is a folder, not a regular file"));
    EXPECT_EQ(notRegularFile(QStringLiteral("/dev/null")),
              QStringLiteral("/dev/null is a character device, not a regular file"));
    EXPECT_TRUE(notRegularFile(QString(5000, u'a')).endsWith(QStringLiteral("File name too long")));

    // Opening a FIFO that nobody writes would wait for ever: refused at once, for reading and writing.
    for (QIODevice::OpenMode mode :
         {QIODevice::OpenMode(QIODevice::ReadOnly), QIODevice::WriteOnly | QIODevice::Append}) {
        const auto start = std::chrono::steady_clock::now();
        QFile f(fifo);
        QString error;
        EXPECT_FALSE(openRegularFile(f, mode, &error));
        EXPECT_TRUE(error.contains(QStringLiteral("FIFO"))) << error.toStdString();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    }
    QFile f(link);
    QString error;
    ASSERT_TRUE(openRegularFile(f, QIODevice::WriteOnly | QIODevice::Append, &error)) << error.toStdString();
    EXPECT_EQ(f.write("x"), 1);
}

TEST(DeviceUsers, AnotherReaderOfTheSameDeviceIsNamed) {
    int master = -1, slave = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    const QString device = QString::fromLocal8Bit(name);
    // Only this process: nobody else.
    EXPECT_EQ(otherProcessesUsing(device), QStringList());
    const pid_t reader = fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        pause(); // holds the slave it inherited, like a "cat" on the port
        _exit(0);
    }
    close(slave);
    const QStringList users = otherProcessesUsing(device);
    kill(reader, SIGKILL);
    waitpid(reader, nullptr, 0);
    close(master);
    ASSERT_EQ(users.size(), 1);
    EXPECT_TRUE(users[0].startsWith(QString::number(reader) + QStringLiteral(" (")))
        << users[0].toStdString();
    EXPECT_EQ(otherProcessesUsing(QStringLiteral("SIM1")), QStringList()) << "no device file";
}
