// The auto-detection dialog over the real worker, the serial library and simulated instruments (one
// script per process: the simulation driver reads it once).
#include "dialogs/AutoPortDialog.h"
#include "support/TestMain.h"
#include "vornal/util/ResourceBundle.h"
#include "vornal/worker/AutoPortWorker.h"

#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialPortLocal.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using namespace vornal;
using worker::AutoPortWorker;

namespace {

const char* const script = R"(
port NOTHING
modem none
port SCALE
modem dsr=dtr cts=rts
port OTHER
modem dsr=dtr cts=rts
)";

bool waitForClose(AutoPortDialog& dialog) {
    return QTest::qWaitFor(
        [&] { return dialog.button()->text() == QStringLiteral("Close") && dialog.isDetectionDone(); },
        10000);
}

} // namespace

TEST(AutoPortDialogSim, FoundPortIsSelectedInThePortList) {
    QComboBox portList;
    portList.addItems({QStringLiteral("NOTHING"), QStringLiteral("SCALE"), QStringLiteral("OTHER")});
    AutoPortDialog dialog(
        nullptr, {QStringLiteral("NOTHING"), QStringLiteral("SCALE"), QStringLiteral("OTHER")}, &portList);
    ASSERT_TRUE(waitForClose(dialog));
    EXPECT_EQ(dialog.chosenPort(), QStringLiteral("SCALE")) << "on equal scores the earlier port";
    EXPECT_EQ(portList.currentText(), QStringLiteral("SCALE"));
    const QString text = dialog.textPane()->toPlainText();
    EXPECT_TRUE(text.endsWith(AutoPortWorker::text("best.port") + QStringLiteral(" SCALE")))
        << text.toStdString();
}

TEST(AutoPortDialogSim, ModalRunCancelledByTheButton) {
    QComboBox portList;
    portList.addItems({QStringLiteral("NOTHING"), QStringLiteral("SCALE")});
    portList.setCurrentIndex(0);
    // Cancel during the first port's pauses, then close once the worker has said its last word.
    QTimer::singleShot(100, [] {
        auto* dialog = qobject_cast<AutoPortDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->button()->text(), QStringLiteral("Cancel"));
        dialog->button()->click();
        EXPECT_EQ(dialog->button()->text(), QStringLiteral("Close"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return dialog->isDetectionDone(); }, 5000));
        EXPECT_TRUE(dialog->textPane()->toPlainText().endsWith(AutoPortWorker::text("stopped")));
        dialog->button()->click();
    });
    const auto port =
        AutoPortDialog::run(nullptr, {QStringLiteral("NOTHING"), QStringLiteral("SCALE")}, &portList);
    EXPECT_FALSE(port.has_value());
    EXPECT_EQ(portList.currentText(), QStringLiteral("NOTHING"));
}

int main(int argc, char** argv) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("detect.vsim"));
    std::ofstream(path.toStdString()) << script;
    setenv("VAZ_SIM_SCRIPT", path.toLocal8Bit().constData(), 1);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Direduva::ProcessProperties::set("VAZ_DRIVER_DIR", VORNAL_LIB_DIR "/drivers/sim");
    Direduva::SerialPortLocal::setDiagnosticOutput(nullptr);
    QApplication app(argc, argv);
    util::ResourceBundle::setLocale(QStringLiteral("en"));
    ::testing::InitGoogleTest(&argc, argv);
    return vornal::test::finishTests(RUN_ALL_TESTS());
}
