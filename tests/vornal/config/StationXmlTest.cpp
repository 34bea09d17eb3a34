// The export and import of a station of several profiles: older readers see the first profile exactly as
// before, a station round-trips exactly, and a refused station changes nothing.
#include "vornal/config/Profiles.h"
#include "vornal/config/SettingsXml.h"
#include "vornal/prefs/PreferencesStore.h"
#include "vornal/prefs/PreferencesXml.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace vornal;
using config::Config;
using config::Profile;
using config::Profiles;
using config::SettingsXml;

namespace {

class StationXmlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        store = dir.filePath(QStringLiteral("prefs.txt"));
        prefs::PreferencesStore::select(store);
    }
    void TearDown() override { prefs::PreferencesStore::select(dir.filePath(QStringLiteral("unused.txt"))); }
    prefs::AbstractPreferences& root() {
        prefs::PreferencesStore::select(store); // read afresh
        return *prefs::PreferencesStore::userRoot();
    }
    std::shared_ptr<prefs::AbstractPreferences> settingsNode() {
        return root().node(QString::fromLatin1(Config::SETTINGS_NODE));
    }
    QByteArray read(const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("missing");
    }
    void write(const QString& file, const QByteArray& data) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(data);
    }
    static Profile profile(const QString& name, const QString& port) {
        Profile p{name, Config()};
        p.config.setPort(port);
        p.config.setInstrument(config::ConfigHelper::Instrument::GENERIC);
        return p;
    }
    // Three profiles, the further ones with texts that need escaping.
    static std::vector<Profile> station() {
        std::vector<Profile> s{profile(QStringLiteral("Scanner & Co"), QStringLiteral("/dev/ttyS0")),
                               profile(QStringLiteral("Waage \u00e4 \"1\""), QStringLiteral("/dev/ttyUSB0")),
                               profile(QStringLiteral("pH <meter>"), QString())};
        s[0].config.setDelay(QStringLiteral("44"));
        s[1].config.setDecimalPlaces(QStringLiteral("3"));
        s[1].config.setRemoveCharacters(QStringLiteral("<&>\"'\t?"));
        s[2].config.setCustomRegEx(QStringLiteral("pH ([0-9.]+)?>"));
        s[2].config.setRequestCommand(QStringLiteral("P<13><10>"));
        Profiles::shareProgramWide(s);
        return s;
    }
    static std::string text(const std::vector<Profile>& s) {
        QStringList lines;
        for (const auto& p : s) {
            lines += QStringLiteral("[%1]").arg(p.name);
            for (const QString& key : Config::keys())
                if (key != u"prevPort")
                    lines += key + u'=' + p.config.getByKey(key);
        }
        return lines.join(u'\n').toStdString();
    }

    QTemporaryDir dir;
    QString store;
};

TEST_F(StationXmlTest, OlderReadersSeeTheFirstProfileExactlyAsBefore) {
    const auto s = station();
    const QString one = dir.filePath(QStringLiteral("one.xml"));
    const QString all = dir.filePath(QStringLiteral("all.xml"));
    ASSERT_TRUE(SettingsXml::exportSettings(s[0].config, one).ok);
    const auto r = SettingsXml::exportStation(s, all);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.profiles, 3);
    // Without its processing instructions the station's file is the export of the first profile.
    QString stripped = QString::fromUtf8(read(all));
    stripped.remove(QRegularExpression(QStringLiteral("\\n *<\\?vornal-[^>]*>")));
    EXPECT_EQ(stripped.toUtf8(), read(one));
    // And the reader's entries are the first profile's.
    const auto doc = prefs::PreferencesXml::readFile(all);
    const auto entries = SettingsXml::checkSettings(doc);
    const auto expected = s[0].config.storedEntries();
    EXPECT_EQ(entries, prefs::PreferencesXml::Entries(expected.begin(), expected.end()));
    EXPECT_EQ(doc.instructions.size(), 3u);
}

TEST_F(StationXmlTest, AStationRoundTripsExactlyAndReplacesTheStoredOne) {
    const auto s = station();
    const QString file = dir.filePath(QStringLiteral("station.xml"));
    ASSERT_TRUE(SettingsXml::exportStation(s, file).ok);
    // Stored before: four profiles, another name for the first; all replaced.
    std::vector<Profile> before{profile(QStringLiteral("Old"), QStringLiteral("/dev/ttyS0")),
                                profile(QStringLiteral("B"), QStringLiteral("/dev/ttyS1")),
                                profile(QStringLiteral("C"), QStringLiteral("/dev/ttyS2")),
                                profile(QStringLiteral("D"), QStringLiteral("/dev/ttyS3"))};
    ASSERT_EQ(Profiles::save(root(), before), QString());
    const auto r = SettingsXml::importSettings(*settingsNode(), file);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.profiles, 3);
    const auto loaded = Profiles::load(root(), Profiles::storedPorts(root()));
    EXPECT_TRUE(loaded.messages.isEmpty()) << loaded.messages.join(u'\n').toStdString();
    EXPECT_EQ(text(loaded.profiles), text(s));
    // Exported again: the same file.
    const QString again = dir.filePath(QStringLiteral("again.xml"));
    ASSERT_TRUE(SettingsXml::exportStation(loaded.profiles, again).ok);
    EXPECT_EQ(read(again), read(file));
}

TEST_F(StationXmlTest, AnOlderExportChangesTheFirstProfileOnly) {
    auto s = station();
    ASSERT_EQ(Profiles::save(root(), s), QString());
    Config first = s[0].config;
    first.setDecimalPlaces(QStringLiteral("5"));
    const QString file = dir.filePath(QStringLiteral("old.xml"));
    ASSERT_TRUE(SettingsXml::exportSettings(first, file).ok);
    const auto r = SettingsXml::importSettings(*settingsNode(), file);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.profiles, 1);
    s[0].config = first;
    EXPECT_EQ(text(Profiles::load(root(), Profiles::storedPorts(root())).profiles), text(s));
}

TEST_F(StationXmlTest, AnOlderExportWithThePortOfAFurtherProfileIsRefused) {
    ASSERT_EQ(Profiles::save(root(), station()), QString());
    const QByteArray stored = read(store);
    Config first = station()[0].config;
    first.setPort(QStringLiteral("/dev/ttyUSB0"));
    const QString file = dir.filePath(QStringLiteral("old.xml"));
    ASSERT_TRUE(SettingsXml::exportSettings(first, file).ok);
    const auto r = SettingsXml::importSettings(*settingsNode(), file);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.message.contains(QStringLiteral("already used by the profile \"Waage")))
        << r.message.toStdString();
    EXPECT_EQ(read(store), stored);
}

TEST_F(StationXmlTest, ARefusedStationChangesNothing) {
    const QString file = dir.filePath(QStringLiteral("station.xml"));
    ASSERT_TRUE(SettingsXml::exportStation(station(), file).ok);
    const QByteArray good = read(file);
    ASSERT_EQ(Profiles::save(root(), {profile(QStringLiteral("Kept"), QStringLiteral("/dev/ttyS9"))}),
              QString());
    const QByteArray stored = read(store);

    struct Case {
        const char* what;
        QByteArray from, to;
        const char* message;
    };
    const Case cases[] = {
        {"count", "profiles=\"3\"", "profiles=\"4\"", "gives 4 profiles, but the file holds 3"},
        {"no count", "profiles=\"3\" ", "", "does not say how many"},
        {"nine", "profiles=\"3\"", "profiles=\"9\"", "a station has 1 to 8"},
        {"repeated name", "profileName=\"pH &lt;meter&gt;\"", "profileName=\"scanner &amp; co\"",
         "already named \"Scanner & Co\""},
        {"empty name", "profileName=\"pH &lt;meter&gt;\"", "profileName=\" \"", "needs a name"},
        {"unknown key", "decimalPlaces=\"3\"", "decimalPlace=\"3\"", "unknown settings key \"decimalPlace\""},
        {"bad value", "decimalPlaces=\"3\"", "decimalPlaces=\"12\"", "decimalPlaces"},
        {"program-wide", "decimalPlaces=\"3\"", "delay=\"3\"", "kept once for the program"},
        {"repeated key", "decimalPlaces=\"3\"", "decimalPlaces=\"3\" decimalPlaces=\"3\"", "profile 2"},
        {"entity", "decimalPlaces=\"3\"", "decimalPlaces=\"&x;\"", "not allowed"},
        {"same port", "port=\"/dev/ttyUSB0\"", "port=\"/dev/ttyS0\"",
         "already used by the profile \"Scanner & Co\""},
        {"before the mark", "<?vornal-station", "<?vornal-profile profileName=\"X\"?><?vornal-station",
         "before the station mark"},
    };
    for (const Case& c : cases) {
        QByteArray bad = good;
        ASSERT_TRUE(bad.contains(c.from)) << c.what;
        bad.replace(bad.indexOf(c.from), c.from.size(), c.to);
        write(file, bad);
        const auto r = SettingsXml::importSettings(*settingsNode(), file);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_TRUE(r.message.contains(QString::fromUtf8(c.message)))
            << c.what << ": " << r.message.toStdString();
        EXPECT_EQ(read(store), stored) << c.what;
    }
}

TEST_F(StationXmlTest, AValueNoFileCanCarryIsNamedWithItsProfile) {
    auto s = station();
    s[2].config.setRemoveCharacters(QString(QChar(2)));
    const QString file = dir.filePath(QStringLiteral("station.xml"));
    const auto r = SettingsXml::exportStation(s, file);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.message.contains(QStringLiteral("\"removeCharacters\" of the profile \"pH <meter>\"")))
        << r.message.toStdString();
    EXPECT_TRUE(r.message.contains(QStringLiteral("U+0002"))) << r.message.toStdString();
    EXPECT_FALSE(QFile::exists(file));
}

} // namespace
