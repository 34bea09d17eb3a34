// vornal-cli import FILE: stores the settings of a settings export file (the window's "Import" button).
// Every value is checked first; a file that is refused changes nothing.
#include "Cli.h"
#include "Store.h"

#include "vornal/config/SettingsXml.h"
#include "vornal/prefs/PreferencesXml.h"

#include <QDir>

namespace {

using namespace vornal;

int runImport(cli::Invocation& inv, cli::Io& io) {
    QString error;
    const auto rest = cli::positional(inv.args, &error);
    if (!rest)
        return cli::fail(io, inv, error, cli::Usage);
    if (rest->size() != 1)
        return cli::fail(io, inv,
                         QStringLiteral("name one settings export file, e.g. vornal-cli import Vornal.xml"),
                         cli::Usage);
    auto node = cli::openSettingsNode(inv);
    const auto result = config::SettingsXml::importSettings(*node, rest->first());
    if (!result.ok)
        return cli::fail(
            io, inv,
            QStringLiteral("import failed, the stored settings are unchanged: %1").arg(result.message));
    io.out << "Imported " << result.keys.size() << " settings";
    if (result.profiles > 1)
        io.out << " and " << result.profiles - 1 << " further profile" << (result.profiles > 2 ? "s" : "");
    io.out << " from " << QDir::toNativeSeparators(rest->first()) << " into " << cli::storeFileName() << '\n';
    return cli::Ok;
}

cli::Register reg{{"import", "import FILE",
                   "store the settings of a settings export file (checked first; all or none)", &runImport}};

} // namespace
