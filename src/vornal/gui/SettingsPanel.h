#pragma once

#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QPushButton;
class QRadioButton;

namespace vornal {
namespace config {
class Config;
}
class TabTexts;

// The Settings tab: how the program connects, the tray, updates, and moving the settings between
// computers.
class SettingsPanel : public QWidget {
    Q_OBJECT
public:
    SettingsPanel(const TabTexts& texts, config::Config& config, QWidget* parent = nullptr);

    QRadioButton* manualConnectButton;
    QRadioButton* autoConnectButton;
    QCheckBox* minimizeToTrayCheckBox;
    QCheckBox* notifyWhenMinimizedToTrayCheckBox;
    QCheckBox* checkForUpdatesCheckBox;
    QCheckBox* abortAutoStartCheckBox;
    QCheckBox* reconnectCheckBox;
    QPushButton* importSettingsButton;
    QPushButton* exportSettingsButton;

signals:
    // The user chose to connect by hand (the tray minimisation ends then).
    void manualConnectChosen();
    void importRequested();
    void exportRequested();

private:
    void connectButtonActionPerformed();

    config::Config& config_;
    QButtonGroup* connectButtonGroup_;
};

} // namespace vornal
