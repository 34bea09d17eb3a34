#include "EventLogModel.h"

#include <algorithm>
#include <limits>

namespace vornal {

LogEntry LogEntry::make(const QString& text, LogStyle style, qint64 msecs) {
    LogEntry e;
    e.utf8 = text.toUtf8();
    // The conversion reserves room for three bytes a character; a full log keeps only what it uses.
    e.utf8.squeeze();
    e.msecs = msecs;
    e.style = style;
    e.stampStyle = style;
    return e;
}

void LogEntry::setTextAndValue(const QString& text, const QString& value) {
    const QByteArray line = text.toUtf8();
    QByteArray v = value.toUtf8();
    // A value longer than the counter holds is not kept with the line (the line shows it anyway).
    if (v.size() > std::numeric_limits<quint16>::max())
        v.clear();
    valueBytes = static_cast<quint16>(v.size());
    utf8 = QByteArray();
    utf8.reserve(line.size() + v.size());
    utf8.append(line).append(v);
}

QList<LogRun> LogEntry::allRuns(qsizetype length) const {
    QList<LogRun> out;
    const auto add = [&out, length](qsizetype start, LogStyle style) {
        if (start >= length)
            return;
        if (!out.isEmpty() && out.last().start == start)
            out.removeLast();
        if (!out.isEmpty() && out.last().style == style)
            return;
        out.append({static_cast<qint32>(start), style});
    };
    if (runs) {
        for (const LogRun& r : *runs)
            add(r.start, r.style);
        return out;
    }
    add(0, stampStyle);
    add(qMin<qsizetype>(stampLength, length), style);
    if (typedStart >= 0 && typedLength > 0 && typedStart < length) {
        add(typedStart, LogStyle::Typed);
        add(qMin<qsizetype>(qsizetype(typedStart) + typedLength, length), style);
    }
    if (out.isEmpty())
        out.append({0, style});
    return out;
}

EventLogModel::EventLogModel(QObject* parent) : QAbstractListModel(parent) {}

int EventLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shown_;
}

QVariant EventLogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= shown_ || index.column() != 0)
        return {};
    if (role == Qt::DisplayRole)
        return entry(index.row()).text();
    return {};
}

void EventLogModel::append(LogEntry piece, bool endsLine) {
    if (!open_ || entries_.empty()) {
        entries_.push_back(std::move(piece));
    } else {
        // The open line goes on: the pieces keep their own styles.
        LogEntry& last = entries_.back();
        const QString head = last.text();
        const QString tail = piece.text();
        QList<LogRun> runs = last.allRuns(head.size());
        for (LogRun r : piece.allRuns(tail.size())) {
            r.start += static_cast<qint32>(head.size());
            if (runs.isEmpty() || runs.last().style != r.style)
                runs.append(r);
        }
        const QString value = piece.valueBytes ? piece.value() : last.value();
        last.setTextAndValue(head + tail, value);
        if (runs.size() <= 1) {
            last.style = last.stampStyle = runs.isEmpty() ? piece.style : runs.first().style;
            last.stampLength = 0;
            last.runs.reset();
        } else {
            last.runs = std::make_shared<const QList<LogRun>>(std::move(runs));
        }
        last.typedStart = -1;
        last.typedLength = 0;
        const int row = size() - 1;
        if (row < shown_)
            changedRow_ = row;
    }
    open_ = !endsLine;
    trim();
}

void EventLogModel::trim() {
    if (size() <= maxLines_)
        return;
    const int drop = std::min(size(), std::max(dropBlock_, size() - maxLines_));
    // The views hear of the rows they know; lines still waiting to be announced just go.
    const int known = std::min(drop, shown_);
    if (known > 0) {
        beginRemoveRows(QModelIndex(), 0, known - 1);
        entries_.erase(entries_.begin(), entries_.begin() + known);
        shown_ -= known;
        endRemoveRows();
    }
    entries_.erase(entries_.begin(), entries_.begin() + (drop - known));
    if (changedRow_ >= 0)
        changedRow_ = changedRow_ >= drop ? changedRow_ - drop : -1;
    if (entries_.empty())
        open_ = false;
}

bool EventLogModel::publish() {
    bool any = false;
    if (changedRow_ >= 0) {
        const QModelIndex i = index(changedRow_);
        changedRow_ = -1;
        emit dataChanged(i, i);
        any = true;
    }
    if (size() > shown_) {
        beginInsertRows(QModelIndex(), shown_, size() - 1);
        shown_ = size();
        endInsertRows();
        any = true;
    }
    return any;
}

void EventLogModel::clear() {
    beginResetModel();
    entries_.clear();
    shown_ = 0;
    changedRow_ = -1;
    open_ = false;
    endResetModel();
}

QString EventLogModel::toPlainText() const {
    QString out;
    for (int i = 0; i < size(); ++i) {
        out += entry(i).text();
        if (!(open_ && i == size() - 1))
            out += u'\n';
    }
    return out;
}

void EventLogModel::setLimits(int maxLines, int dropBlock) {
    maxLines_ = std::max(1, maxLines);
    dropBlock_ = std::clamp(dropBlock, 1, maxLines_);
    trim();
}

} // namespace vornal
