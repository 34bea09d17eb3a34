// vornal-cli detect with the simulated instruments.
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>

namespace {

struct Result {
    int exitCode = -1;
    QString out;
    QString err;
};

Result detect(const char* script, const QStringList& args = {}) {
    static QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("detect.vsim"));
    std::ofstream(file.toStdString()) << script;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VORNAL_BIN_DIR "/vornal-cli"),
            QStringList{"--store", dir.filePath("prefs.txt"), "--simulate", file, "detect"} + args);
    EXPECT_TRUE(p.waitForStarted());
    EXPECT_TRUE(p.waitForFinished(20000));
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
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
