#include "FieldVerifiers.h"

#include "DialogTexts.h"
#include "MessageBoxes.h"
#include "vornal/config/ConfigHelper.h"

#include <QEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QTabWidget>
#include <QTimer>

namespace vornal {

namespace {
bool& ownClosingFlag() {
    static bool flag = false;
    return flag;
}
std::function<bool()>& closingCheck() {
    static std::function<bool()> check;
    return check;
}
} // namespace

FieldVerifier::FieldVerifier(QLineEdit* field, Store store, QTabWidget* tabs, QWidget* page,
                             QString messageKey)
    : QObject(field), field_(field), store_(std::move(store)), tabs_(tabs), page_(page),
      messageKey_(std::move(messageKey)) {
    field_->installEventFilter(this);
}

bool FieldVerifier::verify(QLineEdit* field) const {
    return field && accepts(field->text());
}

bool FieldVerifier::shouldYieldFocus(QLineEdit* field) {
    if (!field)
        return true;
    const QString text = field->text();
    if (accepts(text)) {
        const QString stored = normalize(text);
        if (stored != text)
            field->setText(stored);
        if (store_)
            store_(stored);
        return true;
    }
    // The setting keeps its last valid value; the emptied field is stored when it is next left.
    field->clear();
    if (closing())
        return false;
    refusing_ = true;
    MessageBoxes::error(field->window(), DialogTexts::text(messageKey_),
                        DialogTexts::text(QStringLiteral("error")));
    refusing_ = false;
    // Posted, so that it runs after the focus change and the tab change that caused this check.
    QPointer<QLineEdit> guarded(field);
    QTimer::singleShot(0, this, [this, guarded] {
        if (closing() || !guarded)
            return;
        if (tabs_ && page_) {
            const int index = tabs_->indexOf(page_);
            if (index >= 0)
                tabs_->setCurrentIndex(index);
        }
        guarded->setFocus(Qt::OtherFocusReason);
    });
    emit refused(text);
    return false;
}

bool FieldVerifier::eventFilter(QObject* watched, QEvent* event) {
    if (watched == field_ && event->type() == QEvent::FocusOut && !refusing_) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // Switching to another program or opening a menu is no leave of the field.
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            shouldYieldFocus(field_);
    }
    return QObject::eventFilter(watched, event);
}

bool FieldVerifier::closing() {
    if (closingCheck())
        return closingCheck()();
    return ownClosingFlag();
}

void FieldVerifier::setClosing(bool on) {
    ownClosingFlag() = on;
}

void FieldVerifier::setClosingCheck(std::function<bool()> check) {
    closingCheck() = std::move(check);
}

// ---- the five fields ----

using config::ConfigHelper;

MathOperandTextFieldUpdate::MathOperandTextFieldUpdate(QLineEdit* field, Store store, QTabWidget* tabs,
                                                       QWidget* page)
    : FieldVerifier(field, std::move(store), tabs, page, QStringLiteral("error.math.operand")) {}
bool MathOperandTextFieldUpdate::accepts(const QString& text) const {
    // A decimal comma is read as the point (the text is stored as typed).
    QString number = text;
    number.replace(u',', u'.');
    if (text.isEmpty())
        return true;
    if (!ConfigHelper::MathOperand::valid(number))
        return false;
    // Not only the text "0": any zero ("0.0", "-0", "0e3") would fail the division of every line.
    for (const QChar c : number) {
        if (c == u'e' || c == u'E')
            break;
        if (c >= u'1' && c <= u'9')
            return true;
    }
    return false;
}

QString MathOperandTextFieldUpdate::normalize(const QString& text) const {
    QString number = text;
    return number.replace(u',', u'.');
}

DecimalTextFieldUpdate::DecimalTextFieldUpdate(QLineEdit* field, Store store, QTabWidget* tabs, QWidget* page)
    : FieldVerifier(field, std::move(store), tabs, page, QStringLiteral("error.decimal.places")) {}
bool DecimalTextFieldUpdate::accepts(const QString& text) const {
    return ConfigHelper::DecimalPlaces::valid(text);
}

EditNumCharactersTextFieldUpdate::EditNumCharactersTextFieldUpdate(QLineEdit* field, Store store,
                                                                   QTabWidget* tabs, QWidget* page)
    : FieldVerifier(field, std::move(store), tabs, page, QStringLiteral("error.edit.numCharacters")) {}
bool EditNumCharactersTextFieldUpdate::accepts(const QString& text) const {
    return ConfigHelper::EditNumCharacters::valid(text);
}

EveryXValuesTextFieldUpdate::EveryXValuesTextFieldUpdate(QLineEdit* field, Store store, QTabWidget* tabs,
                                                         QWidget* page)
    : FieldVerifier(field, std::move(store), tabs, page, QStringLiteral("error.edit.everyXValues")) {}
bool EveryXValuesTextFieldUpdate::accepts(const QString& text) const {
    return ConfigHelper::EveryXValues::valid(text);
}

RemoveCharactersTextFieldUpdate::RemoveCharactersTextFieldUpdate(QLineEdit* field, Store store,
                                                                 QTabWidget* tabs, QWidget* page)
    : FieldVerifier(field, std::move(store), tabs, page, QStringLiteral("error.edit.removeCharacters")) {}
bool RemoveCharactersTextFieldUpdate::accepts(const QString& text) const {
    return ConfigHelper::RemoveCharacters::valid(text);
}

} // namespace vornal
