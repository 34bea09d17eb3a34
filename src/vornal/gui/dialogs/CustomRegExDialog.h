#pragma once

#include "vornal/config/ConfigHelper.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <optional>

class QDialogButtonBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTextEdit;

namespace vornal::config {
class Config;
}

namespace vornal {

class JLabelHtml;

// The custom regular expression dialog: edits the expression that extracts the value from each received
// line (group 1 is the value). Beside the editor a test area shows, as the user types, what the
// expression extracts from the selected instrument's sample lines and from the lines received last,
// with the value highlighted, or why it cannot be used.
//
// The window's customizeButton calls CustomRegExDialog::edit(this, config_, lastLines): the dialog starts
// with the custom expression, or the instrument's own when there is none; a result that differs from
// that start becomes "customRegEx".
class CustomRegExDialog : public QDialog {
    Q_OBJECT
public:
    // `initial` fills the editor and is the result until OK accepts another text. `instrument` supplies
    // the sample lines (none: no samples); `receivedLines` are raw lines as received (terminator included
    // or not), newest last.
    CustomRegExDialog(QWidget* owner, const QString& initial,
                      std::optional<config::ConfigHelper::Instrument> instrument,
                      const QStringList& receivedLines = {});

    // Shows the dialog modally for `config` and stores the result as "customRegEx" when it differs from
    // the text the dialog started with. Returns true when the setting changed.
    static bool edit(QWidget* owner, config::Config& config, const QStringList& receivedLines = {});
    // The text the dialog starts with for `config`: its custom expression, else the instrument's.
    static QString initialText(const config::Config& config);

    QString getRegEx() const { return regEx_; }

    // OK: a valid expression becomes the result and the dialog closes; otherwise "invalid.expression"
    // is shown and the dialog stays open.
    void okButtonActionPerformed();
    void cancelButtonActionPerformed();
    void close();

    QPlainTextEdit* regExTextArea() const { return regExTextArea_; }
    QTextEdit* testArea() const { return testArea_; }
    QPushButton* okButton() const { return okButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }

    // One line of the test: the value the expression extracts from `line`, or why there is none.
    struct Extraction {
        bool found = false;
        QString value;
        qsizetype start = -1; // position of the value in the line
        QString reason;       // when not found
    };
    // Why `pattern` cannot be used at all ("" when it can): it does not compile, or has no group.
    static QString patternProblem(const QString& pattern);
    static Extraction extract(const QString& pattern, const QString& line);

    // Rebuilds the test area from the editor's text (runs on every edit).
    void updateTestArea();

private:
    void initComponents();
    QString lineHtml(const QString& line, const Extraction& e) const;

    QString regEx_;
    std::optional<config::ConfigHelper::Instrument> instrument_;
    QStringList receivedLines_;

    QPlainTextEdit* regExTextArea_ = nullptr;
    JLabelHtml* label2_ = nullptr;
    JLabelHtml* label3_ = nullptr;
    JLabelHtml* label4_ = nullptr;
    QTextEdit* testArea_ = nullptr;
    QDialogButtonBox* buttonBar_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

} // namespace vornal
