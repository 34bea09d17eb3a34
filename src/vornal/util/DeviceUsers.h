#pragma once

#include <QString>
#include <QStringList>

namespace vornal::util {

// The other processes that have the device `path` open, as "1234 (cat)", where the system tells (Linux:
// /proc/PID/fd; processes of other users are seen only by root). Empty elsewhere, for names that are no
// device file (the simulator's ports) and when nothing else has it open. A serial port that a second
// reader also reads loses bytes to it without any error: the connection warns when this is not empty.
QStringList otherProcessesUsing(const QString& path);

} // namespace vornal::util
