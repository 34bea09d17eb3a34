#pragma once

#include <QAbstractListModel>
#include <QByteArray>
#include <QList>
#include <QString>

#include <deque>
#include <memory>

namespace vornal {

// How a line of the event log, or a part of it, is shown. Plain is the pane's own look.
enum class LogStyle : quint8 { Plain, Regular, Unknown, Important, Typed, Ignored };

// A part of a line in one style: from `start` (in characters) to the next run or the end of the line.
struct LogRun {
    qint32 start = 0;
    LogStyle style = LogStyle::Plain;
    friend bool operator==(const LogRun&, const LogRun&) = default;
};

// One line of the event log, kept small: a full log holds 100,000 of them.
//
// Most lines are described by their style, a leading stamp in another style and the typed span; a line
// put together from pieces in other styles carries its runs.
struct LogEntry {
    QByteArray utf8;         // the line as shown, then the value (UTF-8)
    qint64 msecs = 0;        // when it was logged, milliseconds since the epoch
    qint32 typedStart = -1;  // the part of the line that was typed (characters), or -1
    qint32 typedLength = 0;  //
    quint16 valueBytes = 0;  // the value's length at the end of utf8
    quint16 stampLength = 0; // leading characters shown in stampStyle
    LogStyle style = LogStyle::Plain;
    LogStyle stampStyle = LogStyle::Plain;
    std::shared_ptr<const QList<LogRun>> runs; // only for lines of mixed pieces

    // A line in one style; with a stamp of `stampLength` characters in `stampStyle`.
    static LogEntry make(const QString& text, LogStyle style, qint64 msecs);

    QString text() const { return QString::fromUtf8(utf8.constData(), utf8.size() - valueBytes); }
    QString value() const {
        return QString::fromUtf8(utf8.constData() + utf8.size() - valueBytes, valueBytes);
    }
    void setTextAndValue(const QString& text, const QString& value);
    bool important() const { return style == LogStyle::Important; }
    // The runs of the line, in order, none empty; the first starts at 0. `length` is text().size().
    QList<LogRun> allRuns(qsizetype length) const;
};

// The lines of the event log: a bounded ring, oldest first, and the list model over it.
//
// Lines are stored as they come; the model announces them to its views in batches (publish()), so that a
// burst of lines costs one insertion for the views. rowCount() is what has been announced; size() and
// entry() see every stored line. The last line stays open for further pieces until a piece ends it.
class EventLogModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit EventLogModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Appends a piece: a new line, or the continuation of the open last line. `endsLine` closes it.
    void append(LogEntry piece, bool endsLine);
    // Announces what was stored since the last call. True when rows were added or changed.
    bool publish();
    bool hasPending() const { return shown_ != size() || changedRow_ >= 0; }
    void clear();

    int size() const { return static_cast<int>(entries_.size()); }
    const LogEntry& entry(int i) const { return entries_[static_cast<size_t>(i)]; }
    bool lastLineOpen() const { return open_; }
    // Every stored line, each ended by a line feed but an open last line.
    QString toPlainText() const;

    // At most `maxLines` lines; beyond that the oldest go, at least `dropBlock` at a time.
    void setLimits(int maxLines, int dropBlock);
    int maxLines() const { return maxLines_; }
    int dropBlock() const { return dropBlock_; }

private:
    void trim();

    std::deque<LogEntry> entries_;
    int shown_ = 0;       // the leading entries the views know of
    int changedRow_ = -1; // a known row that changed since it was announced
    bool open_ = false;
    int maxLines_ = 100000;
    int dropBlock_ = 1000;
};

} // namespace vornal
