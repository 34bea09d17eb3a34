#include "ProcessingPanel.h"

#include "ReadingsBox.h"
#include "TabSupport.h"
#include "dialogs/IgnoreDialog.h"

#include "vornal/config/Config.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace vornal {

using config::ConfigHelper;

ProcessingPanel::ProcessingPanel(const TabTexts& texts, config::Config& config, QWidget* parent)
    : QWidget(parent), config_(config) {
    auto* grid = new QGridLayout(this);
    mathOperationBox = makeCombo(this, "mathOperationBox");
    mathOperandTextField = makeField(this, "mathOperandTextField");
    decimalTextField = makeField(this, "decimalTextField");
    roundingMethodBox = makeCombo(this, "roundingMethodBox");
    editOperationComboBox = makeCombo(this, "editOperationComboBox");
    editPositionComboBox = makeCombo(this, "editPositionComboBox");
    editNumCharactersTextField = makeField(this, "editNumCharactersTextField");
    removeCharactersTextField = makeField(this, "removeCharactersTextField");
    removeCharactersTextField->setMaximumWidth(320);
    ignoreDuplicatesCheckBox = new QCheckBox(texts.caption("ignoreDuplicatesCheckBox"), this);
    ignoreDuplicatesCheckBox->setObjectName(QStringLiteral("ignoreDuplicatesCheckBox"));
    adjustIgnoreButton = makeButton(this, "adjustIgnoreButton", texts.caption("adjustIgnoreButton"));

    int r = 0;
    grid->addWidget(texts.label(QStringLiteral("label24")), r, 0);
    grid->addWidget(mathOperationBox, r, 1);
    grid->addWidget(texts.label(QStringLiteral("label25")), r, 2);
    grid->addWidget(mathOperandTextField, r++, 3);
    grid->addWidget(texts.label(QStringLiteral("label15")), r, 0);
    grid->addWidget(decimalTextField, r, 1);
    grid->addWidget(texts.label(QStringLiteral("label16")), r, 2);
    grid->addWidget(roundingMethodBox, r++, 3);
    grid->addWidget(texts.label(QStringLiteral("label22")), r, 0);
    grid->addWidget(editOperationComboBox, r, 1);
    grid->addWidget(texts.label(QStringLiteral("label29")), r, 2);
    grid->addWidget(editPositionComboBox, r++, 3);
    grid->addWidget(texts.label(QStringLiteral("label30")), r, 0);
    grid->addWidget(editNumCharactersTextField, r++, 1);
    grid->addWidget(texts.label(QStringLiteral("label31")), r, 0);
    grid->addWidget(removeCharactersTextField, r++, 1, 1, 3);
    grid->addWidget(texts.label(QStringLiteral("label32")), r, 0);
    grid->addWidget(ignoreDuplicatesCheckBox, r, 1);
    grid->addWidget(adjustIgnoreButton, r++, 2);
    readingsBox = new ReadingsBox([t = texts](const QString& key) { return t.text(key); }, this);
    grid->addWidget(readingsBox, r++, 0, 1, 5);
    grid->setColumnStretch(4, 1);
    grid->setRowStretch(r, 1);
    followLayout(readingsBox->layout());

    fillCombo<ConfigHelper::MathOperation>(mathOperationBox);
    fillCombo<ConfigHelper::RoundingMethod>(roundingMethodBox);
    fillCombo<ConfigHelper::EditOperation>(editOperationComboBox);
    fillCombo<ConfigHelper::EditPosition>(editPositionComboBox);

    connect(mathOperationBox, &QComboBox::currentIndexChanged, this,
            &ProcessingPanel::mathOperationBoxItemStateChanged);
    connect(adjustIgnoreButton, &QPushButton::clicked, this,
            &ProcessingPanel::adjustIgnoreButtonActionPerformed);
    // The four text fields are checked when they are left (the window's verifiers).
    followLayout(grid);
}

void ProcessingPanel::mathOperationBoxItemStateChanged() {
    const auto op = ConfigHelper::MathOperation::fromOrdinal(mathOperationBox->currentIndex());
    if (!op)
        return;
    config_.setMathOperation(*op);
    if (*op == ConfigHelper::MathOperation::NONE) {
        mathOperandTextField->clear();
        config_.setMathOperand(QString());
    }
}

void ProcessingPanel::adjustIgnoreButtonActionPerformed() {
    IgnoreDialog::edit(window(), config_);
    // The difference also decides when a placement ends.
    readingsBox->showPlacementRule(config_.getIgnoreDifference());
}

} // namespace vornal
