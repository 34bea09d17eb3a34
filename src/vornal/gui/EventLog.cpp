#include "EventLog.h"

#include "EventLogDelegate.h"
#include "vornal/util/Queued.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <limits>

namespace vornal {

namespace {

struct NamedStyle {
    const char16_t* name;
    LogStyle style;
};
constexpr NamedStyle kStyles[] = {
    {u"default", LogStyle::Plain},       {u"regular", LogStyle::Regular}, {u"unknown", LogStyle::Unknown},
    {u"important", LogStyle::Important}, {u"typed", LogStyle::Typed},     {u"ignored", LogStyle::Ignored},
};

QString nameOf(LogStyle style) {
    for (const NamedStyle& s : kStyles)
        if (s.style == style)
            return QString::fromUtf16(s.name);
    return QStringLiteral("default");
}

} // namespace

EventLog::EventLog(QWidget* parent)
    : QAbstractItemView(parent), model_(new EventLogModel(this)), delegate_(new EventLogDelegate(this)) {
    setEditTriggers(NoEditTriggers);
    setSelectionMode(ExtendedSelection);
    setSelectionBehavior(SelectRows);
    setVerticalScrollMode(ScrollPerItem);
    // Long messages wrap at the pane's edge instead of running out of sight.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Raw instrument lines align column by column.
    QFont font(QStringLiteral("Courier New"), 11);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    if (!QFontInfo(font).fixedPitch())
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(11);
    setFont(font);
    addStyles();
    model_->setLimits(kMaxLines, kDropBlock);
    setModel(model_);
    setItemDelegate(delegate_);

    publishTimer_.setSingleShot(true);
    publishTimer_.setInterval(kPublishMs);
    connect(&publishTimer_, &QTimer::timeout, this, &EventLog::showPending);
    // Lines dropped at the top: a pane that follows the end stays there, one scrolled up keeps its lines.
    connect(model_, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this] { followBeforeRemoval_ = followsEnd(); });
    connect(model_, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex&, int first, int last) {
        const int top = topRow();
        updateGeometries();
        QScrollBar* bar = verticalScrollBar();
        bar->setValue(followBeforeRemoval_ ? bar->maximum() : std::max(0, top - (last - first + 1)));
        viewport()->update();
    });
    connect(model_, &QAbstractItemModel::modelReset, this, [this] {
        updateGeometries();
        viewport()->update();
    });
}

EventLog::~EventLog() = default;

void EventLog::addStyles() {
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
    for (const NamedStyle& s : kStyles)
        delegate_->setFormat(s.style, styles_.value(QString::fromUtf16(s.name)));
}

LogStyle EventLog::styleOf(const QString& name) const {
    for (const NamedStyle& s : kStyles)
        if (name == QStringView(s.name))
            return s.style;
    return LogStyle::Plain;
}

int EventLog::maxLines() const {
    return model_->maxLines();
}

int EventLog::dropBlock() const {
    return model_->dropBlock();
}

void EventLog::setLimits(int maxLines, int dropBlock) {
    model_->setLimits(maxLines, dropBlock);
}

QString EventLog::timePrefix(const QDateTime& when) {
    return when.toString(QStringLiteral("HH:mm:ss "));
}

QString EventLog::timePrefixAt(qint64 msecs) {
    thread_local qint64 cachedSecond = std::numeric_limits<qint64>::min();
    thread_local QString cached;
    const qint64 second = msecs >= 0 ? msecs / 1000 : (msecs - 999) / 1000;
    if (second != cachedSecond) {
        cached = timePrefix(QDateTime::fromMSecsSinceEpoch(msecs, Qt::LocalTime));
        cachedSecond = second;
    }
    return cached;
}

void EventLog::logEvent(const QString& text) {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    append(LogEntry::make(timePrefixAt(now) + text, LogStyle::Regular, now), true);
}

void EventLog::logImportantEvent(const QString& text) {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    append(LogEntry::make(timePrefixAt(now) + text, LogStyle::Important, now), true);
}

void EventLog::eventLogAppend(const QString& text) {
    eventLogAppend(text, QString());
}

void EventLog::eventLogAppend(const QString& text, const QString& style) {
    const bool endsLine = text.endsWith(u'\n');
    append(LogEntry::make(endsLine ? text.chopped(1) : text, styleOf(style),
                          QDateTime::currentMSecsSinceEpoch()),
           endsLine);
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

void EventLog::appendDataLine(const worker::DataLine& line, const QString& source) {
    const QString raw = line.getRawData();
    const QString value = line.getProcessedData();
    const qint64 when =
        std::chrono::floor<std::chrono::milliseconds>(line.getInstant()).time_since_epoch().count();
    const QString time = timePrefixAt(when) + source;
    if (value.isEmpty()) {
        append(LogEntry::make(time + raw, LogStyle::Ignored, when), true);
        return;
    }
    const qsizetype p = locateValue(raw, value);
    LogEntry e = LogEntry::make(QString(), p < 0 ? LogStyle::Unknown : LogStyle::Ignored, when);
    e.setTextAndValue(time + raw, value);
    if (p >= 0) {
        e.stampLength = static_cast<quint16>(time.size());
        e.stampStyle = LogStyle::Regular;
        // The instrument's own characters at that place, not the processed value.
        e.typedStart = static_cast<qint32>(time.size() + p);
        e.typedLength = static_cast<qint32>(std::min(value.size(), raw.size() - p));
    }
    append(std::move(e), true);
}

void EventLog::append(LogEntry piece, bool endsLine) {
    if (QThread::currentThread() == thread()) {
        appendNow(std::move(piece), endsLine);
        return;
    }
    util::postQueued(this, [this, piece = std::move(piece), endsLine] { appendNow(piece, endsLine); });
}

void EventLog::appendNow(LogEntry piece, bool endsLine) {
    model_->append(std::move(piece), endsLine);
    if (model_->hasPending() && !publishTimer_.isActive())
        publishTimer_.start();
}

void EventLog::showPending() {
    publishTimer_.stop();
    const bool follow = followsEnd();
    if (!model_->publish())
        return;
    updateGeometries();
    if (follow)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    viewport()->update();
}

int EventLog::lineCount() const {
    return model_->size();
}

const LogEntry& EventLog::entry(int line) const {
    return model_->entry(line);
}

QString EventLog::lineText(int line) const {
    return model_->entry(line).text();
}

QList<EventLog::Piece> EventLog::pieces(int line) const {
    const LogEntry& e = model_->entry(line);
    const QString text = e.text();
    const QList<LogRun> runs = e.allRuns(text.size());
    QList<Piece> out;
    for (qsizetype i = 0; i < runs.size(); ++i) {
        const qsizetype end = i + 1 < runs.size() ? runs[i + 1].start : text.size();
        out.append({text.mid(runs[i].start, end - runs[i].start), nameOf(runs[i].style)});
    }
    return out;
}

QString EventLog::toPlainText() const {
    return model_->toPlainText();
}

void EventLog::clear() {
    publishTimer_.stop();
    model_->clear();
}

QString EventLog::selectedText() const {
    QList<int> rows;
    for (const QItemSelectionRange& r : selectionModel()->selection())
        for (int row = r.top(); row <= r.bottom(); ++row)
            rows.append(row);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QString out;
    for (int row : rows)
        out += model_->entry(row).text() + u'\n';
    return out;
}

void EventLog::copy() const {
    const QString text = selectedText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

bool EventLog::followsEnd() const {
    return verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

int EventLog::topRow() const {
    return std::clamp(verticalScrollBar()->value(), 0, std::max(0, model_->rowCount() - 1));
}

int EventLog::verticalOffset() const {
    // Rows are mostly one line high; the offset only has to move with the scrolling.
    return topRow() * fontMetrics().lineSpacing();
}

int EventLog::rowHeight(int row) const {
    return delegate_->heightOf(model_->entry(row), font(), viewport()->width());
}

int EventLog::lastTopRow() const {
    const int n = model_->rowCount();
    const int height = viewport()->height();
    int row = n;
    int used = 0;
    while (row > 0) {
        const int h = rowHeight(row - 1);
        if (used + h > height && row < n)
            break;
        used += h;
        --row;
    }
    return std::min(row, std::max(0, n - 1));
}

int EventLog::rowAtY(int y) const {
    const int n = model_->rowCount();
    if (n == 0)
        return -1;
    int row = topRow();
    // Far away (a selection begun many pages ago): close enough by the line height.
    const int far = 4 * std::max(viewport()->height(), 1);
    if (y > far || y < -far)
        return std::clamp(row + y / std::max(1, fontMetrics().lineSpacing()), 0, n - 1);
    if (y >= 0) {
        for (int top = 0; row < n - 1; ++row) {
            const int h = rowHeight(row);
            if (top + h > y)
                break;
            top += h;
        }
        return row;
    }
    for (int top = 0; row > 0;) {
        --row;
        top -= rowHeight(row);
        if (top <= y)
            break;
    }
    return row;
}

void EventLog::updateGeometries() {
    QScrollBar* bar = verticalScrollBar();
    const bool follow = followsEnd();
    bar->setSingleStep(1);
    bar->setPageStep(std::max(1, viewport()->height() / std::max(1, fontMetrics().lineSpacing())));
    bar->setRange(0, lastTopRow());
    if (follow)
        bar->setValue(bar->maximum());
    horizontalScrollBar()->setRange(0, 0);
    QAbstractItemView::updateGeometries();
}

void EventLog::scrollContentsBy(int, int) {
    viewport()->update();
}

QRect EventLog::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != model_)
        return {};
    const int n = model_->rowCount();
    const int width = viewport()->width();
    const int height = viewport()->height();
    int y = 0;
    for (int row = topRow(); row < n && y < height; ++row) {
        const int h = rowHeight(row);
        if (row == index.row())
            return {0, y, width, h};
        y += h;
    }
    return {};
}

QModelIndex EventLog::indexAt(const QPoint& point) const {
    const int n = model_->rowCount();
    if (point.y() < 0 || n == 0)
        return {};
    int y = 0;
    for (int row = topRow(); row < n && y < viewport()->height(); ++row) {
        y += rowHeight(row);
        if (point.y() < y)
            return model_->index(row);
    }
    return {};
}

void EventLog::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid() || index.model() != model_)
        return;
    const int row = index.row();
    const int height = viewport()->height();
    QScrollBar* bar = verticalScrollBar();
    // The top row that shows `row` with `above` pixels of lines above it.
    const auto topFor = [this, row](int above) {
        int top = row;
        for (int used = rowHeight(row); top > 0; --top) {
            const int h = rowHeight(top - 1);
            if (used + h > above + rowHeight(row))
                break;
            used += h;
        }
        return top;
    };
    switch (hint) {
    case PositionAtTop:
        bar->setValue(row);
        return;
    case PositionAtBottom:
        bar->setValue(topFor(height - rowHeight(row)));
        return;
    case PositionAtCenter:
        bar->setValue(topFor((height - rowHeight(row)) / 2));
        return;
    case EnsureVisible:
        break;
    }
    if (row < topRow()) {
        bar->setValue(row);
        return;
    }
    const QRect r = visualRect(index);
    if (!r.isValid() || r.bottom() >= height)
        bar->setValue(topFor(height - rowHeight(row)));
}

QModelIndex EventLog::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
    const int n = model_->rowCount();
    if (n == 0)
        return {};
    const QModelIndex current = currentIndex();
    int row = current.isValid() ? current.row() : topRow();
    const int page = verticalScrollBar()->pageStep();
    switch (action) {
    case MoveUp:
    case MovePrevious:
        --row;
        break;
    case MoveDown:
    case MoveNext:
        ++row;
        break;
    case MovePageUp:
        row -= page;
        break;
    case MovePageDown:
        row += page;
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = n - 1;
        break;
    default:
        break;
    }
    return model_->index(std::clamp(row, 0, n - 1));
}

void EventLog::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags flags) {
    const QRect r = rect.normalized();
    const int first = rowAtY(r.top());
    const int last = rowAtY(r.bottom());
    if (first < 0 || last < 0)
        return;
    selectionModel()->select(
        QItemSelection(model_->index(std::min(first, last)), model_->index(std::max(first, last))), flags);
}

QRegion EventLog::visualRegionForSelection(const QItemSelection& selection) const {
    QRegion region;
    const int n = model_->rowCount();
    const int width = viewport()->width();
    int y = 0;
    for (int row = topRow(); row < n && y < viewport()->height(); ++row) {
        const int h = rowHeight(row);
        if (selection.contains(model_->index(row)))
            region += QRect(0, y, width, h);
        y += h;
    }
    return region;
}

void EventLog::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const int n = model_->rowCount();
    const int width = viewport()->width();
    const int height = viewport()->height();
    const QModelIndex current = currentIndex();
    const bool active = isActiveWindow();
    int y = 0;
    for (int row = topRow(); row < n && y < height; ++row) {
        const QModelIndex index = model_->index(row);
        const int h = rowHeight(row);
        QStyleOptionViewItem o = option;
        o.rect = QRect(0, y, width, h);
        o.state.setFlag(QStyle::State_Selected, selectionModel()->isSelected(index));
        o.state.setFlag(QStyle::State_Active, active);
        o.state.setFlag(QStyle::State_HasFocus, hasFocus() && index == current);
        delegate_->paint(&painter, o, index);
        y += h;
    }
}

void EventLog::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy) {
        copy();
        event->accept();
        return;
    }
    QAbstractItemView::keyPressEvent(event);
}

void EventLog::contextMenuEvent(QContextMenuEvent* event) {
    // The entries of a read-only text pane's menu, in Qt's own words.
    QMenu menu(this);
    QAction* copyAction =
        menu.addAction(QCoreApplication::translate("QWidgetTextControl", "&Copy"), this, [this] { copy(); });
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(selectionModel()->hasSelection());
    menu.addSeparator();
    QAction* all = menu.addAction(QCoreApplication::translate("QWidgetTextControl", "Select All"), this,
                                  [this] { selectAll(); });
    all->setShortcut(QKeySequence::SelectAll);
    all->setEnabled(model_->rowCount() > 0);
    menu.exec(event->globalPos());
}

} // namespace vornal
