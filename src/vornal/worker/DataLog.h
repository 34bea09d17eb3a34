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
// Only a regular file is written: a FIFO, a device or a folder of that name is refused at once (no open
// ever waits). A write that fails (a full disk) is undone: the file is cut back to the end of its last
// whole row, and a file found ending in a cut-off row is cut back the same way when it is opened. A file
// that cannot be written never stops typing: append() returns the reason (the system's own text) once,
// then keeps trying quietly with each row. When a row can be written again, a marker row goes first that
// says how many rows were not written, from when to when and why, and append() says that writing resumed.
//
// Spreadsheet safety: a field that would start a formula gets a leading apostrophe, except the value
// column when the value is a plain number (sign, digits and separators only), which stays exactly the
// typed value. A raw line longer than MAX_LINE_FIELD characters is cut and marked.
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

    // The longest raw line written whole; longer ones are cut there and marked.
    static constexpr qsizetype MAX_LINE_FIELD = 65536;

    // Writes the row. Returns an error message the first time writing fails after a success (or at the
    // start), and a message when writing resumes after a failure; "" otherwise, also while the failure
    // goes on.
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
    void close();

    QString path_;
    qint64 maxBytes_;
    int keep_;
    std::unique_ptr<QFile> file_;
    qint64 size_ = 0; // the end of the last whole row in the open file
    bool failing_ = false;
    // Rows not written since the failure began: how many, the first and last reading's time, why.
    qint64 missed_ = 0;
    QDateTime missedFrom_;
    QDateTime missedTo_;
    QString missedReason_;
};

} // namespace vornal::worker
