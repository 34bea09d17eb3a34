// vornal-cli export FILE: the stored settings as a settings export file (the window's "Export" button).
#include "Cli.h"
#include "Store.h"

#include "vornal/config/SettingsXml.h"
#include "vornal/prefs/PreferencesXml.h"

#include <QDir>
#include <QFileInfo>

namespace {

using namespace vornal;

int runExport(cli::Invocation& inv, cli::Io& io) {
    const bool force = cli::takeFlag(inv.args, QStringLiteral("--force"));
    QString error;
    const auto rest = cli::positional(inv.args, &error);
    if (!rest)
        return cli::fail(io, inv, error, cli::Usage);
    if (rest->size() != 1)
        return cli::fail(io, inv, QStringLiteral("name one file to write, e.g. vornal-cli export Vornal.xml"),
                         cli::Usage);
    const QString file = rest->first();
    const QString shown = QDir::toNativeSeparators(file);
    if (QFileInfo::exists(file) && !force)
        return cli::fail(io, inv,
                         QStringLiteral("%1 already exists; add --force to overwrite it").arg(shown));

    // The settings as the program would use them: invalid stored values are reported and exported as
    // the defaults that replace them, so the file can always be imported again.
    auto node = cli::openSettingsNode(inv);
    QStringList ports;
    const QString storedPort = node->get(QStringLiteral("port"), QString());
    if (!storedPort.isEmpty())
        ports += storedPort;
    config::Config config;
    try {
        const auto loaded = config.loadConfig(*node, ports);
        for (const QString& w : loaded.warnings)
            io.err << "vornal-cli export: " << w << Qt::endl;
    } catch (const std::exception& e) {
        return cli::fail(io, inv,
                         QStringLiteral("cannot read the settings from %1: %2")
                             .arg(cli::storeFileName(), QString::fromUtf8(e.what())));
    }
    const auto result = config::SettingsXml::exportSettings(config, file);
    if (!result.ok)
        return cli::fail(io, inv, QStringLiteral("export failed: %1").arg(result.message));
    io.out << "Exported " << result.keys.size() << " settings to " << shown << '\n';
    return cli::Ok;
}

cli::Register reg{{"export", "export [--force] FILE",
                   "write the stored settings to a settings export file (XML)", &runExport}};

} // namespace
