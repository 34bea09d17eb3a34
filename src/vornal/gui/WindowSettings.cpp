#include "VororaZeZovFrame2.h"

#include "BrokerBox.h"
#include "EventLog.h"
#include "InputPanel.h"
#include "MessageBoxes.h"
#include "OutputPanel.h"
#include "ProcessingPanel.h"
#include "ReadingsBox.h"
#include "StartPanel.h"
#include "WindowKeys.h"
#include "dialogs/FieldVerifiers.h"
#include "dialogs/SettingsTransferDialogs.h"

#include "vornal/prefs/AbstractPreferences.h"
#include "vornal/prefs/PreferencesStore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>

// The window's settings: which control shows which setting, filling the controls from the record and
// reading them back, saving.
namespace vornal {

using config::ConfigHelper;
using windowkeys::kButtonToolTips;

// The settings shown in the window, each with its control (by object name), in the order the window
// reads them back. A control without its own `fill`/`read` is handled by its kind (fillSetting,
// readSetting); the same name with ".toolTipText" is its tool tip's key.
const std::vector<VororaZeZovFrame2::SettingControl>& VororaZeZovFrame2::settingControls() {
    using W = VororaZeZovFrame2;
    static const std::vector<SettingControl> rows = {
        {.key = "port", .control = "portList", .fill = &W::fillPorts, .read = &W::readPort},
        {.key = "instrument", .control = "instrumentBox", .read = &W::readInstrument},
        {.key = "bitRate", .control = "bitRateBox"},
        {.key = "dataBits", .control = "dataBitsBox"},
        {.key = "stopBits", .control = "stopBitsBox"},
        {.key = "parity", .control = "parityBox"},
        {.key = "handshake", .control = "flowControlBox"},
        {.key = "inputTerminator",
         .control = "inputTerminatorBox",
         .fill = &W::fillInputTerminator,
         .read = &W::readInputTerminator},
        {.key = "inputEncoding", .control = "inputEncodingBox"},
        {.key = "mathOperand", .control = "mathOperandTextField"},
        {.key = "decimalPlaces", .control = "decimalTextField"},
        {.key = "editNumCharacters", .control = "editNumCharactersTextField"},
        {.key = "removeCharacters", .control = "removeCharactersTextField"},
        {.key = "everyXValues", .control = "everyXValuesTextField"},
        {.key = "mathOperation", .control = "mathOperationBox"},
        {.key = "roundingMethod", .control = "roundingMethodBox"},
        {.key = "editOperation", .control = "editOperationComboBox"},
        {.key = "editPosition", .control = "editPositionComboBox"},
        {.key = "ignoreDuplicates", .control = "ignoreDuplicatesCheckBox"},
        {.key = "decimalSeparator", .control = "decimalSeparatorBox"},
        {.key = "outputTerminator", .control = "outputTerminatorBox"},
        {.key = "outputTerminator2", .control = "outputTerminatorBox2"},
        {.key = "startWith", .control = "startWithBox"},
        {.key = "prefixKeys", .control = "prefixKeysTextField"},
        {.key = "sound", .control = "soundComboBox"},
        {.key = "keyboardType", .control = "keyboardTypeBox"},
        {.key = "keyBackend", .control = "keyBackendBox"},
        {.key = "delay", .control = "delayTextField", .read = &W::readDelay},
        {.key = "connect", .control = "manualConnectButton", .value = "MANUAL"},
        {.key = "connect", .control = "autoConnectButton", .value = "AUTO"},
        {.key = "minimizeToTray", .control = "minimizeToTrayCheckBox"},
        {.key = "notifyWhenMinimizedToTray", .control = "notifyWhenMinimizedToTrayCheckBox"},
        {.key = "checkForUpdates", .control = "checkForUpdatesCheckBox"},
        {.key = "abortAutoStartWhenPrevPortNotAvailable", .control = "abortAutoStartCheckBox"},
        {.key = "reconnect", .control = "reconnectCheckBox"},
        // Stable readings, requests and the data log (ReadingsBox).
        {.key = "typeOnlyStable",
         .control = "typeOnlyStableCheckBox",
         .fill = &W::fillReading,
         .read = &W::readReading,
         .ownToolTip = true},
        {.key = "oncePerPlacement",
         .control = "oncePerPlacementCheckBox",
         .fill = &W::fillReading,
         .read = &W::readReading,
         .ownToolTip = true},
        {.key = "dataLogMaxBytes",
         .control = "dataLogMaxBytesSpinBox",
         .fill = &W::fillReading,
         .read = &W::readReading,
         .ownToolTip = true},
        {.key = "dataLogKeep",
         .control = "dataLogKeepSpinBox",
         .fill = &W::fillReading,
         .read = &W::readReading,
         .ownToolTip = true},
        {.key = "requestCommand",
         .control = "requestCommandTextField",
         .fill = &W::fillReading,
         .read = &W::readReading,
         .ownToolTip = true},
        {.key = "requestHotkey",
         .control = "requestHotkeyTextField",
         .fill = &W::fillReading,
         .read = &W::readReading,
         .ownToolTip = true},
        {.key = "requestEverySeconds",
         .control = "requestEverySecondsTextField",
         .fill = &W::fillReading,
         .read = &W::readReading,
         .ownToolTip = true},
        {.key = "dataLogFile",
         .control = "dataLogFileTextField",
         .fill = &W::fillReading,
         .read = &W::readReading,
         .ownToolTip = true},
        // Readings to a broker (BrokerBox, Output tab).
        {.key = "mqttBroker",
         .control = "mqttBrokerTextField",
         .fill = &W::fillBroker,
         .read = &W::readBroker,
         .ownToolTip = true},
        {.key = "mqttCaFile",
         .control = "mqttCaFileTextField",
         .fill = &W::fillBroker,
         .read = &W::readBroker,
         .ownToolTip = true},
        {.key = "mqttCertFile",
         .control = "mqttCertFileTextField",
         .fill = &W::fillBroker,
         .read = &W::readBroker,
         .ownToolTip = true},
        {.key = "mqttKeyFile",
         .control = "mqttKeyFileTextField",
         .fill = &W::fillBroker,
         .read = &W::readBroker,
         .ownToolTip = true},
        {.key = "mqttUser",
         .control = "mqttUserTextField",
         .fill = &W::fillBroker,
         .read = &W::readBroker,
         .ownToolTip = true},
        {.key = "mqttPasswordFile",
         .control = "mqttPasswordFileTextField",
         .fill = &W::fillBroker,
         .read = &W::readBroker,
         .ownToolTip = true},
        {.key = "mqttStation",
         .control = "mqttStationTextField",
         .fill = &W::fillBroker,
         .read = &W::readBroker,
         .ownToolTip = true},
        {.key = "mqttTopicPrefix",
         .control = "mqttTopicPrefixTextField",
         .fill = &W::fillBroker,
         .read = &W::readBroker,
         .ownToolTip = true},
        {.key = "mqttQueueMaxBytes",
         .control = "mqttQueueMaxBytesSpinBox",
         .fill = &W::fillBroker,
         .read = &W::readBroker,
         .ownToolTip = true},
        {.key = "mqttRequests",
         .control = "mqttRequestsCheckBox",
         .fill = &W::fillBroker,
         .read = &W::readBroker,
         .ownToolTip = true},
    };
    return rows;
}

QList<QPair<QString, QString>> VororaZeZovFrame2::settingRows() {
    QList<QPair<QString, QString>> rows;
    for (const SettingControl& row : settingControls())
        rows.append({QString::fromLatin1(row.key), QString::fromLatin1(row.control)});
    return rows;
}

QList<QPair<QString, QString>> VororaZeZovFrame2::settingsOutsideTheTabs() {
    return {{QStringLiteral("customRegEx"), QStringLiteral("customizeButton")},
            {QStringLiteral("ignoreDifference"), QStringLiteral("adjustIgnoreButton")},
            {QStringLiteral("ignoreTimeLimit"), QStringLiteral("adjustIgnoreButton")},
            // The port of the last save, written with every save.
            {QStringLiteral("prevPort"), QString()}};
}

void VororaZeZovFrame2::fillSetting(const SettingControl& row) {
    if (row.fill) {
        (this->*row.fill)(row);
        return;
    }
    const QString stored = config_.getByKey(QString::fromLatin1(row.key));
    QWidget* w = control(QString::fromLatin1(row.control));
    if (auto* box = qobject_cast<QComboBox*>(w)) {
        const int at = box->findData(stored);
        if (at >= 0)
            box->setCurrentIndex(at);
    } else if (auto* field = qobject_cast<QLineEdit*>(w)) {
        field->setText(stored);
    } else if (auto* radio = qobject_cast<QRadioButton*>(w)) {
        if (stored == QLatin1String(row.value))
            radio->setChecked(true);
    } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
        check->setChecked(stored == u"true");
    }
}

void VororaZeZovFrame2::readSetting(const SettingControl& row) {
    if (row.read) {
        (this->*row.read)(row);
        return;
    }
    const QString key = QString::fromLatin1(row.key);
    const QString name = QString::fromLatin1(row.control);
    QWidget* w = control(name);
    if (auto* box = qobject_cast<QComboBox*>(w)) {
        if (box->currentIndex() >= 0)
            config_.setByKey(key, box->currentData().toString());
    } else if (auto* field = qobject_cast<QLineEdit*>(w)) {
        // A validated field by its verifier's rule: an acceptable text is stored, a refused one is
        // reported and emptied.
        if (FieldVerifier* v = verifier(name))
            v->shouldYieldFocus(field);
        else
            config_.setByKey(key, field->text());
    } else if (auto* radio = qobject_cast<QRadioButton*>(w)) {
        if (radio->isChecked())
            config_.setByKey(key, QString::fromLatin1(row.value));
    } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
        config_.setByKey(key, check->isChecked() ? QStringLiteral("true") : QStringLiteral("false"));
    }
}

void VororaZeZovFrame2::fillPorts(const SettingControl&) {
    input_->fillPortList();
}

void VororaZeZovFrame2::readPort(const SettingControl&) {
    input_->readPort();
}

void VororaZeZovFrame2::readInstrument(const SettingControl&) {
    input_->readInstrument();
}

void VororaZeZovFrame2::fillInputTerminator(const SettingControl&) {
    input_->fillInputTerminator();
}

void VororaZeZovFrame2::readInputTerminator(const SettingControl&) {
    input_->acceptInputTerminator(false);
}

void VororaZeZovFrame2::fillReading(const SettingControl& row) {
    processing_->readingsBox->fillSetting(QString::fromLatin1(row.key), config_);
}

void VororaZeZovFrame2::fillBroker(const SettingControl& row) {
    output_->brokerBox->fillSetting(QString::fromLatin1(row.key), config_);
}

void VororaZeZovFrame2::readBroker(const SettingControl& row) {
    if (const QString why = output_->brokerBox->storeSetting(QString::fromLatin1(row.key), config_);
        !why.isEmpty())
        refused_ << why;
}

void VororaZeZovFrame2::readReading(const SettingControl& row) {
    if (const QString why = processing_->readingsBox->storeSetting(QString::fromLatin1(row.key), config_);
        !why.isEmpty())
        refused_ << why;
}

void VororaZeZovFrame2::readDelay(const SettingControl&) {
    if (output_->acceptDelay(output_->delayTextField->text()))
        return;
    if (!closing())
        MessageBoxes::error(this, text(QStringLiteral("error.intercharacter.delay")),
                            text(QStringLiteral("error")));
    output_->delayTextField->setText(QStringLiteral("20"));
}

void VororaZeZovFrame2::updateConfigFromTabs() {
    if (!input_)
        return;
    // In table order; a refused text is reported (not while closing) and the setting keeps its last
    // valid value.
    refused_.clear();
    for (const SettingControl& row : settingControls())
        readSetting(row);
    config::Config& c = config_;
    if (!refused_.isEmpty() && !closing())
        MessageBoxes::error(this, refused_.join(u'\n'), text(QStringLiteral("error")));

    // An operation without operand does nothing: say so in the record and the control.
    if (c.getMathOperation() != ConfigHelper::MathOperation::NONE && c.getMathOperand().isEmpty()) {
        c.setMathOperation(ConfigHelper::MathOperation::NONE);
        const QSignalBlocker block(processing_->mathOperationBox);
        processing_->mathOperationBox->setCurrentIndex(ConfigHelper::MathOperation::NONE.ordinal());
    }
    // A division needs a number of decimal places.
    if (c.getMathOperation() == ConfigHelper::MathOperation::DIVIDE &&
        processing_->decimalTextField->text().isEmpty() && !mathRoundingErrorWarningDisplayed_ &&
        !closing()) {
        mathRoundingErrorWarningDisplayed_ = true;
        QTimer::singleShot(0, this, [this] {
            showTab(processing_);
            processing_->decimalTextField->setFocus();
            MessageBoxes::error(
                this,
                text(
                    QStringLiteral("please.enter.number.of.decimal.places.for.rounding.or.disable.division")),
                text(QStringLiteral("error")));
            mathRoundingErrorWarningDisplayed_ = false;
        });
    }
}

bool VororaZeZovFrame2::saveNecessary() {
    storeSelected();
    if (!stationChanged_ && !config::Config::hasChanged(config_, oldConfig_))
        return false;
    oldConfig_ = config::Config::copyConfig(config_);
    stationChanged_ = false;
    return true;
}

QString VororaZeZovFrame2::saveConfig() {
    try {
        const auto root = prefs::PreferencesStore::userRoot();
        if (!node_)
            node_ = root->node(QString::fromLatin1(config::Config::SETTINGS_NODE));
        storeSelected();
        // A station of one stores the record as it always did; more are stored together.
        if (profiles_.size() == 1 && profiles_.front().name == config::Profiles::defaultName(0) &&
            node_->get(QString::fromLatin1(config::Profiles::PROFILE_NODES_KEY), QString()).isEmpty())
            return config_.saveConfig(*node_);
        return config::Profiles::save(*root, station());
    } catch (const std::exception& e) {
        const QString why = QString::fromUtf8(e.what());
        return why.isEmpty() ? text(QStringLiteral("settings.store.failed")) : why;
    }
}

void VororaZeZovFrame2::connectSettingControls() {
    // Tooltips: key-based texts, visible for 10 s.
    QStringList withTip;
    for (const char* c : kButtonToolTips)
        withTip += QString::fromLatin1(c);
    for (const SettingControl& row : settingControls())
        if (!row.ownToolTip)
            withTip += QString::fromLatin1(row.control);
    for (const QString& name : withTip) {
        if (QWidget* w = control(name)) {
            w->setToolTip(tip(name));
            w->setToolTipDuration(10000);
        }
    }
    // A change of a combo box or check box goes straight into the record (the other controls are read
    // when they are left, or have handlers of their own).
    for (const SettingControl& row : settingControls()) {
        if (row.read)
            continue;
        QWidget* w = control(QString::fromLatin1(row.control));
        if (auto* box = qobject_cast<QComboBox*>(w))
            connect(box, &QComboBox::currentIndexChanged, this, [this, &row] { readSetting(row); });
        else if (auto* check = qobject_cast<QCheckBox*>(w))
            connect(check, &QCheckBox::toggled, this, [this, &row] { readSetting(row); });
    }
}

void VororaZeZovFrame2::installVerifiers() {
    // Each guards its field: an acceptable text is stored when the field is left; a refused one is
    // reported, the field emptied and the focus and the field's tab brought back.
    config::Config* c = &config_;
    QWidget* processing = processing_;
    verifiers_ = {
        new MathOperandTextFieldUpdate(
            processing_->mathOperandTextField, [c](const QString& t) { c->setMathOperand(t); }, tabbedPane_,
            processing),
        new DecimalTextFieldUpdate(
            processing_->decimalTextField, [c](const QString& t) { c->setDecimalPlaces(t); }, tabbedPane_,
            processing),
        new EditNumCharactersTextFieldUpdate(
            processing_->editNumCharactersTextField, [c](const QString& t) { c->setEditNumCharacters(t); },
            tabbedPane_, processing),
        new RemoveCharactersTextFieldUpdate(
            processing_->removeCharactersTextField, [c](const QString& t) { c->setRemoveCharacters(t); },
            tabbedPane_, processing),
        new EveryXValuesTextFieldUpdate(
            output_->everyXValuesTextField, [c](const QString& t) { c->setEveryXValues(t); }, tabbedPane_,
            panels_[OutputTab]),
    };
}

FieldVerifier* VororaZeZovFrame2::verifier(const QString& fieldName) const {
    for (FieldVerifier* v : verifiers_)
        if (v->field()->objectName() == fieldName)
            return v;
    return nullptr;
}

void VororaZeZovFrame2::fillFromConfig() {
    // Filling is not editing: no handler runs.
    QList<QObject*> blocked;
    for (QObject* o : findChildren<QObject*>())
        if (!o->signalsBlocked()) {
            o->blockSignals(true);
            blocked.append(o);
        }
    for (const SettingControl& row : settingControls())
        fillSetting(row);
    processing_->readingsBox->showFor(config_);
    for (QObject* o : blocked)
        o->blockSignals(false);
    input_->showCustomRegExMarker();
    start_->showSummary(config_);
}

void VororaZeZovFrame2::importSettingsButtonActionPerformed() {
    std::shared_ptr<prefs::AbstractPreferences> node = node_;
    if (!node) {
        try {
            node =
                prefs::PreferencesStore::userRoot()->node(QString::fromLatin1(config::Config::SETTINGS_NODE));
        } catch (const std::exception& e) {
            MessageBoxes::error(this,
                                text(QStringLiteral("import.failed")) + u'\n' + QString::fromUtf8(e.what()),
                                text(QStringLiteral("error")));
            return;
        }
    }
    if (SettingsTransferDialogs::importSettings(this, *node) !=
        SettingsTransferDialogs::ImportOutcome::ExitRequested)
        return;
    // The next start loads the imported settings; closing normally would save the window's over them.
    exitAfterImport_ = true;
    for (ConnectionPresenter* p : presenters_)
        if (p->isActive())
            p->stop();
    emit exitRequested(SettingsTransferDialogs::EXIT_AFTER_IMPORT);
}

void VororaZeZovFrame2::exportSettingsButtonActionPerformed() {
    // The file holds what the window shows (every instrument), saved first like a tab change would.
    if (profiles_.size() > 1) {
        SettingsTransferDialogs::exportStation(
            this, [this] { return station(); },
            [this] {
                updateConfigFromTabs();
                const QString failure = saveConfig();
                if (failure.isEmpty())
                    oldConfig_ = config::Config::copyConfig(config_);
                return failure;
            });
        return;
    }
    SettingsTransferDialogs::exportSettings(this, config_, [this] {
        updateConfigFromTabs();
        const QString failure = saveConfig();
        if (failure.isEmpty())
            oldConfig_ = config::Config::copyConfig(config_);
        return failure;
    });
}

void VororaZeZovFrame2::autoSaveAfterLeaving() {
    updateConfigFromTabs();
    if (!saveNecessary())
        return;
    const QString failure = saveConfig();
    if (!failure.isEmpty())
        eventLog()->logImportantEvent(text(QStringLiteral("autosave.error")) + failure);
}

QString VororaZeZovFrame2::tip(const QString& field) const {
    return text(QStringLiteral("VororaZeZovFrame2.") + field + QStringLiteral(".toolTipText"));
}

} // namespace vornal
