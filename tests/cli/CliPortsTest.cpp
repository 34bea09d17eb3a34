// vornal-cli ports: the listing a script can rely on.
#include "support/Cli.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <gtest/gtest.h>

namespace {

using vornal::test::CliResult;
using vornal::test::runCli;

} // namespace

TEST(CliPorts, JsonListsTheSystemPorts) {
    const CliResult r = runCli({QStringLiteral("ports"), QStringLiteral("--json")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(r.out.toUtf8(), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out.toStdString();
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
    const CliResult r = runCli({QStringLiteral("--simulate"), QStringLiteral("ports")});
    if (r.exitCode != 0 && r.err.contains("not available"))
        GTEST_SKIP() << "simulation driver not built";
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.first().contains(u':')) << lines.first().toStdString();
}

TEST(CliPorts, RefusesStrayArguments) {
    const CliResult r = runCli({QStringLiteral("ports"), QStringLiteral("COM1")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("unexpected argument COM1")) << r.err.toStdString();
}
