#include "IgnoreDialog.h"

#include "DialogTexts.h"
#include "MessageBoxes.h"
#include "vornal/config/Config.h"
#include "vornal/config/ConfigHelper.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vornal {

using config::ConfigHelper;

IgnoreDialog::IgnoreDialog(QWidget* owner, const QString& ignoreTimeLimit, const QString& ignoreDifference)
    : QDialog(owner), ignoreTimeLimit_(ignoreTimeLimit), ignoreDifference_(ignoreDifference) {
    initComponents();
    ignoreTimeLimitTextField_->setText(ignoreTimeLimit);
    ignoreDifferenceTextField_->setText(ignoreDifference);
}

void IgnoreDialog::initComponents() {
    setWindowTitle(DialogTexts::text(QStringLiteral("IgnoreDialog.this.title")));
    setModal(true);

    label1_ = new QLabel(DialogTexts::text(QStringLiteral("IgnoreDialog.label2.text")), this);
    ignoreTimeLimitTextField_ = new QLineEdit(this);
    ignoreTimeLimitTextField_->setObjectName(QStringLiteral("ignoreTimeLimitTextField"));
    ignoreTimeLimitTextField_->setToolTip(
        DialogTexts::text(QStringLiteral("IgnoreDialog.ignoreTimeLimitTextField.toolTipText")));
    label1_->setBuddy(ignoreTimeLimitTextField_);
    label4_ = new QLabel(QStringLiteral("ms"), this);

    label3_ = new QLabel(DialogTexts::text(QStringLiteral("IgnoreDialog.label3.text")), this);
    ignoreDifferenceTextField_ = new QLineEdit(this);
    ignoreDifferenceTextField_->setObjectName(QStringLiteral("ignoreDifferenceTextField"));
    ignoreDifferenceTextField_->setToolTip(
        DialogTexts::text(QStringLiteral("IgnoreDialog.ignoreDifferenceTextField.toolTipText")));
    label3_->setBuddy(ignoreDifferenceTextField_);

    auto* contentPanel = new QGridLayout;
    contentPanel->addWidget(label1_, 0, 0);
    contentPanel->addWidget(ignoreTimeLimitTextField_, 0, 1);
    contentPanel->addWidget(label4_, 0, 2);
    contentPanel->addWidget(label3_, 1, 0);
    contentPanel->addWidget(ignoreDifferenceTextField_, 1, 1);
    contentPanel->setColumnStretch(1, 1);

    buttonBar_ = new QDialogButtonBox(this);
    okButton_ = buttonBar_->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    cancelButton_ = buttonBar_->addButton(DialogTexts::text(QStringLiteral("IgnoreDialog.cancelButton.text")),
                                          QDialogButtonBox::RejectRole);
    okButton_->setDefault(true);
    // The buttons are wired here, not through accept()/reject(), so that OK can keep the dialog open.
    connect(okButton_, &QPushButton::clicked, this, &IgnoreDialog::okButtonActionPerformed);
    connect(cancelButton_, &QPushButton::clicked, this, &IgnoreDialog::cancelButtonActionPerformed);

    auto* dialogPane = new QVBoxLayout(this);
    dialogPane->addLayout(contentPanel);
    dialogPane->addStretch(1);
    dialogPane->addWidget(buttonBar_);
    setMinimumWidth(360);
}

void IgnoreDialog::okButtonActionPerformed() {
    const QString timeLimit = ignoreTimeLimitTextField_->text();
    QString difference = ignoreDifferenceTextField_->text();
    difference.replace(u',', u'.');
    if (ConfigHelper::IgnoreTimeLimit::valid(timeLimit) &&
        ConfigHelper::IgnoreDifference::valid(difference)) {
        ignoreTimeLimit_ = timeLimit;
        ignoreDifference_ = difference;
        QDialog::accept();
        return;
    }
    MessageBoxes::error(this, DialogTexts::text(QStringLiteral("ignore.error")),
                        DialogTexts::text(QStringLiteral("error")));
}

void IgnoreDialog::cancelButtonActionPerformed() {
    close();
}

void IgnoreDialog::close() {
    QDialog::reject();
}

bool IgnoreDialog::edit(QWidget* owner, config::Config& config) {
    IgnoreDialog dialog(owner, config.getIgnoreTimeLimit(), config.getIgnoreDifference());
    dialog.exec();
    bool changed = false;
    if (dialog.getIgnoreTimeLimit() != config.getIgnoreTimeLimit()) {
        config.setIgnoreTimeLimit(dialog.getIgnoreTimeLimit());
        changed = true;
    }
    if (dialog.getIgnoreDifference() != config.getIgnoreDifference()) {
        config.setIgnoreDifference(dialog.getIgnoreDifference());
        changed = true;
    }
    return changed;
}

} // namespace vornal
