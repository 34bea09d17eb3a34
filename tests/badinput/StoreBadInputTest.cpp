// Hostile files and answers: corrupt preferences files, truncated or mangled export files and an update
// server that answers with garbage. The program never fails on them: the settings load gives a usable
// record and leaves the file as it was, an import refuses the file and changes nothing, the update check
// fails with a message in bounded time.

#include "vornal/config/Config.h"
#include "vornal/config/SettingsXml.h"
#include "vornal/prefs/AbstractPreferences.h"
#include "vornal/prefs/PreferencesStore.h"
#include "vornal/prefs/PreferencesXml.h"
#include "vornal/util/ReadRemoteUpdate.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <thread>

using namespace vornal;
using config::Config;
using H = config::ConfigHelper;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

std::shared_ptr<prefs::AbstractPreferences> settingsNode(const QString& file) {
    prefs::PreferencesStore::select(file);
    return prefs::PreferencesStore::userRoot()->node(QString::fromLatin1(Config::SETTINGS_NODE));
}

// A record every field of which is valid by the settings' own rules.
void expectUsable(const Config& c, const std::string& what) {
    EXPECT_TRUE(H::BitRates::valid(c.getBitRate()) && H::DataBits::valid(c.getDataBits()) &&
                H::StopBits::valid(c.getStopBits()) && H::Parity::valid(c.getParity()) &&
                H::Handshake::valid(c.getHandshake()) && H::InputTerminator::valid(c.getInputTerminator()))
        << what;
    EXPECT_TRUE(H::MathOperand::valid(c.getMathOperand()) && H::DecimalPlaces::valid(c.getDecimalPlaces()) &&
                H::EditNumCharacters::valid(c.getEditNumCharacters()) &&
                H::RemoveCharacters::valid(c.getRemoveCharacters()) &&
                H::EveryXValues::valid(c.getEveryXValues()) &&
                H::IgnoreDifference::valid(c.getIgnoreDifference()) &&
                H::IgnoreTimeLimit::valid(c.getIgnoreTimeLimit()) && H::Delay::valid(c.getDelay()) &&
                H::CustomRegEx::valid(c.getCustomRegEx()))
        << what;
}

QByteArray validPrefs() {
    return QByteArrayLiteral(
        "#FilePreferences\n#Mon Dec 07 20:03:26 UTC 2026\n"
        "halvorn.Vornal.bitRate=7\nhalvorn.Vornal.decimalPlaces=2\n"
        "halvorn.Vornal.instrument=METTLER_SICS\nhalvorn.Vornal.removeCharacters=g\\u00e4\n");
}

} // namespace

TEST(CorruptPreferences, EveryKindOfDamageLoadsAUsableRecordAndLeavesTheFileAlone) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::mt19937 random(11);
    QByteArray noise(64 * 1024, '\0');
    for (auto& b : noise)
        b = char(std::uniform_int_distribution<int>(0, 255)(random));
    const QByteArray valid = validPrefs();
    const std::vector<std::pair<const char*, QByteArray>> damaged = {
        {"binary noise", noise},
        {"only NUL bytes", QByteArray(4096, '\0')},
        {"cut inside an escape", valid.left(valid.indexOf("\\u00") + 4)},
        {"cut in the middle", valid.left(valid.size() / 2)},
        {"broken escapes", "halvorn.Vornal.delay=\\uZZZZ\nhalvorn.Vornal.bitRate=\\u0037\\\n"},
        {"wrong types", "halvorn.Vornal.bitRate=999999999999\nhalvorn.Vornal.parity=-1\n"
                        "halvorn.Vornal.inputTerminator=256\nhalvorn.Vornal.instrument=NOPE\n"
                        "halvorn.Vornal.decimalPlaces=8\nhalvorn.Vornal.customRegEx=((\n"
                        "halvorn.Vornal.mathOperand=0\nhalvorn.Vornal.delay=1001\n"},
        {"a megabyte line", "halvorn.Vornal.removeCharacters=" + QByteArray(1 << 20, 'x') + "\n"},
        {"UTF-16 with a byte-order mark", QByteArray("\xff\xfe") + QByteArray("h\0a\0l\0", 6)},
        {"keys of other nodes", "halvorn.Vornal.x.y=1\nhalvorn=2\n.=3\n..bitRate=4\n=\n"},
    };
    const QStringList ports{QStringLiteral("COM1")};
    for (const auto& [what, bytes] : damaged) {
        const QString file = dir.filePath(QStringLiteral("prefs-%1.txt").arg(qHash(QByteArray(what))));
        writeAll(file, bytes);
        Config c;
        Config::LoadResult result;
        ASSERT_NO_THROW(result = c.loadConfig(*settingsNode(file), ports)) << what;
        expectUsable(c, what);
        EXPECT_EQ(readAll(file), bytes) << what << ": loading must not rewrite the file";
    }
    // The reference: the valid file loads without a warning.
    const QString file = dir.filePath(QStringLiteral("valid.txt"));
    writeAll(file, valid);
    Config c;
    const auto result = c.loadConfig(*settingsNode(file), ports);
    EXPECT_TRUE(result.valid) << result.warnings.join(u'\n').toStdString();
    EXPECT_EQ(c.getRemoveCharacters(), QStringLiteral("g\u00e4"));
}

TEST(CorruptPreferences, AnUnreadableFileGivesTheDefaults) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A folder where the file should be.
    const QString file = dir.filePath(QStringLiteral("prefs.txt"));
    ASSERT_TRUE(QDir().mkpath(file));
    Config c;
    ASSERT_NO_THROW(c.loadConfig(*settingsNode(file), {QStringLiteral("COM1")}));
    expectUsable(c, "folder");
    // The same as a first start without any file.
    Config fresh;
    fresh.loadConfig(*settingsNode(dir.filePath(QStringLiteral("absent.txt"))), {QStringLiteral("COM1")});
    EXPECT_FALSE(Config::hasChanged(c, fresh));
}

// A stored text holding the character code 0 ("\u0000" in the file) is kept by the load, but the store
// refuses to put it: every later save would stop at that entry and lose the user's changes, so the load
// replaces such texts by their defaults.
TEST(CorruptPreferences, ARecordLoadedFromAnyFileCanBeSavedAgain) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("prefs.txt"));
    writeAll(file, "halvorn.Vornal.port=COM\\u00001\nhalvorn.Vornal.removeCharacters=\\u0000\n");
    Config c;
    c.loadConfig(*settingsNode(file), {QStringLiteral("COM1")});
    c.setDelay(QStringLiteral("50"));
    EXPECT_EQ(c.saveConfig(*settingsNode(file)), QString());
    Config again;
    again.loadConfig(*settingsNode(file), {QStringLiteral("COM1")});
    EXPECT_EQ(again.getDelay(), QStringLiteral("50")) << "the change was lost";
}

// What the load accepts, the settings' key rules (import, vornal-cli set) accept too, so that an
// exported file always imports again (a text longer than the store takes is refused by both).
TEST(CorruptPreferences, WhatTheLoadAcceptsTheKeyRulesAccept) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("prefs.txt"));
    writeAll(file, "halvorn.Vornal.removeCharacters=" + QByteArray(10000, 'x') + "\n");
    Config c;
    c.loadConfig(*settingsNode(file), {QStringLiteral("COM1")});
    for (const auto& [key, value] : c.storedEntries()) {
        Config other;
        QString why;
        EXPECT_TRUE(other.setByKey(key, value, &why)) << why.toStdString();
    }
}

TEST(DamagedExport, TruncatedOrMangledFilesAreRefusedAndChangeNothing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Config exported = H::Instrument::SARTORIUS.getDefaultConfig();
    exported.setInstrument(H::Instrument::SARTORIUS);
    exported.setRemoveCharacters(QStringLiteral("g<&>\"'"));
    exported.setDecimalPlaces(QStringLiteral("3"));
    const QString exportFile = dir.filePath(QStringLiteral("settings.xml"));
    ASSERT_TRUE(config::SettingsXml::exportSettings(exported, exportFile).ok);
    const QByteArray whole = readAll(exportFile);
    ASSERT_GT(whole.size(), 200);

    const QString store = dir.filePath(QStringLiteral("prefs.txt"));
    writeAll(store, validPrefs());
    const QByteArray before = readAll(store);
    auto node = settingsNode(store);

    std::mt19937 random(3);
    int refused = 0;
    // Cut after every 7th byte, and flip one byte at random places.
    std::vector<QByteArray> damaged;
    for (qsizetype n = 0; n < whole.size() - 1; n += 7)
        damaged.push_back(whole.left(n));
    for (int i = 0; i < 200; ++i) {
        QByteArray b = whole;
        b[std::uniform_int_distribution<qsizetype>(0, whole.size() - 1)(random)] =
            char(std::uniform_int_distribution<int>(0, 255)(random));
        damaged.push_back(b);
    }
    const QString file = dir.filePath(QStringLiteral("damaged.xml"));
    for (const QByteArray& bytes : damaged) {
        writeAll(file, bytes);
        config::SettingsXml::Result r;
        ASSERT_NO_THROW(r = config::SettingsXml::importSettings(*node, file));
        if (r.ok) {
            // A flipped byte may land in a value and still give valid settings: then they are stored
            // completely. Put the reference back for the next round.
            writeAll(store, before);
            node = settingsNode(store);
            continue;
        }
        ++refused;
        EXPECT_FALSE(r.message.isEmpty());
        ASSERT_EQ(readAll(store), before)
            << "a refused import changed the store: " << r.message.toStdString();
    }
    EXPECT_GE(refused, int(damaged.size()) / 2);
    // The intact file still imports.
    const auto ok = config::SettingsXml::importSettings(*node, exportFile);
    EXPECT_TRUE(ok.ok) << ok.message.toStdString();
}

TEST(GarbageUpdateServer, VersionDocumentsOfNoiseNeverCountAsNewer) {
    std::mt19937 random(5);
    for (int i = 0; i < 300; ++i) {
        // Noise without digits: whatever element it seems to hold, it names no version.
        QByteArray bytes(std::uniform_int_distribution<int>(0, 600)(random), '\0');
        for (auto& b : bytes) {
            do
                b = char(std::uniform_int_distribution<int>(0, 255)(random));
            while (b >= '0' && b <= '9');
        }
        if (i % 3 == 1)
            bytes = "<version2>" + bytes + "</version2>";
        if (i % 3 == 2)
            bytes = "<version2_en>" + bytes + "</version2_en><version2>" + bytes;
        const auto r = util::ReadRemoteUpdate::fromContent(
            QString::fromUtf8(bytes), QStringLiteral("2024.1.0.0"), QStringLiteral("en"));
        EXPECT_FALSE(r.newerVersionAvailable()) << r.getRemoteVersion().toStdString();
    }
    for (const char* remote : {"9..x", "..", "1.2.3.4.5.6.7", "99999999999999999999999.1", "-5.0.0.0", "\t"})
        EXPECT_NO_THROW(util::ReadRemoteUpdate::compareVersions(QString::fromLatin1(remote),
                                                                QStringLiteral("2024.1.0.0")));
}

TEST(GarbageUpdateServer, AServerThatAnswersTheHandshakeWithNoiseFailsTheCheckQuickly) {
    // A plain TCP server on the loopback that answers anything with noise and closes.
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(server, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(server, 4), 0);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const int port = ntohs(addr.sin_port);
    std::thread serve([server] {
        std::mt19937 random(9);
        for (int n = 0; n < 2; ++n) {
            const int c = ::accept(server, nullptr, nullptr);
            if (c < 0)
                return;
            char buf[4096];
            for (auto& b : buf)
                b = char(std::uniform_int_distribution<int>(0, 255)(random));
            (void)::write(c, buf, sizeof buf);
            ::close(c);
        }
    });

    util::FetchOptions options;
    options.connectTimeoutMs = 2000;
    options.readTimeoutMs = 2000;
    options.totalTimeoutMs = 5000;
    QElapsedTimer t;
    t.start();
    try {
        util::ReadRemoteUpdate::readURLContent(QStringLiteral("https://127.0.0.1:%1/version.xml").arg(port),
                                               options);
        ADD_FAILURE() << "noise was taken for a version document";
    } catch (const util::UpdateCheckError& e) {
        EXPECT_FALSE(e.message().isEmpty());
    }
    EXPECT_LT(t.elapsed(), 8000);
    ::shutdown(server, SHUT_RDWR);
    ::close(server);
    // Wakes the server thread if the client never connected a second time.
    const int poke = ::socket(AF_INET, SOCK_STREAM, 0);
    (void)::connect(poke, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::close(poke);
    serve.join();
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
