#include "vornal/util/RegularFile.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vornal::util {

QString systemErrorText(int errorNumber) {
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

#ifdef Q_OS_UNIX
namespace {

QString kindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISCHR(mode))
        return QStringLiteral("a character device");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO (named pipe)");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a file");
}

QString refusal(const QString& path, mode_t mode) {
    return QStringLiteral("%1 is %2, not a regular file").arg(QDir::toNativeSeparators(path), kindOf(mode));
}

} // namespace

QString notRegularFile(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        const int e = errno;
        // A name that does not exist yet (or a dangling link) is a file still to be made.
        if (e == ENOENT)
            return QString();
        return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), systemErrorText(e));
    }
    return S_ISREG(st.st_mode) ? QString() : refusal(path, st.st_mode);
}

bool openRegularFile(QFile& file, QIODevice::OpenMode mode, QString* error) {
    const QString path = file.fileName();
    if (const QString why = notRegularFile(path); !why.isEmpty()) {
        *error = why;
        return false;
    }
    int flags = O_CLOEXEC | O_NONBLOCK;
    if ((mode & QIODevice::ReadWrite) == QIODevice::ReadWrite)
        flags |= O_RDWR | O_CREAT;
    else if (mode & QIODevice::WriteOnly)
        flags |= O_WRONLY | O_CREAT;
    else
        flags |= O_RDONLY;
    if (mode & QIODevice::Append)
        flags |= O_APPEND;
    if (mode & QIODevice::Truncate)
        flags |= O_TRUNC;
    const int fd = ::open(QFile::encodeName(path).constData(), flags, 0666);
    if (fd < 0) {
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), systemErrorText(errno));
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = refusal(path, st.st_mode);
        ::close(fd);
        return false;
    }
    // A regular file never blocks; the flag only kept the open itself from waiting.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        ::close(fd);
        return false;
    }
    return true;
}
#else
QString notRegularFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return QString();
    if (info.isDir())
        return QStringLiteral("%1 is a folder, not a regular file").arg(QDir::toNativeSeparators(path));
    if (!info.isFile())
        return QStringLiteral("%1 is not a regular file").arg(QDir::toNativeSeparators(path));
    return QString();
}

bool openRegularFile(QFile& file, QIODevice::OpenMode mode, QString* error) {
    if (const QString why = notRegularFile(file.fileName()); !why.isEmpty()) {
        *error = why;
        return false;
    }
    if (!file.open(mode)) {
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(file.fileName()), file.errorString());
        return false;
    }
    return true;
}
#endif

} // namespace vornal::util
