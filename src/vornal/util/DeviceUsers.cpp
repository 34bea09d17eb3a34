#include "vornal/util/DeviceUsers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_LINUX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vornal::util {

QStringList otherProcessesUsing(const QString& path) {
    QStringList users;
#ifdef Q_OS_LINUX
    QString device = path;
    if (!device.startsWith(u'/'))
        device = QStringLiteral("/dev/") + device;
    struct stat target {};
    if (::stat(QFile::encodeName(device).constData(), &target) != 0 || !S_ISCHR(target.st_mode))
        return users;
    const QString self = QString::number(::getpid());
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : pids) {
        bool number = false;
        pid.toLongLong(&number);
        if (!number || pid == self)
            continue;
        const QString fdDir = QStringLiteral("/proc/") + pid + QStringLiteral("/fd");
        const QStringList fds = QDir(fdDir).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& fd : fds) {
            struct stat st {};
            // stat follows the descriptor's link to the open file itself: the same device number.
            if (::stat(QFile::encodeName(fdDir + u'/' + fd).constData(), &st) == 0 && S_ISCHR(st.st_mode) &&
                st.st_rdev == target.st_rdev) {
                QFile comm(QStringLiteral("/proc/") + pid + QStringLiteral("/comm"));
                QString name;
                if (comm.open(QIODevice::ReadOnly))
                    name = QString::fromLocal8Bit(comm.readAll()).trimmed();
                users += name.isEmpty() ? pid : QStringLiteral("%1 (%2)").arg(pid, name);
                break;
            }
        }
    }
#else
    Q_UNUSED(path);
#endif
    return users;
}

} // namespace vornal::util
