// vornal-cli presets: one line (or JSON object) per preset, in list order.
#include "support/Cli.h"

#include "vornal/config/ConfigHelper.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

using vornal::test::CliResult;

// One line or object per preset of the table.
const int kPresets = int(vornal::config::ConfigHelper::Instrument::values().size());

CliResult runCli(const QStringList& args) {
    QProcessEnvironment env = vornal::test::cliEnvironment();
    env.insert("LC_ALL", "en_US.UTF-8");
    return vornal::test::runCli(args, {}, 30000, env);
}

TEST(PresetsCli, TabSeparatedLines) {
    const CliResult r = runCli({"presets"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), kPresets);
    EXPECT_EQ(lines[4], "AND\tA&D\tNUMBER\tNUMERIC\t2400/7/EVEN/1/10\t([-+]+[0-9]*[\\.,]?[0-9]+)");
    EXPECT_EQ(lines[15].section(u'\t', 4, 4), "1200/7/ODD/1/10/CTS_RTS"); // DENVER, as SARTORIUS
    EXPECT_EQ(lines[38].section(u'\t', 4, 4), "9600/8/NONE/1/3");         // MYWEIGH_ULTRA2, ETX
    for (const QString& line : lines)
        EXPECT_EQ(line.count(u'\t'), 5) << line.toStdString();
}

TEST(PresetsCli, JsonArrayWithTheSameFields) {
    const CliResult r = runCli({"presets", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(r.out.toUtf8(), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    const QJsonArray all = doc.array();
    ASSERT_EQ(all.size(), kPresets);
    const QJsonObject barcode = all[3].toObject();
    EXPECT_EQ(barcode["name"].toString(), "BARCODE_ALPHA_COMPLETE");
    EXPECT_EQ(barcode["type"].toString(), "TEXT");
    EXPECT_EQ(barcode["keyMap"].toString(), "ALPHANUMERIC_COMPLETE");
    EXPECT_EQ(barcode["pattern"].toString(), "([] !\"#$%&'()*+,-./\\d:;<=>?@A-Z\\[\\\\^_`a-z{|}~]+)");
    const QJsonObject sics = all[32].toObject();
    EXPECT_EQ(sics["port"].toString(), "9600/8/NONE/1/10/XON_XOFF");
    EXPECT_EQ(sics["bitRate"].toInt(), 9600);
    EXPECT_EQ(sics["inputTerminator"].toInt(), 10);
    EXPECT_TRUE(sics["hint"].isNull());
    EXPECT_TRUE(all[0].toObject()["hint"].isString());
}

TEST(PresetsCli, RefusesUnknownArguments) {
    EXPECT_EQ(runCli({"presets", "--jsn"}).exitCode, 2);
    const CliResult r = runCli({"presets", "extra"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("extra"));
}

} // namespace
