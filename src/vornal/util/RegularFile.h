#pragma once

#include <QFile>
#include <QString>

namespace vornal::util {

// Files the program reads and writes by name (the settings store, export files, the data log) must be
// ordinary files. A device node or a FIFO in their place would be replaced by a rename (a save is a
// temporary file renamed over the target: "/dev/null" would become a settings file), or would block
// the open or the read for ever (a FIFO with nobody at the other end).

// "" when `path` does not exist or is a regular file (also through symbolic links); otherwise why it
// is refused, naming the path: "/dev/null is a character device, not a regular file", "... is a
// folder ...". A path the system cannot even look at (a name too long, a folder without permission)
// gives that reason.
QString notRegularFile(const QString& path);

// Opens `file` (its fileName()) like QFile::open, without ever blocking: a FIFO, a device or a folder
// is refused with notRegularFile()'s text, also when it appears between the check and the open.
// `error` receives the reason, with the system's own text ("No space left on device").
bool openRegularFile(QFile& file, QIODevice::OpenMode mode, QString* error);

// The system's text for an error number (strerror), never "Unknown error" for a known number.
QString systemErrorText(int errorNumber);

} // namespace vornal::util
