#pragma once
// What the pty benchmarks share: the termios driver of this build, a raw pty whose far side the
// benchmark writes to, and a GENERIC connection on its near side.

#include "vornal/config/Config.h"
#include "vornal/config/ConfigHelper.h"
#include "vornal/util/ResourceBundle.h"

#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialPortLocal.h>

#include <QCoreApplication>

#include <cstdio>
#include <optional>

#include <pty.h>
#include <sys/resource.h>
#include <termios.h>

namespace vornal::bench {

// English texts, the termios driver next to the program, no library diagnostics. After QCoreApplication.
inline void useTermiosDriver() {
    util::ResourceBundle::setLocale(QStringLiteral("en"));
    const QString libDir = QCoreApplication::applicationDirPath() + QStringLiteral("/../lib/drivers/posix");
    Direduva::ProcessProperties::set("VAZ_DRIVER_DIR", libDir.toStdString());
    Direduva::SerialPortLocal::setDiagnosticOutput(nullptr);
}

struct Pty {
    int master = -1; // the instrument's side
    int slave = -1;  // held open until the connection has opened the port by name
    QString name;
};

// A raw pty, or none (with the reason on stderr).
inline std::optional<Pty> openRawPty() {
    Pty p;
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&p.master, &p.slave, name, &raw, nullptr) != 0) {
        std::perror("openpty");
        return std::nullopt;
    }
    p.name = QString::fromLatin1(name);
    return p;
}

// The GENERIC preset's settings on `port`.
inline config::Config genericOn(const QString& port) {
    config::Config c = config::ConfigHelper::Instrument::GENERIC.getDefaultConfig();
    c.setInstrument(config::ConfigHelper::Instrument::GENERIC);
    c.setPort(port);
    return c;
}

// User plus system CPU time of the whole process, in seconds.
inline double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace vornal::bench
