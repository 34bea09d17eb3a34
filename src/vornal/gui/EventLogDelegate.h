#pragma once

#include "EventLogModel.h"

#include <QStyledItemDelegate>
#include <QTextCharFormat>

#include <array>

class QTextLayout;

namespace vornal {

// Draws one line of the event log: the text in the styles of its parts (the typed part highlighted),
// wrapped at the pane's edge. The formats come from the log's named styles.
class EventLogDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit EventLogDelegate(QObject* parent = nullptr);

    void setFormat(LogStyle style, const QTextCharFormat& format);
    const QTextCharFormat& format(LogStyle style) const { return formats_[static_cast<size_t>(style)]; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The height of a line in a pane `paneWidth` pixels wide.
    int heightOf(const LogEntry& entry, const QFont& font, int paneWidth) const;

private:
    // Lays out `text` in `layout` at `width`; returns the height.
    int layOut(QTextLayout& layout, int width) const;
    std::array<QTextCharFormat, 6> formats_;
};

} // namespace vornal
