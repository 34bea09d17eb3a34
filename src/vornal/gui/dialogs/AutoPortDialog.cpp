#include "AutoPortDialog.h"

#include "DialogTexts.h"

#include "vornal/util/FriendlyPortUtil.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

namespace vornal {

namespace {
class WorkerDetection : public AutoPortDialog::Detection {
public:
    WorkerDetection(worker::AutoPortWorkerView* view, const QStringList& ports) : worker_(view, ports) {}
    void execute() override { worker_.execute(); }
    void cancel() override { worker_.cancel(); }
    bool isDone() const override { return worker_.isDone(); }

private:
    worker::AutoPortWorker worker_;
};
} // namespace

AutoPortDialog::AutoPortDialog(QWidget* owner) : QDialog(owner) {
    initComponents();
}

AutoPortDialog::AutoPortDialog(QWidget* owner, const QStringList& ports, QComboBox* portList,
                               DetectionFactory factory)
    : QDialog(owner), portList_(portList) {
    initComponents();
    setButtonToCancel();
    if (!factory)
        factory = [](worker::AutoPortWorkerView* view, const QStringList& p) -> std::unique_ptr<Detection> {
            return std::make_unique<WorkerDetection>(view, p);
        };
    detection_ = factory(this, ports);
    if (detection_)
        detection_->execute();
}

AutoPortDialog::~AutoPortDialog() {
    // The worker stops and waits for its thread; it reports nothing once it is gone.
    if (detection_ && !detection_->isDone())
        detection_->cancel();
    detection_.reset();
}

void AutoPortDialog::initComponents() {
    setWindowTitle(DialogTexts::text(QStringLiteral("AutoPortDialog.this.title")));
    textPane_ = new QTextEdit(this);
    textPane_->setReadOnly(true);
    buttonBar_ = new QDialogButtonBox(this);
    button_ = new QPushButton(QStringLiteral("OK"), this);
    buttonBar_->addButton(button_, QDialogButtonBox::ActionRole);
    button_->setDefault(true);
    connect(button_, &QPushButton::clicked, this, &AutoPortDialog::buttonActionPerformed);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(textPane_, 1);
    layout->addWidget(buttonBar_);
    resize(460, 300);
}

std::optional<QString> AutoPortDialog::run(QWidget* owner, const QStringList& ports, QComboBox* portList,
                                           DetectionFactory factory) {
    AutoPortDialog dialog(owner, ports, portList, std::move(factory));
    dialog.exec();
    return dialog.chosenPort();
}

bool AutoPortDialog::isDetectionDone() const {
    return !detection_ || detection_->isDone();
}

void AutoPortDialog::setButtonToCancel() {
    button_->setText(DialogTexts::text(QStringLiteral("AutoPortDialog.cancel")));
}

void AutoPortDialog::setButtonToClose() {
    button_->setText(DialogTexts::text(QStringLiteral("AutoPortDialog.close")));
}

void AutoPortDialog::setPort(const QString& port) {
    if (port.isEmpty())
        return;
    chosenPort_ = port;
    if (!portList_)
        return;
    const int index =
        portList_->findText(util::FriendlyPortUtil::getFriendlyPortName(port), Qt::MatchExactly);
    if (index >= 0)
        portList_->setCurrentIndex(index);
}

void AutoPortDialog::update(const QString& text, Style style) {
    QTextCursor cursor(textPane_->document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setFontWeight(style == Style::Emphasis ? QFont::Bold : QFont::Normal);
    if (!textPane_->document()->isEmpty())
        cursor.insertText(QStringLiteral("\n"), QTextCharFormat());
    cursor.insertText(text, format);
    textPane_->setTextCursor(cursor);
    textPane_->ensureCursorVisible();
}

void AutoPortDialog::cancelDetection() {
    if (detection_ && !detection_->isDone()) {
        cancelRequested_ = true;
        detection_->cancel();
    }
}

void AutoPortDialog::buttonActionPerformed() {
    // A second press after the cancel closes at once; the worker's "stopped" then goes nowhere.
    if (!isDetectionDone() && !cancelRequested_) {
        cancelDetection();
        setButtonToClose();
        return;
    }
    QDialog::accept();
}

void AutoPortDialog::closeEvent(QCloseEvent* event) {
    cancelDetection();
    QDialog::closeEvent(event);
}

void AutoPortDialog::reject() {
    // Escape and the window's close button.
    cancelDetection();
    QDialog::reject();
}

} // namespace vornal
