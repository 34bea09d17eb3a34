// vornal-cli ports: the listing a script can rely on.
#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

namespace {

struct CliRun {
    int code = -1;
    QByteArray out, err;
};

CliRun cli(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(VORNAL_BIN_DIR "/vornal-cli"), args);
    CliRun r;
    if (!p.waitForFinished(30000))
        return r;
    r.code = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

} // namespace

TEST(CliPorts, JsonListsTheSystemPorts) {
    const CliRun r = cli({QStringLiteral("ports"), QStringLiteral("--json")});
    ASSERT_EQ(r.code, 0) << r.err.constData();
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(r.out, &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out.constData();
    ASSERT_TRUE(doc.isArray());
    for (const auto& v : doc.array()) {
        const QJsonObject o = v.toObject();
        EXPECT_TRUE(o.value(QStringLiteral("name")).toString().startsWith(QStringLiteral("/dev/")));
        EXPECT_TRUE(o.value(QStringLiteral("friendlyName"))
                        .toString()
                        .startsWith(o.value(QStringLiteral("name")).toString()));
    }
}

TEST(CliPorts, SimulatedPortsWithFriendlyNames) {
    const CliRun r = cli({QStringLiteral("--simulate"), QStringLiteral("ports")});
    if (r.code != 0 && r.err.contains("not available"))
        GTEST_SKIP() << "simulation driver not built";
    ASSERT_EQ(r.code, 0) << r.err.constData();
    const QStringList lines = QString::fromUtf8(r.out).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.first().contains(u':')) << lines.first().toStdString();
}

TEST(CliPorts, RefusesStrayArguments) {
    const CliRun r = cli({QStringLiteral("ports"), QStringLiteral("COM1")});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains("unexpected argument COM1")) << r.err.constData();
}
