#include "Cli.h"
#include "vornal/Version.h"

namespace {
int runVersion(vornal::cli::Invocation& inv, vornal::cli::Io& io) {
    if (!inv.args.isEmpty())
        return vornal::cli::fail(io, inv, QStringLiteral("unexpected argument '%1'").arg(inv.args.first()),
                                 vornal::cli::Usage);
    io.out << "vornal-cli " << VORNAL_VERSION << '\n';
    return vornal::cli::Ok;
}
vornal::cli::Register reg{{"version", "version", "print the version", &runVersion}};
} // namespace
