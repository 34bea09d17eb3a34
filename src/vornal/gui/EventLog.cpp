#include "EventLog.h"

#include "vornal/util/Queued.h"

#include <QFontDatabase>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QThread>

namespace vornal {

EventLog::EventLog(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setUndoRedoEnabled(false);
    // Long messages wrap at the pane's edge instead of running out of sight.
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    // Raw instrument lines align column by column.
    QFont font(QStringLiteral("Courier New"), 11);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    if (!QFontInfo(font).fixedPitch())
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(11);
    setFont(font);
    addStylesToDocument();
}

void EventLog::addStylesToDocument() {
    QTextCharFormat def;
    styles_.insert(QStringLiteral("default"), def);
    QTextCharFormat regular = def;
    styles_.insert(QStringLiteral("regular"), regular);
    QTextCharFormat unknown = regular;
    unknown.setFontItalic(true);
    styles_.insert(QStringLiteral("unknown"), unknown);
    QTextCharFormat important = regular;
    important.setForeground(QColor(0xc0, 0x10, 0x10));
    styles_.insert(QStringLiteral("important"), important);
    QTextCharFormat typed = regular;
    typed.setForeground(QColor(0x00, 0x70, 0x20));
    typed.setFontWeight(QFont::Bold);
    styles_.insert(QStringLiteral("typed"), typed);
    QTextCharFormat ignored = regular;
    ignored.setForeground(QColor(0x80, 0x80, 0x80));
    styles_.insert(QStringLiteral("ignored"), ignored);
}

void EventLog::setLimits(int maxLines, int dropBlock) {
    maxLines_ = qMax(1, maxLines);
    dropBlock_ = qBound(1, dropBlock, maxLines_);
}

QString EventLog::timePrefix(const QDateTime& when) {
    return when.toString(QStringLiteral("HH:mm:ss "));
}

void EventLog::logEvent(const QString& text) {
    append({{timePrefix(QDateTime::currentDateTime()) + text + u'\n', QStringLiteral("regular")}});
}

void EventLog::logImportantEvent(const QString& text) {
    append({{timePrefix(QDateTime::currentDateTime()) + text + u'\n', QStringLiteral("important")}});
}

void EventLog::eventLogAppend(const QString& text) {
    append({{text, QString()}});
}

void EventLog::eventLogAppend(const QString& text, const QString& style) {
    append({{text, style}});
}

qsizetype EventLog::locateValue(const QString& raw, const QString& value) {
    if (value.isEmpty())
        return -1;
    qsizetype p = raw.indexOf(value);
    if (p < 0)
        p = raw.indexOf(QString(value).replace(u',', u'.'));
    if (p < 0)
        p = raw.indexOf(QString(value).replace(u'.', u','));
    if (p < 0 || raw.left(p).contains(u'<'))
        return -1;
    return p;
}

void EventLog::appendDataLine(const worker::DataLine& line) {
    const QString raw = line.getRawData();
    const QString value = line.getProcessedData();
    const QString time = timePrefix(line.getDateTime());
    if (value.isEmpty()) {
        append({{time + raw + u'\n', QStringLiteral("ignored")}});
        return;
    }
    const qsizetype p = locateValue(raw, value);
    if (p < 0) {
        append({{time + raw + u'\n', QStringLiteral("unknown")}});
        return;
    }
    QList<Fragment> parts;
    parts.append({time, QStringLiteral("regular")});
    if (p > 0)
        parts.append({raw.left(p), QStringLiteral("ignored")});
    // The instrument's own characters at that place, not the processed value.
    parts.append({raw.mid(p, value.size()), QStringLiteral("typed")});
    parts.append({raw.mid(p + value.size()) + u'\n', QStringLiteral("ignored")});
    append(parts);
}

void EventLog::append(QList<Fragment> fragments) {
    if (QThread::currentThread() == thread()) {
        appendNow(fragments);
        return;
    }
    util::postQueued(this, [this, fragments = std::move(fragments)] { appendNow(fragments); });
}

void EventLog::appendNow(const QList<Fragment>& fragments) {
    QScrollBar* bar = verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum() - 2;
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    for (const Fragment& f : fragments) {
        // The document's own line breaks are paragraph breaks; a trailing line feed ends the line.
        QString text = f.text;
        const bool newline = text.endsWith(u'\n');
        if (newline)
            text.chop(1);
        const QTextCharFormat format = f.style.isEmpty() ? QTextCharFormat() : styles_.value(f.style);
        text.replace(u'\n', QChar::LineSeparator);
        cursor.insertText(text, format);
        if (newline)
            cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    }
    cursor.endEditBlock();
    trim();
    if (atEnd)
        bar->setValue(bar->maximum());
}

void EventLog::trim() {
    QTextDocument* doc = document();
    // The last block is the empty one after the final line feed.
    if (doc->blockCount() - 1 <= maxLines_)
        return;
    const int drop = qMax(dropBlock_, doc->blockCount() - 1 - maxLines_);
    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, drop);
    cursor.removeSelectedText();
}

} // namespace vornal
