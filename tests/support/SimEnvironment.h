#pragma once
// The process-wide setting of the tests that run workers on simulated instruments: the simulation
// driver with one script (the driver reads it once per process), English texts, and the application
// object the workers' queued calls need.

#include "vornal/util/ResourceBundle.h"

#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialPortLocal.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace vornal::test {

class SimEnvironment : public ::testing::Environment {
public:
    // `quietLibrary`: the serial library's diagnostics are not printed.
    SimEnvironment(std::string script, bool quietLibrary = false)
        : script_(std::move(script)), quiet_(quietLibrary) {}

    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        const QString path = dir_.filePath(QStringLiteral("instruments.vsim"));
        std::ofstream(path.toStdString()) << script_;
        setenv("VAZ_SIM_SCRIPT", path.toLocal8Bit().constData(), 1);
        Direduva::ProcessProperties::set("VAZ_DRIVER_DIR", VORNAL_LIB_DIR "/drivers/sim");
        if (quiet_)
            Direduva::SerialPortLocal::setDiagnosticOutput(nullptr);
        util::ResourceBundle::setLocale(QStringLiteral("en"));
        static int argc = 1;
        static char arg0[] = "sim_test";
        static char* argv[] = {arg0, nullptr};
        app_ = new QCoreApplication(argc, argv);
    }
    void TearDown() override { delete app_; }

private:
    std::string script_;
    bool quiet_;
    QTemporaryDir dir_;
    QCoreApplication* app_ = nullptr;
};

} // namespace vornal::test
