#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QLineEdit;
class QTabWidget;

namespace vornal {

// Guards one text field of the main window: when the field is about to lose the focus its text is
// checked; an acceptable text is stored in its setting, a refused one is reported ("error" dialog with
// the field's message), the field is emptied, the focus comes back to it and the tab that holds the field
// is selected again, so that a tab change cannot leave the refused text behind.
//
// The window creates one verifier per field and keeps it (the field is its parent):
//
//   auto* v = new DecimalTextFieldUpdate(decimalTextField, [this](const QString& t) {
//       config_.setDecimalPlaces(t); }, tabbedPane, processingPanel);
//
// and runs shouldYieldFocus(field) in updateConfigFromTabs. While the window closes (see setClosing)
// refused texts are emptied silently.
class FieldVerifier : public QObject {
    Q_OBJECT
public:
    using Store = std::function<void(const QString&)>;

    // Watches `field` (the verifier becomes its child). `store` receives every accepted text; `tabs` and
    // `page` name the tab re-selected after a refusal (both may be null: no tab is selected then).
    FieldVerifier(QLineEdit* field, Store store, QTabWidget* tabs, QWidget* page, QString messageKey);

    // Whether the field's text is acceptable for its setting.
    bool verify(QLineEdit* field) const;
    // The focus-loss rule: true (and the text stored) when accepted; otherwise the refusal described
    // above, and false.
    bool shouldYieldFocus(QLineEdit* field);

    // The text rule of this field.
    virtual bool accepts(const QString& text) const = 0;
    // The stored form of an accepted text (the text itself unless a field says otherwise).
    virtual QString normalize(const QString& text) const { return text; }

    QLineEdit* field() const { return field_; }
    const QString& messageKey() const { return messageKey_; }

    // The window is closing: refusals empty the field without a dialog and without moving the focus.
    // By default the verifiers read their own flag; the window can hand over its own (e.g.
    // `&VororaZeZovFrame2::closing`) so that there is one flag.
    static bool closing();
    static void setClosing(bool on);
    static void setClosingCheck(std::function<bool()> check);

signals:
    // A text was refused (after the message was shown).
    void refused(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* field_;
    Store store_;
    QPointer<QTabWidget> tabs_;
    QPointer<QWidget> page_;
    QString messageKey_;
    // Set while the refusal's message is shown: the dialog takes the focus, which is no second leave.
    bool refusing_ = false;
};

// "mathOperand": empty, or a decimal number other than zero; a "," is read as the decimal point and
// stored (and shown) as ".", the form the settings and the arithmetic read.
class MathOperandTextFieldUpdate : public FieldVerifier {
    Q_OBJECT
public:
    MathOperandTextFieldUpdate(QLineEdit* field, Store store, QTabWidget* tabs = nullptr,
                               QWidget* page = nullptr);
    bool accepts(const QString& text) const override;
    QString normalize(const QString& text) const override;
};

// "decimalPlaces": empty, or a whole number from 0 to 7.
class DecimalTextFieldUpdate : public FieldVerifier {
    Q_OBJECT
public:
    DecimalTextFieldUpdate(QLineEdit* field, Store store, QTabWidget* tabs = nullptr,
                           QWidget* page = nullptr);
    bool accepts(const QString& text) const override;
};

// "editNumCharacters": empty, or a whole number from 1 to 99.
class EditNumCharactersTextFieldUpdate : public FieldVerifier {
    Q_OBJECT
public:
    EditNumCharactersTextFieldUpdate(QLineEdit* field, Store store, QTabWidget* tabs = nullptr,
                                     QWidget* page = nullptr);
    bool accepts(const QString& text) const override;
};

// "everyXValues": empty, or a whole number from 2 to 99.
class EveryXValuesTextFieldUpdate : public FieldVerifier {
    Q_OBJECT
public:
    EveryXValuesTextFieldUpdate(QLineEdit* field, Store store, QTabWidget* tabs = nullptr,
                                QWidget* page = nullptr);
    bool accepts(const QString& text) const override;
};

// "removeCharacters": any text whose characters all have codes 0 to 255.
class RemoveCharactersTextFieldUpdate : public FieldVerifier {
    Q_OBJECT
public:
    RemoveCharactersTextFieldUpdate(QLineEdit* field, Store store, QTabWidget* tabs = nullptr,
                                    QWidget* page = nullptr);
    bool accepts(const QString& text) const override;
};

} // namespace vornal
