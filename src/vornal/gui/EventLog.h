#pragma once

#include "EventLogModel.h"
#include "vornal/worker/DataLine.h"

#include <QAbstractItemView>
#include <QDateTime>
#include <QHash>
#include <QTextCharFormat>
#include <QTimer>

namespace vornal {

class EventLogDelegate;

// The event log pane: time-stamped lines in a fixed-pitch font with named styles ("regular",
// "unknown", "important", "typed", "ignored") and the data-line display that shows which part of a
// received line was typed. Appends are accepted from any thread: off the user-interface thread they are
// queued to it, so each one lands whole and in the order it was made.
//
// The lines live in a bounded ring (EventLogModel), drawn by EventLogDelegate; an append stores the line
// at once and the pane catches up in batches, at most every kPublishMs, so a fast instrument costs one
// view update per batch rather than per line. The pane follows the end unless the user scrolled up.
// Lines can be selected and copied as plain text (Ctrl+C, context menu).
//
// The pane keeps at most maxLines() lines; beyond that the oldest lines go in blocks of dropBlock()
// lines, so a connection running for weeks does not eat the memory.
class EventLog : public QAbstractItemView {
    Q_OBJECT
public:
    explicit EventLog(QWidget* parent = nullptr);
    ~EventLog() override;

    // One time-stamped line in "regular" / "important".
    void logEvent(const QString& text);
    void logImportantEvent(const QString& text);
    // A fragment without time stamp, unstyled or in a named style (an unknown name gives plain text).
    // A trailing line feed ends the line.
    void eventLogAppend(const QString& text);
    void eventLogAppend(const QString& text, const QString& style);
    // The data-line display: the value found in the raw line in "typed", the rest in "ignored".
    // `source` (the instrument's name at a station of several) follows the time stamp, in its style.
    void appendDataLine(const worker::DataLine& line, const QString& source = QString());

    // The styles by name ("default" is the pane's base).
    QTextCharFormat style(const QString& name) const { return styles_.value(name); }
    bool hasStyle(const QString& name) const { return styles_.contains(name); }

    // The time prefix of a line: "HH:mm:ss ".
    static QString timePrefix(const QDateTime& when);
    // The same for a time in milliseconds since the epoch, in local time. The prefix of the last second
    // asked for is kept, so the many lines of one second cost one time-zone conversion.
    static QString timePrefixAt(qint64 msecs);

    // Where in `raw` (the visible form) the value shows up, or -1; with the comma/point search for
    // values whose decimal separator was changed. Returns -1 also when a control-character marker
    // precedes the value (the line is then shown as "unknown").
    static qsizetype locateValue(const QString& raw, const QString& value);

    static constexpr int kMaxLines = 100000;
    static constexpr int kDropBlock = 1000;
    static constexpr int kPublishMs = 20;
    int maxLines() const;
    int dropBlock() const;
    void setLimits(int maxLines, int dropBlock);

    // What the log holds, lines still on their way to the pane included.
    struct Piece {
        QString text;
        QString style; // a style name; "default" for unstyled text
    };
    int lineCount() const;
    QString lineText(int line) const;
    QList<Piece> pieces(int line) const;
    const LogEntry& entry(int line) const;
    QString toPlainText() const;
    void clear();

    // The selected lines as plain text, each ended by a line feed; copy() puts them on the clipboard.
    QString selectedText() const;
    void copy() const;
    // True while the pane follows the end (the user has not scrolled up).
    bool followsEnd() const;
    // Brings the pane up to date with the stored lines now instead of at the next batch.
    void showPending();
    EventLogModel* logModel() const { return model_; }

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override { return 0; }
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex&) const override { return false; }
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags flags) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void addStyles();
    void append(LogEntry piece, bool endsLine);
    void appendNow(LogEntry piece, bool endsLine);
    LogStyle styleOf(const QString& name) const;
    int topRow() const;
    int rowHeight(int row) const;
    // The highest top row that still fills the pane down to the last line.
    int lastTopRow() const;
    // The row at `y` (pane coordinates, may lie above or below the pane), clamped to the rows.
    int rowAtY(int y) const;

    EventLogModel* model_ = nullptr;
    EventLogDelegate* delegate_ = nullptr;
    QHash<QString, QTextCharFormat> styles_;
    QTimer publishTimer_;
    bool followBeforeRemoval_ = true;
};

} // namespace vornal
