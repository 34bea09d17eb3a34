#pragma once

#include <QDialog>
#include <QString>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vornal::config {
class Config;
}

namespace vornal {

// The duplicate-limits dialog: the time limit (ms) and the difference within which a repeated value
// counts as a duplicate. Modal, owned by the main window.
//
// The window's adjustIgnoreButton calls IgnoreDialog::edit(this, config_): it shows the dialog with the
// current limits and stores each changed limit in the record.
class IgnoreDialog : public QDialog {
    Q_OBJECT
public:
    // Filled with the current limits, which are also the result until OK accepts new ones.
    IgnoreDialog(QWidget* owner, const QString& ignoreTimeLimit, const QString& ignoreDifference);

    // Shows the dialog modally for `config` and stores each result that differs from its setting.
    // Returns true when a setting changed.
    static bool edit(QWidget* owner, config::Config& config);

    // The result: the limits accepted with OK, else the ones the dialog was filled with. The difference
    // is stored with a decimal point (a typed "," becomes ".").
    QString getIgnoreTimeLimit() const { return ignoreTimeLimit_; }
    QString getIgnoreDifference() const { return ignoreDifference_; }

    // OK: checks both texts (empty, or a number greater than 0; the time limit a whole number); accepted
    // texts become the result and the dialog closes, otherwise "ignore.error" is shown and it stays open.
    void okButtonActionPerformed();
    void cancelButtonActionPerformed();
    void close();

    QLineEdit* timeLimitField() const { return ignoreTimeLimitTextField_; }
    QLineEdit* differenceField() const { return ignoreDifferenceTextField_; }
    QPushButton* okButton() const { return okButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }

private:
    void initComponents();

    QString ignoreTimeLimit_;
    QString ignoreDifference_;
    QLabel* label1_ = nullptr;
    QLineEdit* ignoreTimeLimitTextField_ = nullptr;
    QLabel* label3_ = nullptr;
    QLabel* label4_ = nullptr;
    QLineEdit* ignoreDifferenceTextField_ = nullptr;
    QDialogButtonBox* buttonBar_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

} // namespace vornal
