#include "vornal/config/Profiles.h"
#include "support/OtherSettings.h"
#include "vornal/prefs/FilePreferences.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace vornal;
using config::Config;
using config::Profile;
using config::Profiles;

namespace {

class ProfilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        file = dir.filePath(QStringLiteral("prefs.txt"));
        prefs::FilePreferencesFactory::setFileProperty(file);
        prefs::FilePreferencesFactory::reset();
    }
    void TearDown() override {
        prefs::FilePreferencesFactory::setFileProperty(QString());
        prefs::FilePreferencesFactory::reset();
    }
    // The root read afresh from the file, as the next run of the program sees it.
    prefs::AbstractPreferences& reopened() {
        prefs::FilePreferencesFactory::reset();
        root = prefs::FilePreferencesFactory::userRoot();
        return *root;
    }
    QByteArray readFile() {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void copyToStore(const QString& sample) {
        QFile::remove(file);
        ASSERT_TRUE(QFile::copy(sample, file)) << sample.toStdString();
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    }
    static Profile profile(const QString& name, const QString& port, const QString& instrument) {
        Profile p{name, Config()};
        p.config.setPort(port);
        EXPECT_TRUE(p.config.setByKey(QStringLiteral("instrument"), instrument));
        return p;
    }
    // Every stored form of every setting but prevPort (the port of the last save), for exact comparisons.
    static std::string stored(const Config& c) {
        QStringList all;
        for (const QString& key : Config::keys())
            if (key != u"prevPort")
                all += key + u'=' + c.getByKey(key);
        return all.join(u'\n').toStdString();
    }

    QTemporaryDir dir;
    QString file;
    std::shared_ptr<prefs::AbstractPreferences> root;
    const QStringList ports{QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyUSB0"),
                            QStringLiteral("/dev/ttyUSB1")};
};

// A settings file written by the version before profiles (every setting away from its default).
QString oldSample() {
    return QStringLiteral(VORNAL_SOURCE_DIR "/tests/vornal/config/data/settings-before-profiles.txt");
}

TEST_F(ProfilesTest, AFileWrittenBeforeProfilesLoadsAsOneProfileWithEveryValue) {
    copyToStore(oldSample());
    Config direct;
    ASSERT_TRUE(direct.loadConfig(*reopened().node(QString::fromLatin1(Config::SETTINGS_NODE)), ports).valid);
    EXPECT_EQ(direct.getInstrument()->name(), QStringLiteral("BARCODE")); // the sample is what it claims

    const auto r = Profiles::load(reopened(), ports);
    EXPECT_TRUE(r.valid) << r.messages.join(u'\n').toStdString();
    EXPECT_TRUE(r.messages.isEmpty());
    ASSERT_EQ(r.profiles.size(), 1u);
    EXPECT_EQ(r.profiles[0].name, Profiles::defaultName(0));
    EXPECT_EQ(stored(r.profiles[0].config), stored(direct));

    // Saved again as one profile: the file is exactly as the old version wrote it.
    const QByteArray before = readFile();
    EXPECT_EQ(Profiles::save(*root, r.profiles), QString());
    auto withoutComments = [](const QByteArray& text) {
        QList<QByteArray> lines;
        for (const QByteArray& l : text.split('\n'))
            if (!l.startsWith('#'))
                lines += l;
        return lines;
    };
    // Settings added after the sample was written are saved too, with their defaults.
    auto withoutNewer = [](QList<QByteArray> lines) {
        lines.removeIf([](const QByteArray& l) { return l.contains(".prefixKeys="); });
        return lines;
    };
    EXPECT_EQ(withoutNewer(withoutComments(readFile())), withoutComments(before));
}

TEST_F(ProfilesTest, ThreeProfilesRoundTripWithEverySetting) {
    std::vector<Profile> station;
    Profile first{QStringLiteral("Scanner"), Config()};
    for (const auto& [key, value] : test::otherSettings(ports[0], ports[0]))
        ASSERT_TRUE(first.config.setByKey(key, value)) << key.toStdString();
    station.push_back(first);
    station.push_back(profile(QStringLiteral("Balance"), ports[1], QStringLiteral("GENERIC")));
    station.push_back(profile(QStringLiteral("pH meter"), QString(), QStringLiteral("GENERIC")));
    station[1].config.setDecimalPlaces(QStringLiteral("3"));
    Profiles::shareProgramWide(station);
    ASSERT_EQ(Profiles::save(reopened(), station), QString());

    const auto r = Profiles::load(reopened(), ports);
    EXPECT_TRUE(r.valid) << r.messages.join(u'\n').toStdString();
    ASSERT_EQ(r.profiles.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(r.profiles[i].name, station[i].name);
        EXPECT_EQ(stored(r.profiles[i].config), stored(station[i].config)) << i;
    }
    // Saved twice more (the stored sets alternate), then down to two: the removed one is gone for good.
    ASSERT_EQ(Profiles::save(*root, r.profiles), QString());
    auto two = Profiles::load(reopened(), ports).profiles;
    ASSERT_EQ(two.size(), 3u);
    two.erase(two.begin() + 1);
    ASSERT_EQ(Profiles::save(*root, two), QString());
    const auto r2 = Profiles::load(reopened(), ports);
    ASSERT_EQ(r2.profiles.size(), 2u);
    EXPECT_EQ(r2.profiles[1].name, QStringLiteral("pH meter"));
    EXPECT_FALSE(readFile().contains("Balance")) << readFile().toStdString();
    EXPECT_FALSE(readFile().contains(ports[1].toUtf8()));
}

TEST_F(ProfilesTest, ProgramWideSettingsAreStoredOnceAndSharedOnLoad) {
    std::vector<Profile> station{profile(QStringLiteral("A"), ports[0], QStringLiteral("GENERIC")),
                                 profile(QStringLiteral("B"), ports[1], QStringLiteral("GENERIC"))};
    station[0].config.setDelay(QStringLiteral("55"));
    station[0].config.minimizeToTray = false;
    station[1].config.setDelay(QStringLiteral("99")); // not its own: the first's wins
    ASSERT_EQ(Profiles::save(reopened(), station), QString());
    const QByteArray text = readFile();
    EXPECT_EQ(text.count("delay="), 1);
    EXPECT_EQ(text.count("minimizeToTray="), 1);
    const auto r = Profiles::load(reopened(), ports);
    ASSERT_EQ(r.profiles.size(), 2u);
    EXPECT_EQ(r.profiles[1].config.getDelay(), QStringLiteral("55"));
    EXPECT_FALSE(r.profiles[1].config.minimizeToTray);
    EXPECT_EQ(Profiles::newProfileConfig(r.profiles[0].config).getDelay(), QStringLiteral("55"));
}

TEST_F(ProfilesTest, NamesAreCheckedWithMessagesThatSayWhatToDo) {
    const std::vector<Profile> station{
        profile(QStringLiteral("Balance"), ports[0], QStringLiteral("GENERIC")),
        profile(QStringLiteral("Scanner"), ports[1], QStringLiteral("GENERIC"))};
    EXPECT_EQ(Profiles::checkName(station, -1, QStringLiteral("pH meter")), QString());
    EXPECT_EQ(Profiles::checkName(station, 0, QStringLiteral("BALANCE")), QString()); // its own name
    EXPECT_EQ(Profiles::checkName(station, -1, QString(40, u'x')), QString());
    EXPECT_TRUE(
        Profiles::checkName(station, -1, QStringLiteral("  ")).contains(QStringLiteral("needs a name")));
    EXPECT_TRUE(Profiles::checkName(station, -1, QString(41, u'x')).contains(QStringLiteral("at most 40")));
    EXPECT_TRUE(Profiles::checkName(station, -1, QStringLiteral("a\tb")).contains(QStringLiteral("control")));
    EXPECT_TRUE(Profiles::checkName(station, -1, QStringLiteral("a\nb")).contains(QStringLiteral("control")));
    const QString dup = Profiles::checkName(station, 0, QStringLiteral(" scanner "));
    EXPECT_TRUE(dup.contains(QStringLiteral("\"Scanner\""))) << dup.toStdString();
    EXPECT_EQ(Profiles::find(station, QStringLiteral("sCaNnEr")), 1);
    EXPECT_EQ(Profiles::find(station, QStringLiteral("Scale")), -1);

    // A station with a bad name is not written at all.
    auto bad = station;
    bad[1].name = QStringLiteral("balance");
    EXPECT_FALSE(Profiles::save(reopened(), bad).isEmpty());
    EXPECT_TRUE(readFile().isEmpty());
}

TEST_F(ProfilesTest, APortChosenTwiceIsRefusedNamingTheProfileThatHasIt) {
    std::vector<Profile> station{
        profile(QStringLiteral("Balance"), QStringLiteral("COM3"), QStringLiteral("GENERIC")),
        profile(QStringLiteral("Scanner"), QStringLiteral("COM4"), QStringLiteral("GENERIC")),
        profile(QStringLiteral("Spare"), QString(), QStringLiteral("GENERIC"))};
    EXPECT_EQ(Profiles::checkPort(station, 0, QStringLiteral("COM3")), QString());
    EXPECT_EQ(Profiles::checkPort(station, 1, QStringLiteral("COM5")), QString());
    EXPECT_EQ(Profiles::checkPort(station, 1, QString()), QString()); // no port: never a conflict
    EXPECT_EQ(Profiles::checkPort(station, -1, QString()), QString());
    for (const QString& same :
         {QStringLiteral("COM3"), QStringLiteral(" com3"), QStringLiteral("\\\\.\\COM3")}) {
        const QString why = Profiles::checkPort(station, 1, same);
        EXPECT_TRUE(why.contains(QStringLiteral("\"Balance\""))) << same.toStdString() << why.toStdString();
    }
    EXPECT_FALSE(Profiles::checkPort(station, -1, QStringLiteral("COM4")).isEmpty());
    station[2].config.setPort(QStringLiteral("COM4"));
    const QString why = Profiles::save(reopened(), station);
    EXPECT_TRUE(why.contains(QStringLiteral("COM4"))) << why.toStdString();
    EXPECT_TRUE(readFile().isEmpty());
#ifndef Q_OS_WIN
    // Linux device names differ by case.
    station[2].config.setPort(QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(Profiles::checkPort(station, 1, QStringLiteral("/dev/ttyusb0")), QString());
#endif
}

TEST_F(ProfilesTest, ANinthProfileIsRefused) {
    std::vector<Profile> station;
    for (int i = 0; i < Profiles::MAX_PROFILES; ++i)
        station.push_back(profile(Profiles::defaultName(i), QStringLiteral("/dev/ttyUSB%1").arg(i),
                                  QStringLiteral("GENERIC")));
    ASSERT_EQ(Profiles::save(reopened(), station), QString());
    EXPECT_EQ(Profiles::load(reopened(), ports).profiles.size(), std::size_t(Profiles::MAX_PROFILES));
    const QByteArray eight = readFile();
    station.push_back(profile(QStringLiteral("Ninth"), QString(), QStringLiteral("GENERIC")));
    const QString why = Profiles::save(*root, station);
    EXPECT_TRUE(why.contains(QStringLiteral("At most 8"))) << why.toStdString();
    EXPECT_EQ(readFile(), eight);
}

TEST_F(ProfilesTest, DamagedStoredProfilesLoadWithMessages) {
    std::vector<Profile> station{profile(QStringLiteral("Balance"), ports[0], QStringLiteral("GENERIC")),
                                 profile(QStringLiteral("Scanner"), ports[1], QStringLiteral("BARCODE"))};
    ASSERT_EQ(Profiles::save(reopened(), station), QString());
    QByteArray text = readFile();
    // The second profile's name repeated and a bad value; an unknown node listed.
    text.replace("profileName=Scanner", "profileName=balance");
    text.replace("instrument=BARCODE", "instrument=NO_SUCH");
    text.replace("profileNodes=profile-1a", "profileNodes=profile-1a,profile-5a,../x");
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
    f.close();
    const auto r = Profiles::load(reopened(), ports);
    EXPECT_FALSE(r.valid);
    ASSERT_EQ(r.profiles.size(), 2u) << r.messages.join(u'\n').toStdString();
    EXPECT_EQ(r.profiles[1].name, Profiles::defaultName(1));
    EXPECT_EQ(r.messages.size(), 3) << r.messages.join(u'\n').toStdString();
    EXPECT_EQ(r.profiles[1].config.getPort(), ports[1]);

    // A port stored twice (edited by hand): the later profile is left without it, and the station can be
    // saved again.
    text = readFile();
    text.replace("profile-1a.port=" + ports[1].toUtf8(), "profile-1a.port=" + ports[0].toUtf8());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
    f.close();
    const auto twice = Profiles::load(reopened(), ports);
    ASSERT_EQ(twice.profiles.size(), 2u);
    EXPECT_EQ(twice.profiles[0].config.getPort(), ports[0]);
    EXPECT_EQ(twice.profiles[1].config.getPort(), QString());
    EXPECT_TRUE(twice.messages.join(u'\n').contains(QStringLiteral("left without a port")));
    EXPECT_EQ(Profiles::save(*root, twice.profiles), QString());
}

} // namespace
