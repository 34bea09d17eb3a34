// vornal-cli set KEY=VALUE...: changes stored settings, all of them or none.
#include "Cli.h"
#include "SettingsArgs.h"
#include "Store.h"

namespace {

using namespace vornal;

int runSet(cli::Invocation& inv, cli::Io& io) {
    QString error;
    const auto assignments = cli::positional(inv.args, &error);
    if (!assignments)
        return cli::fail(io, inv, error, cli::Usage);
    if (assignments->isEmpty())
        return cli::fail(
            io, inv,
            QStringLiteral("no KEY=VALUE given; the keys are: %1").arg(config::Config::keys().join(u' ')),
            cli::Usage);

    // Every value is checked before anything is stored.
    config::Config checked;
    QList<QPair<QString, QString>> toStore;
    for (const QString& a : *assignments) {
        const qsizetype eq = a.indexOf(u'=');
        if (eq <= 0)
            return cli::fail(io, inv,
                             QStringLiteral("'%1' is not KEY=VALUE; the keys are: %2")
                                 .arg(a, config::Config::keys().join(u' ')),
                             cli::Usage);
        const QString key = a.left(eq);
        QString why;
        if (!checked.setByKey(key, cli::storedForm(key, a.mid(eq + 1)), &why))
            return cli::fail(io, inv, why + QStringLiteral("; nothing was stored"), cli::Usage);
        // The stored form ("TRUE" is stored as "true").
        toStore.append({key, checked.getByKey(key)});
    }
    cli::warnAboutCustomRegex(inv, io, checked);

    auto node = cli::openSettingsNode(inv);
    try {
        // One change: the file holds all the new values or none of them.
        std::vector<std::pair<QString, QString>> entries;
        for (const auto& [key, value] : toStore)
            entries.emplace_back(key, value);
        node->putAll(entries);
        node->flush();
    } catch (const std::exception& e) {
        return cli::fail(io, inv,
                         QStringLiteral("cannot store the settings in %1: %2")
                             .arg(cli::storeFileName(), QString::fromUtf8(e.what())));
    }
    return cli::Ok;
}

cli::Register reg{
    {"set", "set KEY=VALUE...", "change stored settings (checked like the load; all or none)", &runSet}};

} // namespace
