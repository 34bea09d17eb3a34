// vornal-cli detect with the simulated instruments.
#include "support/Cli.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>

namespace {

using Result = vornal::test::CliResult;

Result detect(const char* script, const QStringList& args = {}) {
    static QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("detect.vsim"));
    std::ofstream(file.toStdString()) << script;
    return vornal::test::runCli(
        QStringList{"--store", dir.filePath("prefs.txt"), "--simulate", file, "detect"} + args);
}

} // namespace

TEST(DetectCli, ProbesEveryListedPortAndNamesTheBest) {
    const Result r = detect("port NC\nmodem none\nport SCALE\nmodem dsr=dtr cts=rts\n");
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("Testing port NC")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Testing port SCALE"));
    EXPECT_TRUE(r.out.trimmed().endsWith("SCALE")) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains("Direduva")) << "the library's banner stays off the output";
}

TEST(DetectCli, NamedPortsOnlyAndAFailureStatusWhenNothingAnswers) {
    const Result r = detect("port NC\nmodem none\nport SCALE\nmodem dsr=dtr cts=rts\n", {"NC"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(r.out.contains("SCALE"));
    EXPECT_TRUE(r.out.contains("No instrument answered")) << r.out.toStdString();
}
