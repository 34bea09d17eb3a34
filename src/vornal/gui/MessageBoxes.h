#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>

#include <deque>

class QWidget;

namespace vornal {

// Every message and confirmation dialog of the window program goes through here, so that tests can
// answer them without a screen and without waiting: in recording mode nothing is shown, every dialog
// is recorded and confirmations take the next queued answer (No when none is queued).
class MessageBoxes {
public:
    enum class Kind { Error, Warning, Information, Question };
    struct Record {
        Kind kind;
        QString title;
        QString text;
    };

    static void error(QWidget* parent, const QString& text, const QString& title);
    static void warning(QWidget* parent, const QString& text, const QString& title);
    static void information(QWidget* parent, const QString& text, const QString& title);
    // Yes/No question; true for Yes.
    static bool confirm(QWidget* parent, const QString& text, const QString& title);

    // ---- for tests ----
    static void setRecording(bool on);
    static bool isRecording();
    // The answer of the next confirmation (Yes or No) in recording mode.
    static void setNextAnswer(QMessageBox::StandardButton answer);
    // The dialogs shown since the last call, oldest first.
    static QList<Record> takeRecords();
    // How many dialogs are open right now (modal loops running).
    static int openCount();

private:
    static QMessageBox::StandardButton show(Kind kind, QWidget* parent, const QString& text,
                                            const QString& title);
};

} // namespace vornal
