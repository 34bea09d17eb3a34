// vornal-cli export FILE: the stored settings, every profile, as a settings export file (the window's
// "Export" button).
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
    const auto profiles = cli::loadStation(inv, io, {});
    const auto result = config::SettingsXml::exportStation(profiles, file);
    if (!result.ok)
        return cli::fail(io, inv, QStringLiteral("export failed: %1").arg(result.message));
    io.out << "Exported " << result.keys.size() << " settings";
    if (result.profiles > 1)
        io.out << " and " << result.profiles - 1 << " further profile" << (result.profiles > 2 ? "s" : "");
    io.out << " to " << shown << '\n';
    return cli::Ok;
}

cli::Register reg{{"export", "export [--force] FILE",
                   "write the stored settings (every profile) to a settings export file (XML)", &runExport}};

} // namespace
