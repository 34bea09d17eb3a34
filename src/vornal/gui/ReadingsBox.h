#pragma once

#include "vornal/config/Config.h"

#include <QGroupBox>
#include <QString>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace vornal {

// The options of stable readings, readings on request and the data log, on the Processing tab. Each
// setting is a row of the window's table of settings, filled and read back one key at a time; the two
// stability options are enabled only for presets that mark stable readings.
class ReadingsBox : public QGroupBox {
    Q_OBJECT
public:
    // `text` looks up a bundle key of the window.
    ReadingsBox(std::function<QString(const QString&)> text, QWidget* parent = nullptr);

    // The settings shown here, in the order they are read back.
    static const QStringList& keys();
    // Shows the setting `key` of `config` in its control.
    void fillSetting(const QString& key, const config::Config& config);
    // Writes the control of `key` into `config`. "" when its text was accepted; otherwise why it was
    // refused (the setting keeps its last valid value, the control shows it again).
    QString storeSetting(const QString& key, config::Config& config);
    // What depends on other settings: the stability options of the preset, the placement rule.
    void showFor(const config::Config& config);
    // A preset was chosen: enables the stability options for it and, when `takeCommand`, puts its
    // request command into the field.
    void setInstrument(const config::ConfigHelper::Instrument& instrument, bool takeCommand);

    // Says which rule ends a placement: a return to zero only (no difference), or also a change by more
    // than the difference of the duplicate filter (`difference`, the setting's text).
    void showPlacementRule(const QString& difference);
    QLabel* placementRule() const { return placementRule_; }

    // The text of a key combination pressed in the hotkey field ("Ctrl+Alt+R", in the desktop's
    // notation where that is one the setting accepts); "" for a press that is no combination (a key
    // without Ctrl, Alt or Meta, a modifier alone).
    static QString hotkeyText(int key, Qt::KeyboardModifiers modifiers);

    // "" where the desktop offers global shortcuts, else the reason (shown under the hotkey field).
    static QString hotkeyUnavailableReason();

    QCheckBox* typeOnlyStable() const { return typeOnlyStable_; }
    QCheckBox* oncePerPlacement() const { return oncePerPlacement_; }
    QLineEdit* requestCommand() const { return requestCommand_; }
    QLineEdit* requestHotkey() const { return requestHotkey_; }
    QLineEdit* requestEverySeconds() const { return requestEvery_; }
    QLineEdit* dataLogFile() const { return dataLogFile_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The text field of a text setting; nullptr for the others.
    QLineEdit* fieldOf(const QString& key) const;

    std::function<QString(const QString&)> text_;
    QCheckBox* typeOnlyStable_;
    QCheckBox* oncePerPlacement_;
    QLabel* placementRule_;
    QLineEdit* requestCommand_;
    QLineEdit* requestHotkey_;
    QLabel* hotkeyNote_;
    QLineEdit* requestEvery_;
    QLineEdit* dataLogFile_;
    QPushButton* browse_;
    QSpinBox* dataLogMaxMiB_;
    QSpinBox* dataLogKeep_;
};

} // namespace vornal
