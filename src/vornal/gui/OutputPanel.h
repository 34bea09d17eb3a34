#pragma once

#include "TabSupport.h"

#include <QWidget>

class QComboBox;
class QLineEdit;

namespace vornal {
namespace config {
class Config;
}

// The Output tab: the decimal separator, what comes before and after a value, the sound, the keyboard
// and its delay, and the way keys are typed.
class OutputPanel : public QWidget {
    Q_OBJECT
public:
    OutputPanel(const TabTexts& texts, config::Config& config, QWidget* parent = nullptr);

    // Stores an acceptable delay (empty, or 0 to 1000 ms); false when `text` is none.
    bool acceptDelay(const QString& text);
    // The chosen typing way was not available at Start: shown on its control until a new choice.
    void markKeyBackendUnavailable();

    QComboBox* decimalSeparatorBox;
    QComboBox* outputTerminatorBox;
    QComboBox* outputTerminatorBox2;
    QComboBox* startWithBox;
    QComboBox* soundComboBox;
    QComboBox* keyboardTypeBox;
    QComboBox* keyBackendBox;
    QLineEdit* delayTextField;
    QLineEdit* everyXValuesTextField;
    QLineEdit* prefixKeysTextField;

private:
    void keyboardTypeBoxItemStateChanged();
    void delayTextFieldCaretUpdate();

    TabTexts texts_;
    config::Config& config_;
};

} // namespace vornal
