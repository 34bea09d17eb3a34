#include "TabSupport.h"

#include <QAbstractButton>
#include <QGridLayout>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTabWidget>

#include <algorithm>
#include <functional>
#include <tuple>

namespace vornal {

const QString TabTexts::kFrame = QStringLiteral("VororaZeZovFrame2.");

QString TabTexts::caption(const char* field) const {
    return text(kFrame + QString::fromLatin1(field) + QStringLiteral(".text"));
}

QLabel* TabTexts::label(const QString& field, const QString& key) const {
    auto* l = new QLabel(text(key.isEmpty() ? kFrame + field + QStringLiteral(".text") : key));
    l->setObjectName(field);
    return l;
}

QString TabTexts::withMnemonic(const QString& text, QChar mnemonic) {
    QString escaped = text;
    escaped.replace(u'&', QStringLiteral("&&"));
    if (mnemonic.isNull())
        return escaped;
    const qsizetype at = escaped.indexOf(mnemonic, 0, Qt::CaseInsensitive);
    if (at < 0)
        return escaped;
    return escaped.insert(at, u'&');
}

QComboBox* makeCombo(QWidget* parent, const char* name) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

QLineEdit* makeField(QWidget* parent, const char* name) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    field->setMaximumWidth(160);
    return field;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

namespace {
// The widgets of `layout` in reading order: grid cells row by row, left to right; other layouts in
// their own order.
void collectWidgets(QLayout* layout, QList<QWidget*>& out) {
    QList<std::tuple<int, int, QLayoutItem*>> items;
    auto* grid = qobject_cast<QGridLayout*>(layout);
    for (int i = 0; i < layout->count(); ++i) {
        int row = 0, col = i, rowSpan = 1, colSpan = 1;
        if (grid)
            grid->getItemPosition(i, &row, &col, &rowSpan, &colSpan);
        items.append({row, col, layout->itemAt(i)});
    }
    std::stable_sort(items.begin(), items.end(), [](const auto& a, const auto& b) {
        return std::tie(std::get<0>(a), std::get<1>(a)) < std::tie(std::get<0>(b), std::get<1>(b));
    });
    for (const auto& [row, col, item] : items) {
        if (QWidget* w = item->widget())
            out.append(w);
        else if (QLayout* inner = item->layout())
            collectWidgets(inner, out);
    }
}

bool takesFocus(const QWidget* w) {
    return !qobject_cast<const QLabel*>(w) && (w->focusPolicy() & Qt::TabFocus);
}
} // namespace

void followLayout(QLayout* layout) {
    QList<QWidget*> widgets;
    collectWidgets(layout, widgets);
    // The Tab key follows the layout.
    QWidget* previous = nullptr;
    for (QWidget* w : widgets) {
        if (!takesFocus(w))
            continue;
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
    // Each label names the field after it (its Alt letter comes from the window's mnemonics).
    for (qsizetype i = 0; i + 1 < widgets.size(); ++i) {
        auto* l = qobject_cast<QLabel*>(widgets[i]);
        if (!l || l->buddy() || l->textFormat() == Qt::RichText || !takesFocus(widgets[i + 1]))
            continue;
        l->setBuddy(widgets[i + 1]);
    }
}

void assignMnemonics(QWidget* panel, const QString& reserved, const QAbstractButton* captionKept) {
    // What gets a letter, most needed first: the labels of fields without a caption of their own, the
    // captioned controls, the labels of captioned controls; each group in the order it was built.
    QList<QWidget*> items;
    QList<QStringList> candidates;
    const auto add = [&](QWidget* w, const QString& caption) {
        QStringList starts, others;
        for (qsizetype k = 0; k < caption.size(); ++k) {
            const QString c = caption.at(k).toUpper();
            if (!caption.at(k).isLetter() || c.at(0).unicode() >= 128 || reserved.contains(c))
                continue;
            const bool wordStart = k == 0 || !caption.at(k - 1).isLetter();
            QStringList& list = wordStart ? starts : others;
            if (!starts.contains(c) && !others.contains(c))
                list << c;
        }
        items << w;
        candidates << starts + others;
    };
    for (QLabel* l : panel->findChildren<QLabel*>())
        if (l->buddy() && !qobject_cast<QAbstractButton*>(l->buddy()) && l->textFormat() != Qt::RichText)
            add(l, l->text());
    for (QAbstractButton* b : panel->findChildren<QAbstractButton*>())
        if (b != captionKept && !b->text().isEmpty() && !b->text().contains(u'&'))
            add(b, b->text());
    for (QLabel* l : panel->findChildren<QLabel*>())
        if (qobject_cast<QAbstractButton*>(l->buddy()) && l->textFormat() != Qt::RichText)
            add(l, l->text());
    // The most controls with a letter of their own: each takes a free letter of its caption or one
    // that an earlier control can give up for another of its own (word starts preferred).
    QHash<QString, int> owner;
    std::function<bool(int, QSet<QString>&)> take = [&](int item, QSet<QString>& seen) {
        // A free letter first (word starts before the others), so that earlier controls keep theirs.
        for (const QString& c : candidates[item]) {
            if (!owner.contains(c) && !seen.contains(c)) {
                seen.insert(c);
                owner[c] = item;
                return true;
            }
        }
        for (const QString& c : candidates[item]) {
            if (seen.contains(c))
                continue;
            seen.insert(c);
            if (!owner.contains(c) || take(owner[c], seen)) {
                owner[c] = item;
                return true;
            }
        }
        return false;
    };
    for (int i = 0; i < items.size(); ++i) {
        QSet<QString> seen;
        take(i, seen);
    }
    QSet<QWidget*> lettered;
    for (auto it = owner.cbegin(); it != owner.cend(); ++it) {
        QWidget* w = items[it.value()];
        lettered.insert(w);
        if (auto* l = qobject_cast<QLabel*>(w))
            l->setText(TabTexts::withMnemonic(l->text(), it.key().at(0)));
        else if (auto* b = qobject_cast<QAbstractButton*>(w))
            b->setText(TabTexts::withMnemonic(b->text(), it.key().at(0)));
    }
    // A label only lends its letter to a control with a caption of its own: without one it names
    // nothing.
    for (QWidget* w : items)
        if (auto* l = qobject_cast<QLabel*>(w);
            l && !lettered.contains(l) && qobject_cast<QAbstractButton*>(l->buddy()))
            l->setBuddy(nullptr);
}

void showTab(QWidget* page) {
    for (QWidget* w = page ? page->parentWidget() : nullptr; w; w = w->parentWidget()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
            const int at = tabs->indexOf(page);
            if (at >= 0)
                tabs->setCurrentIndex(at);
            return;
        }
    }
}

} // namespace vornal
