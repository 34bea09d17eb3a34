#pragma once

#include <QDateTime>
#include <QFile>
#include <QString>

#include <memory>

namespace vornal::worker {

// The data log: one CSV row per received line, for laboratories that must keep every reading with its
// time beside what was typed. UTF-8 with a byte-order mark (so spreadsheets detect the encoding), a header
// row, fields quoted where they need it, rows ending in CR LF. Each row is written with one append and
// flushed at once, so a crash or SIGKILL leaves every written row whole. When the file would grow past
// the size limit it is renamed to "NAME.1.csv" (older ones move up to "NAME.KEEP.csv", the oldest is
// deleted) and a new file is begun.
//
// A file that cannot be written never stops typing: append() returns the reason once, then keeps trying
// quietly with each row until the file can be written again.
class DataLog {
public:
    struct Row {
        QDateTime time;     // local time; written as ISO 8601 with the offset from UTC
        QString port;       // the port name
        QString instrument; // the preset's name as the window shows it
        QString rawLine;    // control characters shown as "<13>", as in the event log
        QString value;      // the extracted value, also when it was not typed
        QString outcome;    // "typed", or why not: "unstable", "duplicate", ...
        QString preset;     // the preset's constant name (for scripts: AND, KERN_572, ...)
    };

    // `maxBytes` 0: no size limit. `keep`: rotated files kept (0: the full file is begun anew).
    DataLog(QString path, qint64 maxBytes, int keep);
    ~DataLog();
    DataLog(const DataLog&) = delete;
    DataLog& operator=(const DataLog&) = delete;

    // Writes the row. Returns an error message the first time writing fails after a success (or at the
    // start); "" otherwise, also while the failure goes on.
    QString append(const Row& row);

    const QString& path() const { return path_; }
    // True while the last row could not be written.
    bool failing() const { return failing_; }

    // The header row and the text of one row (CR LF included).
    static QByteArray headerRow();
    static QByteArray formatRow(const Row& row);
    // "2026-12-08T14:03:07.125+01:00".
    static QString isoTime(const QDateTime& time);
    // The name of the n-th rotated file: "data.csv" gives "data.1.csv"; a name without suffix "data.1".
    static QString rotatedName(const QString& path, int n);

private:
    bool open(QString* error);
    bool rotate(QString* error);
    bool write(const QByteArray& bytes, QString* error);

    QString path_;
    qint64 maxBytes_;
    int keep_;
    std::unique_ptr<QFile> file_;
    bool failing_ = false;
};

} // namespace vornal::worker
