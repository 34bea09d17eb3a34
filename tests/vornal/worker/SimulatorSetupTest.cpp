// Start-up with --simulate: which simulation driver the serial library is pointed at, and the script the
// driver is given, from the program's folder (build tree or installation).
#include "vornal/worker/Startup.h"

#include <Direduva/ProcessProperties.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using Direduva::ProcessProperties;
using vornal::worker::useSimulator;

namespace {

struct Layout : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("bin")));
        ProcessProperties::clear("VAZ_DRIVER_DIR");
        qunsetenv("VAZ_DRIVER_DIR");
        qunsetenv("VAZ_SIM_SCRIPT");
    }
    void TearDown() override {
        ProcessProperties::clear("VAZ_DRIVER_DIR");
        qunsetenv("VAZ_SIM_SCRIPT");
    }
    QString make(const char* sub) {
        EXPECT_TRUE(QDir(dir.path()).mkpath(QString::fromLatin1(sub)));
        return QDir(dir.filePath(QString::fromLatin1(sub))).canonicalPath();
    }
    QString bin() const { return dir.filePath(QStringLiteral("bin")); }
    QTemporaryDir dir;
};

} // namespace

TEST_F(Layout, TheBuildTreesDriverComesFirstThenTheInstalledOne) {
    const QString installed = make("lib/vornal/drivers/sim");
    EXPECT_EQ(useSimulator(bin(), QString()), installed);
    EXPECT_EQ(ProcessProperties::get("VAZ_DRIVER_DIR").value_or(""), installed.toStdString());

    const QString built = make("lib/drivers/sim");
    EXPECT_EQ(useSimulator(bin(), QString()), built);
    EXPECT_EQ(ProcessProperties::get("VAZ_DRIVER_DIR").value_or(""), built.toStdString());
    // No script: the driver's built-in demo.
    EXPECT_FALSE(qEnvironmentVariableIsSet("VAZ_SIM_SCRIPT"));
}

TEST_F(Layout, TheScriptIsHandedOnAsAnAbsolutePath) {
    make("lib/drivers/sim");
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    useSimulator(bin(), QStringLiteral("scale.vsim"));
    QDir::setCurrent(old);
    EXPECT_EQ(qEnvironmentVariable("VAZ_SIM_SCRIPT"),
              QFileInfo(dir.filePath(QStringLiteral("scale.vsim"))).absoluteFilePath());
}

TEST_F(Layout, WithoutASimulationDriverTheLibrarysOwnChoiceStays) {
    EXPECT_EQ(useSimulator(bin(), QString()), QString());
    EXPECT_FALSE(ProcessProperties::get("VAZ_DRIVER_DIR").has_value());
}
