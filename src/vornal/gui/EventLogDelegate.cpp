#include "EventLogDelegate.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QTextLayout>

#include <cmath>

namespace vornal {

namespace {

const LogEntry* entryOf(const QModelIndex& index) {
    const auto* model = qobject_cast<const EventLogModel*>(index.model());
    if (!model || !index.isValid() || index.row() >= model->size())
        return nullptr;
    return &model->entry(index.row());
}

// The text as the layout takes it: a line feed inside a line breaks it there.
QString shownText(const LogEntry& e) {
    QString t = e.text();
    t.replace(u'\n', QChar::LineSeparator);
    return t;
}

// Room between the pane's edge and the text, as in a text pane.
constexpr int kMargin = 4;

} // namespace

EventLogDelegate::EventLogDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void EventLogDelegate::setFormat(LogStyle style, const QTextCharFormat& format) {
    formats_[static_cast<size_t>(style)] = format;
}

int EventLogDelegate::layOut(QTextLayout& layout, int width) const {
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    qreal height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(qMax(1, width));
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
    return static_cast<int>(std::ceil(height));
}

int EventLogDelegate::heightOf(const LogEntry& entry, const QFont& font, int paneWidth) const {
    const int width = paneWidth - 2 * kMargin;
    const QString text = entry.text();
    // Most lines fit on one line of the pane: measured with the widest of the styles, no layout needed.
    QFont bold = font;
    bold.setBold(true);
    const QFontMetrics boldMetrics(bold);
    if (!text.contains(u'\n') && boldMetrics.horizontalAdvance(text) <= width)
        return QFontMetrics(font).lineSpacing();
    QTextLayout layout(shownText(entry), font);
    const int h = layOut(layout, width);
    return qMax(h, QFontMetrics(font).lineSpacing());
}

QSize EventLogDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const LogEntry* e = entryOf(index);
    if (!e)
        return {};
    return {option.rect.width(), heightOf(*e, option.font, option.rect.width())};
}

void EventLogDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    const LogEntry* e = entryOf(index);
    if (!e)
        return;
    const QString text = shownText(*e);
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group =
        option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
    QList<QTextLayout::FormatRange> ranges;
    const QList<LogRun> runs = e->allRuns(text.size());
    for (qsizetype i = 0; i < runs.size(); ++i) {
        const qsizetype end = i + 1 < runs.size() ? runs[i + 1].start : text.size();
        QTextCharFormat f = format(runs[i].style);
        // Selected lines read as selected, as in any text pane.
        if (selected)
            f.setForeground(option.palette.brush(group, QPalette::HighlightedText));
        ranges.append({runs[i].start, static_cast<int>(end - runs[i].start), f});
    }
    QTextLayout layout(text, option.font);
    layout.setFormats(ranges);
    layOut(layout, option.rect.width() - 2 * kMargin);

    painter->save();
    if (selected)
        painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
    painter->setPen(option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    layout.draw(painter, option.rect.topLeft() + QPointF(kMargin, 0));
    if (option.state & QStyle::State_HasFocus) {
        QPen pen(option.palette.color(group, QPalette::Highlight));
        pen.setStyle(Qt::DotLine);
        painter->setPen(pen);
        painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
    }
    painter->restore();
}

} // namespace vornal
