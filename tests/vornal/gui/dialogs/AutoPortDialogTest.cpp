#include "dialogs/AutoPortDialog.h"
#include "vornal/worker/AutoPortWorker.h"

#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>

#include <gtest/gtest.h>

using namespace vornal;
using Style = worker::AutoPortWorkerView::Style;

namespace {

// Stands in for the worker: the test plays its reports.
struct FakeDetection : AutoPortDialog::Detection {
    worker::AutoPortWorkerView* view = nullptr;
    QStringList ports;
    int executed = 0;
    int cancelled = 0;
    bool done = false;
    void execute() override {
        ++executed;
        view->setButtonToCancel();
    }
    void cancel() override { ++cancelled; }
    bool isDone() const override { return done; }
    // The worker's end as it reports it.
    void finish(const std::optional<QString>& port, const QString& text) {
        done = true;
        view->setButtonToClose();
        if (port)
            view->setPort(*port);
        view->update(text, port ? Style::Emphasis : Style::Plain);
    }
};

struct Fixture {
    FakeDetection* fake = nullptr;
    AutoPortDialog::DetectionFactory factory() {
        return [this](worker::AutoPortWorkerView* view, const QStringList& ports) {
            auto d = std::make_unique<FakeDetection>();
            d->view = view;
            d->ports = ports;
            fake = d.get();
            return d;
        };
    }
};

bool isBold(QTextEdit* pane, int block) {
    QTextBlock b = pane->document()->findBlockByNumber(block);
    return b.begin().fragment().charFormat().fontWeight() == QFont::Bold;
}

} // namespace

TEST(AutoPortDialogTest, ProgressPortSelectionAndClose) {
    QComboBox portList;
    portList.addItems({QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyUSB0")});
    Fixture f;
    AutoPortDialog dialog(nullptr, {QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyUSB0")}, &portList,
                          f.factory());
    ASSERT_NE(f.fake, nullptr);
    EXPECT_EQ(f.fake->executed, 1);
    EXPECT_EQ(f.fake->ports.size(), 2);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Auto-detect port"));
    EXPECT_EQ(dialog.button()->text(), QStringLiteral("Cancel"));
    dialog.show();

    f.fake->view->update(QStringLiteral("started"), Style::Plain);
    f.fake->view->update(QStringLiteral("testing /dev/ttyS0"), Style::Plain);
    f.fake->finish(QStringLiteral("/dev/ttyUSB0"), QStringLiteral("best /dev/ttyUSB0"));
    EXPECT_EQ(dialog.textPane()->toPlainText(),
              QStringLiteral("started\ntesting /dev/ttyS0\nbest /dev/ttyUSB0"));
    EXPECT_FALSE(isBold(dialog.textPane(), 0));
    EXPECT_TRUE(isBold(dialog.textPane(), 2));
    EXPECT_EQ(dialog.button()->text(), QStringLiteral("Close"));
    EXPECT_EQ(portList.currentText(), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(dialog.chosenPort(), QStringLiteral("/dev/ttyUSB0"));

    dialog.button()->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(f.fake->cancelled, 0);
}

TEST(AutoPortDialogTest, ButtonCancelsARunningDetection) {
    Fixture f;
    AutoPortDialog dialog(nullptr, {QStringLiteral("COM1")}, nullptr, f.factory());
    dialog.show();
    dialog.button()->click();
    EXPECT_EQ(f.fake->cancelled, 1);
    EXPECT_EQ(dialog.button()->text(), QStringLiteral("Close"));
    EXPECT_TRUE(dialog.isVisible()) << "the worker's last word is still to come";
    f.fake->finish(std::nullopt, QStringLiteral("stopped"));
    EXPECT_FALSE(dialog.chosenPort().has_value());
    dialog.button()->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(f.fake->cancelled, 1);
}

TEST(AutoPortDialogTest, ClosingTheWindowCancels) {
    Fixture f;
    AutoPortDialog dialog(nullptr, {QStringLiteral("COM1")}, nullptr, f.factory());
    dialog.show();
    dialog.close();
    EXPECT_GE(f.fake->cancelled, 1);
    EXPECT_FALSE(dialog.isVisible());
}

TEST(AutoPortDialogTest, RealWorkerWithoutPortsFindsNothing) {
    QComboBox portList;
    portList.addItem(QStringLiteral("COM1"));
    AutoPortDialog dialog(nullptr, {}, &portList);
    EXPECT_EQ(dialog.button()->text(), QStringLiteral("Cancel"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return (dialog.button()->text()) == (QStringLiteral("Close")); }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.isDetectionDone(); }));
    EXPECT_EQ(dialog.textPane()->toPlainText(),
              worker::AutoPortWorker::text("auto.port.detection.started") + u'\n' +
                  worker::AutoPortWorker::text("could.not.auto.detect.port"));
    EXPECT_FALSE(dialog.chosenPort().has_value());
}
