#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>

#include <deque>
#include <optional>

class QWidget;

namespace vornal {

// Every message and confirmation dialog of the window program goes through here, so that tests can
// answer them without a screen and without waiting: in recording mode nothing is shown, every dialog
// is recorded and confirmations take the next queued answer (No when none is queued).
class MessageBoxes {
public:
    enum class Kind { Error, Warning, Information, Question };
    // The buttons of a confirmation; the first named is the default button.
    enum class Choice { YesNo, NoYes, OkCancel };
    struct Record {
        Kind kind;
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons = QMessageBox::Ok;
        QMessageBox::StandardButton defaultButton = QMessageBox::Ok;
    };

    static void error(QWidget* parent, const QString& text, const QString& title);
    static void warning(QWidget* parent, const QString& text, const QString& title);
    static void information(QWidget* parent, const QString& text, const QString& title);
    // A question; true for Yes (or OK).
    static bool confirm(QWidget* parent, const QString& text, const QString& title,
                        Choice choice = Choice::YesNo);
    // A line of text asked for (a name); nothing when cancelled.
    static std::optional<QString> askText(QWidget* parent, const QString& label, const QString& title,
                                          const QString& initial);

    // ---- for tests ----
    static void setRecording(bool on);
    static bool isRecording();
    // The answer of the next confirmation (Yes or No) in recording mode.
    static void setNextAnswer(QMessageBox::StandardButton answer);
    // The answer of the next text question in recording mode (cancelled when none is queued).
    static void setNextText(const QString& text);
    // The dialogs shown since the last call, oldest first.
    static QList<Record> takeRecords();
    // How many dialogs are open right now (modal loops running).
    static int openCount();

private:
    static QMessageBox::StandardButton show(Kind kind, QWidget* parent, const QString& text,
                                            const QString& title, Choice choice = Choice::YesNo);
};

} // namespace vornal
