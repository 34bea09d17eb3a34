#pragma once

#include "vornal/worker/AutoPortWorker.h"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QComboBox;
class QDialogButtonBox;
class QPushButton;
class QTextEdit;

namespace vornal {

// The port auto-detection dialog ("Auto-detect port"): shows the detection's progress and has one
// button, "Cancel" while the detection runs and "Close" afterwards. When a port is found it is selected
// (by its friendly name) in the main window's port list.
//
// The window's autoButton calls AutoPortDialog::run(this, getPortList(), portList): modal; it returns the
// port found (none when nothing was found or the user cancelled). Selecting the entry in the port list
// fires the list's own change handler, which stores the port in the record.
class AutoPortDialog : public QDialog, public worker::AutoPortWorkerView {
    Q_OBJECT
public:
    // What the dialog drives: the AutoPortWorker, or a fake in tests.
    class Detection {
    public:
        virtual ~Detection() = default;
        virtual void execute() = 0;
        virtual void cancel() = 0;
        virtual bool isDone() const = 0;
    };
    using DetectionFactory =
        std::function<std::unique_ptr<Detection>(worker::AutoPortWorkerView* view, const QStringList& ports)>;

    // Builds the controls and starts the detection over `ports` (tested in this order). `portList` is the
    // main window's port selector (may be null). `factory` null: the real AutoPortWorker.
    AutoPortDialog(QWidget* owner, const QStringList& ports, QComboBox* portList = nullptr,
                   DetectionFactory factory = nullptr);
    // Builds the controls only; nothing is started.
    explicit AutoPortDialog(QWidget* owner);
    ~AutoPortDialog() override;

    // Shows the dialog modally and returns the port found.
    static std::optional<QString> run(QWidget* owner, const QStringList& ports, QComboBox* portList,
                                      DetectionFactory factory = nullptr);

    // ---- AutoPortWorkerView ----
    void setButtonToCancel() override;
    void setButtonToClose() override;
    void setPort(const QString& port) override;
    void update(const QString& text, Style style) override;

    // The port the detection proposed (none so far).
    std::optional<QString> chosenPort() const { return chosenPort_; }
    // The button: cancels a running detection, closes the dialog once it has ended.
    void buttonActionPerformed();

    QPushButton* button() const { return button_; }
    QTextEdit* textPane() const { return textPane_; }
    bool isDetectionDone() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void initComponents();
    void cancelDetection();

    QTextEdit* textPane_ = nullptr;
    QDialogButtonBox* buttonBar_ = nullptr;
    QPushButton* button_ = nullptr;
    QPointer<QComboBox> portList_;
    std::unique_ptr<Detection> detection_;
    bool cancelRequested_ = false;
    std::optional<QString> chosenPort_;
};

} // namespace vornal
