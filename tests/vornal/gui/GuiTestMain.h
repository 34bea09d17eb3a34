#pragma once

#include "MessageBoxes.h"
#include "VororaZeZovFrame2.h"

#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace vornal::test {

// The simulated instruments of these tests: SIM1 a scale sending "ST,GS,+  12.345 kg" CR LF every
// 100 ms. NOPE is listed but does not exist.
QStringList simulatedPorts();

// One window on its own preferences file, dialogs recorded instead of shown.
class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds the window (show = offscreen window, autoStart as in the program).
    VororaZeZovFrame2& open(QStringList args = {}, bool autoStart = false,
                            QStringList ports = simulatedPorts());
    void closeWindow();
    QString storeFile() const { return dir_.filePath(QStringLiteral("prefs.txt")); }
    QString storeText() const;
    // Titles of the dialogs shown since the last call.
    QStringList dialogTitles();
    QList<MessageBoxes::Record> dialogs() { return MessageBoxes::takeRecords(); }
    // The event log as plain text.
    QString logText() const;
    // Text of a key of the window's bundle.
    static QString tr(const char* key);

    QTemporaryDir dir_;
    std::unique_ptr<VororaZeZovFrame2> window_;
    // Applied to the options of every window open() builds. By default no start checks for updates.
    std::function<void(VororaZeZovFrame2::Options&)> adjustOptions_;
};

} // namespace vornal::test
