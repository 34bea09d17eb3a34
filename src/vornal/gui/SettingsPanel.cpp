#include "SettingsPanel.h"

#include "TabSupport.h"

#include "vornal/config/Config.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace vornal {

using config::ConfigHelper;

SettingsPanel::SettingsPanel(const TabTexts& texts, config::Config& config, QWidget* parent)
    : QWidget(parent), config_(config) {
    auto* grid = new QGridLayout(this);
    manualConnectButton = new QRadioButton(texts.caption("manualConnectButton"), this);
    manualConnectButton->setObjectName(QStringLiteral("manualConnectButton"));
    autoConnectButton = new QRadioButton(texts.caption("autoConnectButton"), this);
    autoConnectButton->setObjectName(QStringLiteral("autoConnectButton"));
    connectButtonGroup_ = new QButtonGroup(this);
    connectButtonGroup_->addButton(manualConnectButton);
    connectButtonGroup_->addButton(autoConnectButton);
    auto check = [&](QCheckBox*& box, const char* name) {
        box = new QCheckBox(texts.caption(name), this);
        box->setObjectName(QString::fromLatin1(name));
    };
    check(minimizeToTrayCheckBox, "minimizeToTrayCheckBox");
    check(notifyWhenMinimizedToTrayCheckBox, "notifyWhenMinimizedToTrayCheckBox");
    check(checkForUpdatesCheckBox, "checkForUpdatesCheckBox");
    check(abortAutoStartCheckBox, "abortAutoStartCheckBox");
    check(reconnectCheckBox, "reconnectCheckBox");
    importSettingsButton = makeButton(this, "importSettingsButton", texts.caption("importSettingsButton"));
    exportSettingsButton = makeButton(this, "exportSettingsButton", texts.caption("exportSettingsButton"));

    int r = 0;
    grid->addWidget(texts.label(QStringLiteral("label13")), r, 0);
    grid->addWidget(manualConnectButton, r++, 1);
    grid->addWidget(autoConnectButton, r++, 1);
    grid->addWidget(abortAutoStartCheckBox, r++, 1);
    grid->addWidget(reconnectCheckBox, r++, 1);
    grid->addWidget(texts.label(QStringLiteral("label28")), r, 0);
    grid->addWidget(minimizeToTrayCheckBox, r++, 1);
    grid->addWidget(notifyWhenMinimizedToTrayCheckBox, r++, 1);
    auto* updates = new QLabel(texts.caption("label1"), this);
    updates->setObjectName(QStringLiteral("label1"));
    grid->addWidget(updates, r, 0);
    grid->addWidget(checkForUpdatesCheckBox, r++, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(importSettingsButton);
    buttons->addWidget(exportSettingsButton);
    buttons->addStretch(1);
    grid->addLayout(buttons, r++, 0, 1, 3);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(r, 1);

    connect(manualConnectButton, &QRadioButton::clicked, this, &SettingsPanel::connectButtonActionPerformed);
    connect(autoConnectButton, &QRadioButton::clicked, this, &SettingsPanel::connectButtonActionPerformed);
    connect(importSettingsButton, &QPushButton::clicked, this, &SettingsPanel::importRequested);
    connect(exportSettingsButton, &QPushButton::clicked, this, &SettingsPanel::exportRequested);
}

void SettingsPanel::connectButtonActionPerformed() {
    if (autoConnectButton->isChecked()) {
        config_.setConnect(ConfigHelper::Connect::AUTO);
    } else {
        config_.setConnect(ConfigHelper::Connect::MANUAL);
        emit manualConnectChosen();
    }
}

} // namespace vornal
