// vornal-cli settings [--profile NAME]: the stored settings (of the first profile, or of NAME) as the program
// loads them.
#include "Cli.h"
#include "Store.h"

#include "vornal/util/Properties.h"

namespace {

using namespace vornal;

void print(cli::Io& io, const config::Config& config) {
    for (const QString& key : config::Config::keys()) {
        QString value = config.getByKey(key);
        // One line per key: a value with line breaks is shown in the store's escaped form.
        if (value.contains(u'\n') || value.contains(u'\r'))
            value = util::Properties::escape(value, false);
        io.out << key << '=' << value << '\n';
    }
}

int runSettings(cli::Invocation& inv, cli::Io& io) {
    QString error;
    const auto profile = cli::takeValue(inv.args, QStringLiteral("--profile"), &error);
    const auto rest = error.isEmpty() ? cli::positional(inv.args, &error) : std::nullopt;
    if (!rest)
        return cli::fail(io, inv, error, cli::Usage);
    if (!rest->isEmpty())
        return cli::fail(io, inv, QStringLiteral("unexpected argument '%1'").arg(rest->first()), cli::Usage);

    if (profile) {
        // Every profile's stored port as stored; the program-wide settings are the first profile's.
        int rc = cli::Ok;
        const auto p = cli::loadProfile(inv, io, *profile, {}, &rc);
        if (!p)
            return rc;
        print(io, p->config);
        return cli::Ok;
    }

    auto node = cli::openSettingsNode(inv);
    // No port discovery here: the stored port is shown as stored (the window checks it against the
    // ports found when it starts).
    QStringList ports;
    const QString storedPort = node->get(QStringLiteral("port"), QString());
    if (!storedPort.isNull())
        ports += storedPort;

    config::Config config;
    config::Config::LoadResult loaded;
    try {
        loaded = config.loadConfig(*node, ports);
    } catch (const std::exception& e) {
        return cli::fail(io, inv,
                         QStringLiteral("cannot read the settings from %1: %2")
                             .arg(cli::storeFileName(), QString::fromUtf8(e.what())));
    }
    for (const QString& w : loaded.warnings)
        io.err << "vornal-cli settings: " << w << Qt::endl;

    print(io, config);
    return cli::Ok;
}

cli::Register reg{{"settings", "settings [--profile NAME]",
                   "print the stored settings of the first profile or of NAME (key=value, invalid values "
                   "reported and replaced by defaults)",
                   &runSettings}};

} // namespace
