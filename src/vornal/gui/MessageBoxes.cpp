#include "MessageBoxes.h"

#include <QInputDialog>

namespace vornal {

namespace {
struct State {
    bool recording = false;
    std::deque<QMessageBox::StandardButton> answers;
    std::deque<QString> texts;
    QList<MessageBoxes::Record> records;
    int open = 0;
};
State& state() {
    static State s;
    return s;
}
} // namespace

void MessageBoxes::error(QWidget* parent, const QString& text, const QString& title) {
    show(Kind::Error, parent, text, title);
}
void MessageBoxes::warning(QWidget* parent, const QString& text, const QString& title) {
    show(Kind::Warning, parent, text, title);
}
void MessageBoxes::information(QWidget* parent, const QString& text, const QString& title) {
    show(Kind::Information, parent, text, title);
}
bool MessageBoxes::confirm(QWidget* parent, const QString& text, const QString& title, Choice choice) {
    const auto answer = show(Kind::Question, parent, text, title, choice);
    return answer == QMessageBox::Yes || answer == QMessageBox::Ok;
}

std::optional<QString> MessageBoxes::askText(QWidget* parent, const QString& label, const QString& title,
                                             const QString& initial) {
    State& s = state();
    s.records.append({Kind::Question, title, label, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok});
    if (s.recording) {
        if (s.texts.empty())
            return std::nullopt;
        QString answer = s.texts.front();
        s.texts.pop_front();
        return answer;
    }
    bool ok = false;
    ++s.open;
    const QString answer = QInputDialog::getText(parent, title, label, QLineEdit::Normal, initial, &ok);
    --s.open;
    if (!ok)
        return std::nullopt;
    return answer;
}

QMessageBox::StandardButton MessageBoxes::show(Kind kind, QWidget* parent, const QString& text,
                                               const QString& title, Choice choice) {
    State& s = state();
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::Ok;
    if (kind == Kind::Question) {
        buttons = choice == Choice::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel
                                             : QMessageBox::Yes | QMessageBox::No;
        defaultButton = choice == Choice::YesNo   ? QMessageBox::Yes
                        : choice == Choice::NoYes ? QMessageBox::No
                                                  : QMessageBox::Ok;
    }
    s.records.append({kind, title, text, buttons, defaultButton});
    if (s.recording) {
        if (kind != Kind::Question)
            return QMessageBox::Ok;
        if (s.answers.empty())
            return QMessageBox::No;
        const auto answer = s.answers.front();
        s.answers.pop_front();
        return answer;
    }
    QMessageBox::Icon icon = QMessageBox::Critical;
    switch (kind) {
    case Kind::Error:
        icon = QMessageBox::Critical;
        break;
    case Kind::Warning:
        icon = QMessageBox::Warning;
        break;
    case Kind::Information:
        icon = QMessageBox::Information;
        break;
    case Kind::Question:
        icon = QMessageBox::Question;
        break;
    }
    QMessageBox box(icon, title, text, buttons, parent);
    box.setDefaultButton(defaultButton);
    ++s.open;
    const int result = box.exec();
    --s.open;
    return static_cast<QMessageBox::StandardButton>(result);
}

void MessageBoxes::setRecording(bool on) {
    state().recording = on;
    if (!on) {
        state().answers.clear();
        state().texts.clear();
    }
}
bool MessageBoxes::isRecording() {
    return state().recording;
}
void MessageBoxes::setNextAnswer(QMessageBox::StandardButton answer) {
    state().answers.push_back(answer);
}
void MessageBoxes::setNextText(const QString& text) {
    state().texts.push_back(text);
}
QList<MessageBoxes::Record> MessageBoxes::takeRecords() {
    QList<Record> out;
    out.swap(state().records);
    return out;
}
int MessageBoxes::openCount() {
    return state().open;
}

} // namespace vornal
