#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace vornal {
namespace config {
class Config;
}
class ReadingsBox;
class TabTexts;

// The Processing tab: arithmetic, rounding, editing the value, the duplicate filter, and the options
// of stable readings, requests and the data log.
class ProcessingPanel : public QWidget {
    Q_OBJECT
public:
    ProcessingPanel(const TabTexts& texts, config::Config& config, QWidget* parent = nullptr);

    QComboBox* mathOperationBox;
    QLineEdit* mathOperandTextField;
    QLineEdit* decimalTextField;
    QComboBox* roundingMethodBox;
    QComboBox* editOperationComboBox;
    QComboBox* editPositionComboBox;
    QLineEdit* editNumCharactersTextField;
    QLineEdit* removeCharactersTextField;
    QCheckBox* ignoreDuplicatesCheckBox;
    QPushButton* adjustIgnoreButton;
    ReadingsBox* readingsBox;

    // Handlers (tests call them as a click would).
    void mathOperationBoxItemStateChanged();
    void adjustIgnoreButtonActionPerformed();

private:
    config::Config& config_;
};

} // namespace vornal
