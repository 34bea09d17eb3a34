#include "vornal/worker/SimulatorSetup.h"

#include <Direduva/ProcessProperties.h>

#include <QDir>
#include <QFileInfo>

namespace vornal::worker {

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

} // namespace vornal::worker
