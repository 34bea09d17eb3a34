#include "Cli.h"
#include "vornal/Version.h"

namespace {
int runVersion(vornal::cli::Invocation&, vornal::cli::Io& io) {
    io.out << "vornal-cli " << VORNAL_VERSION << '\n';
    return vornal::cli::Ok;
}
vornal::cli::Register reg{{"version", "version", "print the version", &runVersion}};
} // namespace
