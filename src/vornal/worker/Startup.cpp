#include "vornal/worker/Startup.h"

#include "vornal/util/FriendlyPortUtil.h"

#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialPortLocal.h>

#include <QDir>
#include <QFileInfo>

#include <exception>
#include <iostream>

namespace vornal::worker {

bool namesSimulatorScript(const QString& word, const std::function<bool(const QString&)>& reserved) {
    if (word.isEmpty() || word.startsWith(u'-') || (reserved && reserved(word)))
        return false;
    const QFileInfo info(word);
    if (info.isFile() || word.endsWith(u".vsim", Qt::CaseInsensitive))
        return true;
    const bool path = word.contains(u'/') || word.contains(u'\\');
    return path && !word.startsWith(u"/dev/") && !word.startsWith(u"\\\\.\\") && !info.exists();
}

bool takeStartOption(const QStringList& args, qsizetype& i, StartOptions& options, QString* error,
                     const std::function<bool(const QString&)>& reserved) {
    const QString& a = args[i];
    auto mistake = [&](const QString& text) {
        if (error)
            *error = text;
        return true;
    };
    if (a == u"--store" || a.startsWith(u"--store=")) {
        QString file;
        if (a == u"--store") {
            if (i + 1 >= args.size())
                return mistake(QStringLiteral("--store needs a file name"));
            file = args[++i];
        } else {
            file = a.mid(8);
        }
        // An empty name would silently mean the per-user store, the one --store is meant to avoid.
        if (file.isEmpty())
            return mistake(QStringLiteral("--store needs a file name"));
        options.storeFile = file;
        return true;
    }
    if (a == u"--simulate") {
        options.simulate = true;
        if (i + 1 < args.size() && namesSimulatorScript(args[i + 1], reserved))
            options.simulateScript = args[++i];
        return true;
    }
    if (a.startsWith(u"--simulate=")) {
        options.simulate = true;
        options.simulateScript = a.mid(11);
        return true;
    }
    return false;
}

QString checkStartOptions(const StartOptions& options) {
    if (options.simulate && !options.simulateScript.isEmpty() && !QFileInfo(options.simulateScript).isFile())
        return QStringLiteral("the simulator script %1 does not exist or is not a file (--simulate alone "
                              "uses the built-in demo instruments)")
            .arg(QDir::toNativeSeparators(options.simulateScript));
    return {};
}

QString useSimulator(const QString& programDir, const QString& script) {
    QString used;
    for (const QString& candidate : {programDir + QStringLiteral("/../lib/drivers/sim"),
                                     programDir + QStringLiteral("/../lib/vornal/drivers/sim")}) {
        if (QFileInfo(candidate).isDir()) {
            used = QDir(candidate).canonicalPath();
            Direduva::ProcessProperties::set("VAZ_DRIVER_DIR", used.toStdString());
            break;
        }
    }
    // The driver itself reads the script's name from the environment.
    if (!script.isEmpty())
        qputenv("VAZ_SIM_SCRIPT", QFileInfo(script).absoluteFilePath().toLocal8Bit());
    return used;
}

QString PortListing::message() const {
    if (libraryMissing)
        return QStringLiteral("the serial driver is not available: %1").arg(failure);
    if (!failure.isEmpty())
        return QStringLiteral("listing the serial ports failed: %1").arg(failure);
    return {};
}

PortListing listPorts(bool details) {
    using Direduva::SerialPortLocal;
    PortListing listing;
    if (!SerialPortLocal::isLibraryLoaded()) {
        listing.libraryMissing = true;
        listing.failure = QString::fromStdString(SerialPortLocal::libraryLoadError());
        return listing;
    }
    try {
        for (const auto& p : SerialPortLocal::getPortList()) {
            if (p.empty())
                listing.entryMissing = true;
            else
                listing.ports += QString::fromStdString(p);
        }
    } catch (const std::exception& e) {
        listing.failure = QString::fromUtf8(e.what());
        return listing;
    }
    if (details && !listing.ports.isEmpty() && SerialPortLocal::supports("supDriverInfo")) {
        try {
            util::FriendlyPortUtil::update();
        } catch (const std::exception& e) {
            // Without details the plain names are shown.
            std::cerr << "Port details unavailable: " << e.what() << std::endl;
        }
    }
    return listing;
}

} // namespace vornal::worker
