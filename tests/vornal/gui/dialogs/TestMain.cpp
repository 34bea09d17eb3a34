// Offscreen widget tests: one QApplication for all, English texts, message boxes recorded instead of shown.
#include "support/TestMain.h"
#include "MessageBoxes.h"
#include "vornal/util/ResourceBundle.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    vornal::util::ResourceBundle::setLocale(QStringLiteral("en"));
    vornal::MessageBoxes::setRecording(true);
    ::testing::InitGoogleTest(&argc, argv);
    return vornal::test::finishTests(RUN_ALL_TESTS());
}
