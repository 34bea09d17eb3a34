#include "MessageBoxes.h"

namespace vornal {

namespace {
struct State {
    bool recording = false;
    std::deque<QMessageBox::StandardButton> answers;
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
bool MessageBoxes::confirm(QWidget* parent, const QString& text, const QString& title) {
    return show(Kind::Question, parent, text, title) == QMessageBox::Yes;
}

QMessageBox::StandardButton MessageBoxes::show(Kind kind, QWidget* parent, const QString& text,
                                               const QString& title) {
    State& s = state();
    s.records.append({kind, title, text});
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
    const auto buttons = kind == Kind::Question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok;
    QMessageBox box(icon, title, text, buttons, parent);
    box.setDefaultButton(kind == Kind::Question ? QMessageBox::Yes : QMessageBox::Ok);
    ++s.open;
    const int result = box.exec();
    --s.open;
    return static_cast<QMessageBox::StandardButton>(result);
}

void MessageBoxes::setRecording(bool on) {
    state().recording = on;
    if (!on)
        state().answers.clear();
}
bool MessageBoxes::isRecording() {
    return state().recording;
}
void MessageBoxes::setNextAnswer(QMessageBox::StandardButton answer) {
    state().answers.push_back(answer);
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
