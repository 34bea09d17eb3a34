#pragma once

#include <QString>

namespace vornal::worker {

// Start-up with --simulate, shared by the window and vornal-cli: points the serial library at the
// simulation driver next to the program (the build tree's lib/drivers/sim, else the installed
// lib/vornal/drivers/sim, both relative to programDir/..) and the driver at the script (VAZ_SIM_SCRIPT,
// as an absolute path; an empty script: the built-in demo instruments). Call it before the first use of
// the serial library. Returns the driver folder used; empty when neither exists, and the library then
// loads its usual driver. The caller checks the script itself and says what is wrong with it.
QString useSimulator(const QString& programDir, const QString& script);

} // namespace vornal::worker
