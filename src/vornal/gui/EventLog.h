#pragma once

#include "vornal/worker/DataLine.h"

#include <QDateTime>
#include <QHash>
#include <QPlainTextEdit>
#include <QTextCharFormat>

namespace vornal {

// The event log pane: a read-only text pane in a fixed-pitch font with named styles ("regular",
// "unknown", "important", "typed", "ignored"), time-stamped lines and the data-line display that shows
// which part of a received line was typed. Appends are accepted from any thread: off the user-interface
// thread they are queued to it, so each one lands whole and in the order it was made.
//
// The pane keeps at most maxLines() lines; beyond that the oldest lines go in blocks of
// dropBlock() lines, so a connection running for weeks does not eat the memory.
class EventLog : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit EventLog(QWidget* parent = nullptr);

    // One time-stamped line in "regular" / "important".
    void logEvent(const QString& text);
    void logImportantEvent(const QString& text);
    // A fragment without time stamp, unstyled or in a named style (an unknown name gives plain text).
    void eventLogAppend(const QString& text);
    void eventLogAppend(const QString& text, const QString& style);
    // The data-line display: the value found in the raw line in "typed", the rest in "ignored".
    void appendDataLine(const worker::DataLine& line);

    // The styles by name ("default" is the pane's base).
    QTextCharFormat style(const QString& name) const { return styles_.value(name); }
    bool hasStyle(const QString& name) const { return styles_.contains(name); }

    // The time prefix of a line: "HH:mm:ss ".
    static QString timePrefix(const QDateTime& when);

    // Where in `raw` (the visible form) the value shows up, or -1; with the comma/point search for
    // values whose decimal separator was changed. Returns -1 also when a control-character marker
    // precedes the value (the line is then shown as "unknown").
    static qsizetype locateValue(const QString& raw, const QString& value);

    static constexpr int kMaxLines = 100000;
    static constexpr int kDropBlock = 1000;
    int maxLines() const { return maxLines_; }
    int dropBlock() const { return dropBlock_; }
    void setLimits(int maxLines, int dropBlock);

private:
    struct Fragment {
        QString text;
        QString style; // empty: unstyled
    };
    // Appends the fragments at the end, as one unit, on the user-interface thread.
    void append(QList<Fragment> fragments);
    void appendNow(const QList<Fragment>& fragments);
    void trim();
    void addStylesToDocument();

    QHash<QString, QTextCharFormat> styles_;
    int maxLines_ = kMaxLines;
    int dropBlock_ = kDropBlock;
};

} // namespace vornal
