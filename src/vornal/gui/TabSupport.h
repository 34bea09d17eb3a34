#pragma once

#include "vornal/util/ResourceBundle.h"

#include <QComboBox>
#include <QString>

class QAbstractButton;
class QLabel;
class QLayout;
class QLineEdit;
class QPushButton;
class QWidget;

namespace vornal {

// What the window's tabs share: their texts (keys of the window's bundle, most under the frame's
// prefix "VororaZeZovFrame2.") and the making of their controls.
class TabTexts {
public:
    static const QString kFrame;

    explicit TabTexts(const util::ResourceBundle& bundle) : bundle_(&bundle) {}
    const util::ResourceBundle& bundle() const { return *bundle_; }
    QString text(const QString& key) const { return bundle_->getString(key); }
    // The caption of a control or label: "VororaZeZovFrame2.<field>.text".
    QString caption(const char* field) const;
    // A label named `field` with the text of `key` (default: the field's caption).
    QLabel* label(const QString& field, const QString& key = QString()) const;
    // `text` with `&` escaped and the first `mnemonic` marked as the Alt letter.
    static QString withMnemonic(const QString& text, QChar mnemonic);

private:
    const util::ResourceBundle* bundle_;
};

QComboBox* makeCombo(QWidget* parent, const char* name);
QLineEdit* makeField(QWidget* parent, const char* name);
QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption);

// Each item carries the setting's stored form as its data: the constant's name, or for the port value
// sets (whose settings hold indices) the index.
template <class E> void fillCombo(QComboBox* box) {
    for (const auto& v : E::values())
        box->addItem(v.toString(), v.name());
}
template <class E> void fillIndexCombo(QComboBox* box) {
    for (const auto& v : E::values())
        box->addItem(v.toString(), QString::number(box->count()));
}

// Tab order in reading order of `layout`; each label becomes its field's buddy (the Alt letter comes
// later, when every tab is built).
void followLayout(QLayout* layout);
// Gives every label of a field and every captioned control on `panel` an Alt letter of its caption,
// unique on the panel and none of `reserved`, as far as the captions allow; `captionKept` keeps its
// caption as it is.
void assignMnemonics(QWidget* panel, const QString& reserved, const QAbstractButton* captionKept);
// Brings the tab that holds `page` to the front.
void showTab(QWidget* page);

} // namespace vornal
