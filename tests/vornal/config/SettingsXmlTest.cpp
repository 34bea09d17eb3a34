// The settings export document: what it looks like, what the reader refuses, and that a refused import
// stores nothing.
#include "vornal/config/SettingsXml.h"
#include "vornal/config/Config.h"
#include "vornal/prefs/FilePreferences.h"
#include "vornal/prefs/PreferencesStore.h"
#include "vornal/prefs/PreferencesXml.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vornal;
using config::SettingsXml;
using prefs::InvalidPreferencesFormatException;
using prefs::PreferencesXml;

namespace {

const char* const header = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
                           "<!DOCTYPE preferences SYSTEM \"http://java.sun.com/dtd/preferences.dtd\">\n";

// A document of the settings node with the given <entry> lines.
QByteArray settingsDoc(const QByteArray& entries, const QByteArray& head = header) {
    return head +
           "<preferences EXTERNAL_XML_VERSION=\"1.0\"><root type=\"user\"><map/>"
           "<node name=\"halvorn\"><map/><node name=\"Vornal\"><map>" +
           entries + "</map></node></node></root></preferences>\n";
}

QString refusal(const QByteArray& doc) {
    try {
        const auto d = PreferencesXml::parse(doc);
        SettingsXml::checkSettings(d);
    } catch (const InvalidPreferencesFormatException& e) {
        return e.message();
    }
    return {};
}

QByteArray checksum(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return "missing";
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex();
}

void writeFile(const QString& name, const QByteArray& data) {
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

class StoreFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        store_ = dir_.filePath(QStringLiteral("prefs.txt"));
        prefs::PreferencesStore::select(store_);
        node_ = prefs::PreferencesStore::userRoot()->node(QString::fromLatin1(config::Config::SETTINGS_NODE));
        node_->put(QStringLiteral("delay"), QStringLiteral("30"));
        node_->put(QStringLiteral("port"), QStringLiteral("COM1"));
        node_->flush();
    }
    QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

    QTemporaryDir dir_;
    QString store_;
    std::shared_ptr<prefs::AbstractPreferences> node_;
};

} // namespace

TEST(PreferencesXml, TheDocumentHasTheExportLayoutAndEscapesEveryAwkwardCharacter) {
    const QString awkward = QStringLiteral("a\"<&>\tb\r\n c\u00ff\U0001F600");
    const QByteArray doc = PreferencesXml::toDocument(QStringLiteral("/halvorn/Vornal"),
                                                      {{"removeCharacters", awkward}, {"x", ""}});
    EXPECT_TRUE(doc.startsWith(header)) << doc.toStdString();
    EXPECT_TRUE(
        doc.contains("<preferences EXTERNAL_XML_VERSION=\"1.0\">\n  <root type=\"user\">\n    <map/>\n"
                     "    <node name=\"halvorn\">\n      <map/>\n      <node name=\"Vornal\">\n"
                     "        <map>\n          <entry key=\"removeCharacters\" value=\"a&quot;&lt;&amp;&gt;"
                     "&#9;b&#13;&#10; c"))
        << doc.toStdString();

    const auto back = PreferencesXml::parse(doc);
    EXPECT_EQ(back.nodePath, "/halvorn/Vornal");
    ASSERT_EQ(back.entries.size(), 2u);
    EXPECT_EQ(back.entries[0].second, awkward) << "tab, CR and LF survive attribute normalisation";
    EXPECT_EQ(back.entries[1].second, "");
}

TEST(PreferencesXml, ValuesAFileCannotCarryAreRefusedAtExportNamingTheSetting) {
    for (const QString& bad :
         {QStringLiteral("a\u0002b"), QString(QChar(0xD800)), QStringLiteral("\uFFFF")}) {
        try {
            PreferencesXml::toDocument(QStringLiteral("/halvorn/Vornal"), {{"removeCharacters", bad}});
            ADD_FAILURE() << "accepted " << bad.toStdString();
        } catch (const InvalidPreferencesFormatException& e) {
            EXPECT_TRUE(e.message().contains("\"removeCharacters\"")) << e.message().toStdString();
            EXPECT_TRUE(e.message().contains("U+")) << e.message().toStdString();
        }
    }
}

TEST(PreferencesXml, NotAnExportIsRefusedWithTheReason) {
    struct Case {
        const char* what;
        QByteArray doc;
        const char* reason;
    };
    const QByteArray body = "<entry key=\"delay\" value=\"25\"/>";
    const QByteArray good = settingsDoc(body);
    const std::vector<Case> cases = {
        {"empty", "  \n", "empty"},
        {"plain text", "port=COM1\n", "well-formed"},
        {"no doctype", settingsDoc(body, "<?xml version=\"1.0\"?>\n"), "document type"},
        {"other doctype",
         settingsDoc(body, "<!DOCTYPE html SYSTEM \"http://java.sun.com/dtd/preferences.dtd\">"), "\"html\""},
        {"other system id", settingsDoc(body, "<!DOCTYPE preferences SYSTEM \"file:///etc/passwd\">"),
         "not a preferences export"},
        {"truncated", good.left(good.size() - 40), "truncated"},
        {"other document element",
         QByteArray(header) + "<properties><root type=\"user\"><map/></root></properties>", "<properties>"},
        {"newer format",
         settingsDoc(body).replace("EXTERNAL_XML_VERSION=\"1.0\"", "EXTERNAL_XML_VERSION=\"2.0\""), "2.0"},
        {"root type", settingsDoc(body).replace("type=\"user\"", "type=\"other\""), "type"},
        {"text in a map", settingsDoc(body + "hello"), "text"},
        {"entry with content", settingsDoc("<entry key=\"delay\" value=\"1\"><x/></entry>"), "empty"},
        {"entry without value", settingsDoc("<entry key=\"delay\"/>"), "key and value"},
        {"unknown element", settingsDoc("<item key=\"delay\" value=\"1\"/>"), "<item>"},
        {"node without map",
         QByteArray(header) +
             "<preferences><root type=\"user\"><map/><node name=\"halvorn\"/></root></preferences>",
         "<map>"},
        {"no node", QByteArray(header) + "<preferences><root type=\"user\"><map/></root></preferences>",
         "no"},
        {"another node",
         QByteArray(header) + "<preferences><root type=\"user\"><map/><node name=\"other\"><map>" + body +
             "</map></node></root></preferences>",
         "\"/other\""},
        {"a child below the settings",
         settingsDoc(body).replace("</map></node></node>",
                                   "</map><node name=\"x\"><map/></node></node></node>"),
         "\"/halvorn/Vornal/x\""},
        {"entries of an ancestor",
         settingsDoc(body).replace("<node name=\"halvorn\"><map/>",
                                   "<node name=\"halvorn\"><map>" + body + "</map>"),
         "\"/halvorn\""},
        {"two nodes",
         settingsDoc(body).replace("</node></root>", "</node><node name=\"b\"><map/></node></root>"),
         "more than one node"},
        {"no settings", settingsDoc(""), "no settings"},
        {"unknown key", settingsDoc("<entry key=\"colour\" value=\"red\"/>"),
         "unknown settings key \"colour\""},
        {"invalid value", settingsDoc("<entry key=\"delay\" value=\"5000\"/>"), "\"delay\""},
        {"invalid preset", settingsDoc("<entry key=\"instrument\" value=\"FOO\"/>"), "\"instrument\""},
        {"duplicate key", settingsDoc(body + body), "more than once"},
        // UTF-7 spells UTF-16 code units, so a file can decode to a lone surrogate ("+3q4-" is U+DEAE):
        // imported, it could never be exported or stored again.
        {"a value no settings file can carry",
         settingsDoc("<entry key=\"removeCharacters\" value=\"a+3q4-b\"/>",
                     QByteArray(header).replace("UTF-8", "UTF-7")),
         "the value of the setting \"removeCharacters\" holds the character U+DEAE"},
        {"a setting name no settings file can carry",
         settingsDoc("<entry key=\"x+3q4-\" value=\"1\"/>", QByteArray(header).replace("UTF-8", "UTF-7")),
         "the name of the setting \"x"},
    };
    for (const auto& c : cases) {
        const QString why = refusal(c.doc);
        EXPECT_TRUE(why.contains(QLatin1String(c.reason))) << c.what << ": " << why.toStdString();
    }
    EXPECT_EQ(refusal(good), "");
}

TEST(PreferencesXml, HostileXmlIsRefusedBeforeAnythingIsExpandedOrFetched) {
    const QByteArray laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE preferences SYSTEM "
                              "\"http://java.sun.com/dtd/preferences.dtd\" [\n"
                              "<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">\n"
                              "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">\n"
                              "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">\n"
                              "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">\n]>\n";
    EXPECT_TRUE(refusal(settingsDoc("<entry key=\"removeCharacters\" value=\"&d;\"/>", laughs))
                    .contains("internal subset"));
    const QByteArray external = "<!DOCTYPE preferences SYSTEM \"http://java.sun.com/dtd/preferences.dtd\" "
                                "[<!ENTITY x SYSTEM \"file:///etc/hostname\">]>\n";
    EXPECT_TRUE(refusal(settingsDoc("<entry key=\"removeCharacters\" value=\"&x;\"/>", external))
                    .contains("internal subset"));
    // An entity that nothing declares is no text at all.
    EXPECT_FALSE(refusal(settingsDoc("<entry key=\"removeCharacters\" value=\"&x;\"/>")).isEmpty());
    EXPECT_FALSE(refusal(settingsDoc("<entry key=\"delay\" value=\"1\"/>&x;")).isEmpty());

    QByteArray deep = QByteArray(header) + "<preferences><root type=\"user\"><map/>";
    for (int i = 0; i < 20000; ++i)
        deep += "<node name=\"n\"><map/>";
    EXPECT_TRUE(refusal(deep).contains("nested")) << "deep nesting is refused, not recursed into";

    QByteArray huge = settingsDoc("<!--" + QByteArray(PreferencesXml::MAX_FILE_SIZE, 'x') + "-->");
    EXPECT_TRUE(refusal(huge).contains("larger than 1024 KiB"));
}

TEST(PreferencesXml, AFileFromElsewhereWithCommentsAndSystemRootIsAccepted) {
    const QByteArray doc = settingsDoc("<!-- hand-edited -->\n<entry key=\"delay\" value=\"25\"/>"
                                       "<entry key=\"checkForUpdates\" value=\"TRUE\"/>"
                                       "<entry key=\"bitRate\" value=\"+5\"/>")
                               .replace("type=\"user\"", "type=\"system\"");
    const auto entries = SettingsXml::checkSettings(PreferencesXml::parse(doc));
    const PreferencesXml::Entries expected = {{"delay", "25"}, {"checkForUpdates", "true"}, {"bitRate", "5"}};
    EXPECT_EQ(entries, expected) << "values are stored in their stored form";
}

TEST_F(StoreFixture, ExportThenImportRestoresEveryKeyOfTheRecord) {
    config::Config c;
    c.setInstrument(config::ConfigHelper::Instrument::GENERIC);
    c.setPort(QStringLiteral("/dev/ttyUSB0"));
    c.setDelay(QStringLiteral("7"));
    c.setCustomRegEx(QStringLiteral("ST,GS,(\\d+)\\s\"kg\""));
    c.setRemoveCharacters(QStringLiteral("\t\u00e4"));
    c.ignoreDuplicates = true;
    const auto exported = SettingsXml::exportSettings(c, path("Vornal.xml"));
    ASSERT_TRUE(exported.ok) << exported.message.toStdString();
    EXPECT_EQ(exported.keys, config::Config::keys());

    const auto imported = SettingsXml::importSettings(*node_, path("Vornal.xml"));
    ASSERT_TRUE(imported.ok) << imported.message.toStdString();
    config::Config back;
    back.loadConfig(*node_, {QStringLiteral("/dev/ttyUSB0")});
    EXPECT_FALSE(config::Config::hasChanged(c, back));
    EXPECT_EQ(back.getRemoveCharacters(), "\t\u00e4");

    // The store on disk holds the values too (a new tree reads them).
    prefs::PreferencesStore::select(store_);
    auto fresh =
        prefs::PreferencesStore::userRoot()->node(QString::fromLatin1(config::Config::SETTINGS_NODE));
    EXPECT_EQ(fresh->get(QStringLiteral("delay"), QString()), "7");
    EXPECT_EQ(fresh->get(QStringLiteral("customRegEx"), QString()), c.getCustomRegEx());
}

TEST_F(StoreFixture, ARefusedImportLeavesTheStoreByteForByteUnchanged) {
    const QByteArray before = checksum(store_);
    // Valid entries first, a bad one last: nothing of it may be stored.
    writeFile(path("bad.xml"),
              settingsDoc("<entry key=\"delay\" value=\"99\"/><entry key=\"port\" value=\"COM9\"/>"
                          "<entry key=\"parity\" value=\"9\"/>"));
    const auto r = SettingsXml::importSettings(*node_, path("bad.xml"));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.message.contains("\"parity\"")) << r.message.toStdString();
    EXPECT_TRUE(r.message.contains("bad.xml")) << "the message names the file";
    EXPECT_EQ(checksum(store_), before);
    EXPECT_EQ(node_->get(QStringLiteral("delay"), QString()), "30");

    const auto missing = SettingsXml::importSettings(*node_, path("nothing-here.xml"));
    EXPECT_FALSE(missing.ok);
    EXPECT_TRUE(missing.message.contains("cannot read")) << missing.message.toStdString();
    EXPECT_EQ(checksum(store_), before);
}

TEST_F(StoreFixture, ImportReplacesOnlyTheKeysTheFileHolds) {
    writeFile(path("part.xml"), settingsDoc("<entry key=\"delay\" value=\"99\"/>"));
    const auto r = SettingsXml::importSettings(*node_, path("part.xml"));
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.keys, QStringList{"delay"});
    EXPECT_EQ(node_->get(QStringLiteral("delay"), QString()), "99");
    EXPECT_EQ(node_->get(QStringLiteral("port"), QString()), "COM1");
}

TEST_F(StoreFixture, ExportNodeWritesTheStoredEntriesAndAFailedWriteKeepsTheOldFile) {
    const QString target = path("node.xml");
    prefs::PreferencesXml::exportNode(*node_, target);
    const auto doc = PreferencesXml::readFile(target);
    EXPECT_EQ(doc.nodePath, "/halvorn/Vornal");
    const PreferencesXml::Entries expected = {{"delay", "30"}, {"port", "COM1"}};
    EXPECT_EQ(doc.entries, expected);

    // A folder where the file should go: the write fails with the name and a reason.
    config::Config c;
    const auto r = SettingsXml::exportSettings(c, dir_.path());
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.message.contains("cannot write")) << r.message.toStdString();
}
