#include "vornal/config/Config.h"
#include "support/OtherSettings.h"
#include "vornal/decimal/Decimal.h"
#include "vornal/prefs/FilePreferences.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace vornal;
using config::Config;
using CH = config::ConfigHelper;

namespace {

class ConfigStoreTest : public ::testing::Test {
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
    std::shared_ptr<prefs::AbstractPreferences> node() {
        return prefs::FilePreferencesFactory::userRoot()->node(QString::fromLatin1(Config::SETTINGS_NODE));
    }
    // A node read afresh from the file, as the next run of the program sees it.
    std::shared_ptr<prefs::AbstractPreferences> reopened() {
        prefs::FilePreferencesFactory::reset();
        return node();
    }
    void writeFile(const QByteArray& text) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
    QByteArray readFile() {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir dir;
    QString file;
};

TEST_F(ConfigStoreTest, LoadFromEmptyStoreGivesTheLoadDefaults) {
    Config c;
    const auto r = c.loadConfig(*node(), {QStringLiteral("COM3"), QStringLiteral("COM4")});
    EXPECT_TRUE(r.valid);
    EXPECT_TRUE(r.warnings.isEmpty());
    EXPECT_EQ(c.getPort(), QStringLiteral("COM3"));
    EXPECT_EQ(c.getPrevPort(), QStringLiteral("COM3"));
    EXPECT_EQ(c.getInstrument(), CH::Instrument::GENERIC);
    EXPECT_EQ(c.getBitRate(), 7);
    EXPECT_EQ(c.getDataBits(), 3);
    EXPECT_EQ(c.getStopBits(), 0);
    EXPECT_EQ(c.getParity(), 0);
    EXPECT_EQ(c.getInputTerminator(), 13);
    EXPECT_EQ(c.getHandshake(), 0);
    EXPECT_EQ(c.getDelay(), QStringLiteral("20"));
    EXPECT_EQ(c.getKeyboardType(), CH::KeyboardType::QUERTY);
    EXPECT_EQ(c.getRoundingMethod(), CH::RoundingMethod::HALF_UP);
    EXPECT_FALSE(c.minimizeToTray || c.notifyWhenMinimizedToTray || c.checkForUpdates ||
                 c.abortAutoStartWhenPrevPortNotAvailable || c.ignoreDuplicates);
    EXPECT_FALSE(QFile::exists(file)); // a load writes nothing
}

TEST_F(ConfigStoreTest, PortIsReadOnlyWhenTheSystemHasPorts) {
    writeFile("halvorn.Vornal.port=COM9\n");
    Config c;
    c.setPort(QStringLiteral("kept"));
    c.loadConfig(*node(), {});
    EXPECT_EQ(c.getPort(), QStringLiteral("kept"));
    EXPECT_EQ(c.getPrevPort(), QStringLiteral("kept")); // absent: the port just loaded
    c.loadConfig(*node(), {QStringLiteral("COM1")});
    EXPECT_EQ(c.getPort(), QStringLiteral("COM9"));
}

TEST_F(ConfigStoreTest, AStoredNetworkPortIsReadAlsoWithoutSerialPorts) {
    // A network instrument needs no serial port on the system.
    writeFile("halvorn.Vornal.port=rfc2217\\://[fd00\\:\\:20]\\:4001\n");
    Config c;
    c.loadConfig(*node(), {});
    EXPECT_EQ(c.getPort(), QStringLiteral("rfc2217://[fd00::20]:4001"));
}

TEST(ConfigTest, NetworkPortNamesMustBeComplete) {
    Config c;
    QString why;
    EXPECT_TRUE(c.setByKey(QStringLiteral("port"), QStringLiteral("tcp://10.0.0.5:4001"), &why));
    EXPECT_EQ(c.getPort(), QStringLiteral("tcp://10.0.0.5:4001"));
    EXPECT_FALSE(c.setByKey(QStringLiteral("port"), QStringLiteral("tcp://10.0.0.5"), &why));
    EXPECT_TRUE(why.contains(QStringLiteral("tcp://HOST:PORT"))) << why.toStdString();
    EXPECT_FALSE(c.setByKey(QStringLiteral("port"), QStringLiteral("rfc2217://fd00::20:4001"), &why));
    EXPECT_TRUE(why.contains(QStringLiteral("[fd00::20]:4001"))) << why.toStdString();
    EXPECT_EQ(c.getPort(), QStringLiteral("tcp://10.0.0.5:4001"));
    // Device names stay the system's affair.
    EXPECT_TRUE(c.setByKey(QStringLiteral("port"), QStringLiteral("/dev/ttyUSB0"), &why));
}

struct InvalidCase {
    const char* line;
    const char* key;
    const char* expected;
    bool reported;
};

TEST_F(ConfigStoreTest, InvalidStoredValuesLoadAsDefaultsAndAreReported) {
    const InvalidCase cases[] = {
        {"instrument=FOO", "instrument", "GENERIC", true},
        {"instrument=generic", "instrument", "GENERIC", true},
        {"delay=5000", "delay", "20", true},
        {"inputTerminator=300", "inputTerminator", "13", true},
        {"bitRate=abc", "bitRate", "7", false}, // not an integer: the fallback, silently
        {"bitRate=15", "bitRate", "7", true},
        {"handshake=3", "handshake", "0", true},
        {"decimalSeparator=dot", "decimalSeparator", "DOT", true},
        {"keyboardType=QWERTY", "keyboardType", "QUERTY", true},
        {"decimalPlaces=8", "decimalPlaces", "", true},
        {"removeCharacters=\\u20AC", "removeCharacters", "", true},
        {"customRegEx=[0-9]+", "customRegEx", "", true},
        {"ignoreDifference=0,5", "ignoreDifference", "", true},
        {"minimizeToTray=yes", "minimizeToTray", "false", false},
        {"checkForUpdates=TRUE", "checkForUpdates", "true", false},
        {"delay=", "delay", "", false}, // empty is acceptable
    };
    for (const InvalidCase& tc : cases) {
        SCOPED_TRACE(tc.line);
        writeFile(QByteArray("halvorn.Vornal.") + tc.line + '\n');
        Config c;
        const auto r = c.loadConfig(*reopened(), {QStringLiteral("COM1")});
        EXPECT_EQ(c.getByKey(QString::fromLatin1(tc.key)), QString::fromLatin1(tc.expected));
        EXPECT_EQ(r.valid, !tc.reported);
        ASSERT_EQ(r.warnings.size(), tc.reported ? 1 : 0);
        if (tc.reported) {
            EXPECT_TRUE(r.warnings.first().contains(QString::fromLatin1(tc.key)))
                << r.warnings.first().toStdString();
        }
    }
}

TEST_F(ConfigStoreTest, CorruptOrTruncatedFileLoadsWithDefaultsAndNeverCrashes) {
    static const char binary[] = "\x00\xff\xfe garbage \x01\x02=\\\n\\";
    const QByteArray files[] = {
        QByteArray::fromRawData(binary, sizeof binary - 1),
        "halvorn.Vornal.instrument=KERN_5", // truncated in the middle of a name
        "halvorn.Vornal.delay=\\u00",       // truncated inside an escape
        "halvorn.Vornal.customRegEx=(\\\n", // truncated continuation line
        "=\n:\n\\\n#only comments\n!\n",
    };
    for (const QByteArray& text : files) {
        writeFile(text);
        Config c;
        Config::LoadResult r;
        ASSERT_NO_THROW(r = c.loadConfig(*reopened(), {QStringLiteral("COM1")}));
        EXPECT_TRUE(c.getInstrument().has_value());
        EXPECT_TRUE(CH::Delay::valid(c.getDelay()));
        EXPECT_TRUE(CH::CustomRegEx::valid(c.getCustomRegEx()));
        EXPECT_EQ(r.valid, r.warnings.isEmpty());
    }
    writeFile("halvorn.Vornal.instrument=KERN_5");
    Config c;
    EXPECT_FALSE(c.loadConfig(*reopened(), {}).valid);
    EXPECT_EQ(c.getInstrument(), CH::Instrument::GENERIC);
}

TEST_F(ConfigStoreTest, UnreadableStoreLoadsDefaultsWithAWarning) {
    ASSERT_TRUE(QDir().mkpath(file)); // a folder where the file should be
    Config c;
    const auto r = c.loadConfig(*node(), {QStringLiteral("COM1")});
    EXPECT_FALSE(r.valid);
    ASSERT_EQ(r.warnings.size(), 1);
    EXPECT_TRUE(r.warnings.first().contains(file)) << r.warnings.first().toStdString();
    EXPECT_EQ(c.getInstrument(), CH::Instrument::GENERIC);
    EXPECT_EQ(c.getBitRate(), 7);
    // Saving there cannot work: the caller hears about it.
    EXPECT_THROW(c.saveConfig(*node()), prefs::BackingStoreException);
}

TEST_F(ConfigStoreTest, SaveWritesEveryKeyInStoredFormsAndLoadsBackUnchanged) {
    Config c = CH::Instrument::KERN_SHIMADZU.getDefaultConfig();
    c.setPort(QStringLiteral("COM5"));
    c.setPrevPort(QStringLiteral("COM1"));
    c.setInstrument(CH::Instrument::KERN_SHIMADZU);
    c.setDecimalSeparator(CH::DecimalSeparator::COMMA);
    c.setOutputTerminator2(CH::OutputTerminator::F12);
    c.setCustomRegEx(QStringLiteral("Wg,([-+]?\\s*[0-9]*[\\.,]?[0-9]+)"));
    c.setRemoveCharacters(QStringLiteral("=:# \u00ff"));
    c.setMathOperation(CH::MathOperation::DIVIDE);
    c.setMathOperand(QStringLiteral("2.5E1"));
    c.setDecimalPlaces(QStringLiteral("3"));
    c.setDelay(QString());
    c.ignoreDuplicates = true;
    EXPECT_TRUE(c.saveConfig(*node()).isEmpty());

    const QByteArray text = readFile();
    EXPECT_TRUE(text.contains("\nhalvorn.Vornal.prevPort=COM5\n"));
    EXPECT_TRUE(text.contains("\nhalvorn.Vornal.bitRate=4\n")); // the index, never "BR_1200"
    EXPECT_TRUE(text.contains("\nhalvorn.Vornal.handshake=2\n"));
    EXPECT_TRUE(text.contains("\nhalvorn.Vornal.outputTerminator2=F12\n"));
    EXPECT_TRUE(text.contains("\nhalvorn.Vornal.minimizeToTray=true\n"));
    EXPECT_TRUE(text.contains("\nhalvorn.Vornal.delay=\n"));
    EXPECT_EQ(text.count("halvorn.Vornal."), Config::keys().size());

    Config back;
    EXPECT_TRUE(back.loadConfig(*reopened(), {QStringLiteral("COM1"), QStringLiteral("COM5")}).valid);
    EXPECT_FALSE(Config::hasChanged(c, back));
    EXPECT_EQ(back.getPrevPort(), QStringLiteral("COM5"));
    for (const QString& key : Config::keys()) {
        if (key != u"prevPort") {
            EXPECT_EQ(back.getByKey(key), c.getByKey(key)) << key.toStdString();
        }
    }
}

TEST_F(ConfigStoreTest, SaveWithoutPortLeavesTheStoredPortAlone) {
    writeFile("halvorn.Vornal.port=COM2\nhalvorn.Vornal.prevPort=COM2\n");
    Config c;
    c.setInstrument(CH::Instrument::GENERIC);
    c.saveConfig(*node());
    EXPECT_TRUE(readFile().contains("\nhalvorn.Vornal.port=COM2\n"));
}

TEST_F(ConfigStoreTest, RefusedEntryIsSkippedAndEveryOtherEntryIsWritten) {
    Config c;
    c.setInstrument(CH::Instrument::AND);
    c.setPort(QStringLiteral("COM4"));
    c.setEditNumCharacters(QStringLiteral("5"));
    c.setRemoveCharacters(QString(9000, u'x')); // longer than the store takes
    c.setIgnoreDifference(QStringLiteral("0.5"));
    const QString refused = c.saveConfig(*node());
    EXPECT_FALSE(refused.isEmpty());
    EXPECT_TRUE(refused.contains(QStringLiteral("removeCharacters"))) << refused.toStdString();
    const QByteArray text = readFile();
    EXPECT_TRUE(text.contains("halvorn.Vornal.editNumCharacters=5"));
    EXPECT_FALSE(text.contains("removeCharacters"));
    // One refused entry must not stop the rest of the save (every later change would be lost).
    EXPECT_TRUE(text.contains("halvorn.Vornal.ignoreDifference=0.5"));
    EXPECT_EQ(c.getRemoveCharacters().size(), 9000); // the record is unchanged
}

TEST(ConfigTest, RecordDefaultsAndPresetDefaults) {
    Config c;
    EXPECT_FALSE(c.getInstrument().has_value());
    EXPECT_TRUE(c.getPrevPort().isNull());
    EXPECT_EQ(c.getPort(), QStringLiteral(""));
    EXPECT_TRUE(c.minimizeToTray && c.notifyWhenMinimizedToTray && c.checkForUpdates &&
                c.abortAutoStartWhenPrevPortNotAvailable);
    EXPECT_FALSE(c.ignoreDuplicates);
    EXPECT_EQ(c.getDelay(), QStringLiteral("20"));
    EXPECT_EQ(c.getEditOperation(), CH::EditOperation::REMOVE);

    const Config denver = CH::Instrument::DENVER.getDefaultConfig();
    EXPECT_EQ(denver.getBitRate(), CH::BitRates::BR_1200.ordinal());
    EXPECT_EQ(denver.getDataBits(), CH::DataBits::LN_7BITS.ordinal());
    EXPECT_EQ(denver.getParity(), CH::Parity::ODD.ordinal());
    EXPECT_EQ(denver.getStopBits(), CH::StopBits::ST_1BITS.ordinal());
    EXPECT_EQ(denver.getInputTerminator(), 10);
    EXPECT_EQ(denver.getHandshake(), CH::Handshake::CTS_RTS.ordinal());
    EXPECT_FALSE(denver.getInstrument().has_value());
    EXPECT_EQ(CH::Instrument::MYWEIGH_ULTRA2.getDefaultConfig().getInputTerminator(), 3);
}

// A preset's port settings over a record already in use (the default-settings button, --preset):
// the port fields, terminator and request command change, nothing else, and the same for every preset.
TEST(ConfigTest, ApplyingAPresetReplacesOnlyItsPortSettings) {
    Config c;
    c.setInstrument(CH::Instrument::GENERIC);
    c.setPort(QStringLiteral("COM7"));
    c.setBitRate(CH::BitRates::BR_115200.ordinal());
    c.setHandshake(CH::Handshake::XON_XOFF.ordinal());
    c.setRequestCommand(QStringLiteral("P"));
    c.setDelay(QStringLiteral("55"));
    ASSERT_TRUE(c.applyPreset(CH::Instrument::DENVER));
    EXPECT_EQ(c.getBitRate(), CH::BitRates::BR_1200.ordinal());
    EXPECT_EQ(c.getDataBits(), CH::DataBits::LN_7BITS.ordinal());
    EXPECT_EQ(c.getParity(), CH::Parity::ODD.ordinal());
    EXPECT_EQ(c.getHandshake(), CH::Handshake::CTS_RTS.ordinal());
    EXPECT_EQ(c.getInputTerminator(), 10);
    EXPECT_EQ(c.getRequestCommand(), CH::Instrument::DENVER.getRequestCommand());
    // The choice of instrument and the other settings are the caller's.
    EXPECT_EQ(c.getInstrument(), CH::Instrument::GENERIC);
    EXPECT_EQ(c.getPort(), QStringLiteral("COM7"));
    EXPECT_EQ(c.getDelay(), QStringLiteral("55"));

    for (const auto& preset : CH::Instrument::values()) {
        Config r;
        r.setRequestCommand(QStringLiteral("stale"));
        ASSERT_TRUE(r.applyPreset(preset)) << preset.name().toStdString();
        const config::PortDefaults d = preset.getPortDefaults();
        EXPECT_EQ((config::PortDefaults{r.getBitRate(), r.getDataBits(), r.getStopBits(), r.getParity(),
                                        r.getInputTerminator(), r.getHandshake()}),
                  d)
            << preset.name().toStdString();
        EXPECT_EQ(r.getRequestCommand(), preset.getRequestCommand()) << preset.name().toStdString();
        EXPECT_EQ(r.getBitRate(), preset.getDefaultConfig().getBitRate());
    }
}

TEST(ConfigTest, ConversionsAndEnabledRules) {
    Config c;
    EXPECT_EQ(c.getDelayAsInt(), 20);
    c.setDelay(QString());
    EXPECT_EQ(c.getDelayAsInt(), 20);
    c.setDelay(QStringLiteral("abc"));
    EXPECT_EQ(c.getDelayAsInt(), 20);
    c.setDelay(QStringLiteral("0"));
    EXPECT_EQ(c.getDelayAsInt(), 0);

    EXPECT_FALSE(c.getDecimalPlacesAsInt().has_value());
    EXPECT_FALSE(c.roundingEnabled());
    for (const char* t : {"8", "-1", "2.5", " 2"}) {
        c.setDecimalPlaces(QString::fromLatin1(t));
        EXPECT_FALSE(c.roundingEnabled()) << t;
    }
    c.setDecimalPlaces(QStringLiteral("0"));
    EXPECT_TRUE(c.roundingEnabled());
    c.setDecimalPlaces(QStringLiteral("7"));
    EXPECT_TRUE(c.roundingEnabled());
    EXPECT_EQ(c.getDecimalPlacesAsInt(), 7);

    EXPECT_EQ(c.getEditNumCharactersAsInt(), 0);
    c.setEditNumCharacters(QStringLiteral("x"));
    EXPECT_EQ(c.getEditNumCharactersAsInt(), 0);
    c.setEditNumCharacters(QStringLiteral("12"));
    EXPECT_EQ(c.getEditNumCharactersAsInt(), 12);
    EXPECT_EQ(c.getEveryXValuesAsInt(), 0);
    c.setEveryXValues(QStringLiteral("3"));
    EXPECT_EQ(c.getEveryXValuesAsInt(), 3);

    Config m;
    m.setMathOperation(CH::MathOperation::DIVIDE);
    m.setMathOperand(QStringLiteral("2"));
    EXPECT_FALSE(m.mathOperationEnabled()); // a division needs fixed decimal places
    m.setDecimalPlaces(QStringLiteral("2"));
    EXPECT_TRUE(m.mathOperationEnabled());
    m.setMathOperation(CH::MathOperation::MULTIPLY);
    m.setDecimalPlaces(QString());
    EXPECT_TRUE(m.mathOperationEnabled());
    EXPECT_EQ(m.getMathOperandAsBigDecimal().toPlainString(), QStringLiteral("2"));
    m.setMathOperand(QString());
    EXPECT_FALSE(m.mathOperationEnabled());
    m.setMathOperand(QStringLiteral("2"));
    m.setMathOperation(CH::MathOperation::NONE);
    EXPECT_FALSE(m.mathOperationEnabled());
}

TEST(ConfigTest, CopyAndHasChangedCompareEveryFieldButPrevPort) {
    Config c;
    c.setInstrument(CH::Instrument::GENERIC);
    c.setPrevPort(QStringLiteral("COM1"));
    const Config copy = Config::copyConfig(c);
    EXPECT_TRUE(copy.getPrevPort().isEmpty());
    EXPECT_FALSE(Config::hasChanged(c, copy));

    // A different valid value for every key, one at a time.
    const std::map<QString, QString> other =
        test::otherSettings(QStringLiteral("COM7"), QStringLiteral("COM8"));
    ASSERT_EQ(other.size(), std::size_t(Config::keys().size()));
    {
        // The keyboard output is one of the backends' names.
        Config k;
        QString why;
        EXPECT_FALSE(k.setByKey(QStringLiteral("keyBackend"), QStringLiteral("carrier-pigeon"), &why));
        EXPECT_TRUE(why.contains(QStringLiteral("auto wayland portal x11"))) << why.toStdString();
        EXPECT_EQ(k.getKeyBackend(), QStringLiteral("auto"));
    }
    for (const QString& key : Config::keys()) {
        Config changed = c;
        QString why;
        ASSERT_TRUE(changed.setByKey(key, other.at(key), &why)) << why.toStdString();
        EXPECT_EQ(Config::hasChanged(c, changed), key != u"prevPort") << key.toStdString();
        EXPECT_EQ(Config::hasChanged(c, Config::copyConfig(changed)), key != u"prevPort")
            << key.toStdString();
    }
}

TEST(ConfigTest, SetInstrumentNotifiesTheListenersOfItsType) {
    Config c;
    QStringList heard;
    const auto numberId = c.addPropertyChangeListener(
        QStringLiteral("NUMBER"), [&](const QString& name, const auto& oldValue, const auto& newValue) {
            EXPECT_FALSE(oldValue.has_value());
            heard += name + u':' + newValue->name();
        });
    c.addPropertyChangeListener(QStringLiteral("TEXT"),
                                [&](const QString& name, const auto&, const auto& newValue) {
                                    heard += name + u':' + newValue->name();
                                });
    c.setInstrument(CH::Instrument::GENERIC);
    c.setInstrument(CH::Instrument::GENERIC); // the same preset again is announced again
    c.setInstrument(CH::Instrument::BARCODE_ALPHA);
    EXPECT_EQ(heard, (QStringList{"NUMBER:GENERIC", "NUMBER:GENERIC", "TEXT:BARCODE_ALPHA"}));

    Config copy = c; // listeners stay with their record
    heard.clear();
    copy.setInstrument(CH::Instrument::AND);
    EXPECT_TRUE(heard.isEmpty());

    c.removePropertyChangeListener(QStringLiteral("NUMBER"), numberId);
    c.setInstrument(CH::Instrument::AND);
    EXPECT_TRUE(heard.isEmpty());
    EXPECT_EQ(c.getInstrument(), CH::Instrument::AND);
}

TEST(ConfigTest, SetByKeyChecksLikeTheLoadAndRefusesWithoutChange) {
    Config c;
    QString why;
    EXPECT_FALSE(c.setByKey(QStringLiteral("nosuch"), QStringLiteral("1"), &why));
    EXPECT_TRUE(why.contains(QStringLiteral("customRegEx"))) << why.toStdString(); // lists the keys

    const std::pair<const char*, const char*> refused[] = {
        {"bitRate", "abc"},        {"bitRate", "15"},           {"inputTerminator", "256"},
        {"delay", "1001"},         {"instrument", "FOO"},       {"decimalSeparator", "dot"},
        {"minimizeToTray", "yes"}, {"mathOperand", "0"},        {"customRegEx", "\\d+"},
        {"everyXValues", "1"},     {"ignoreDifference", "0.0"}, {"handshake", "3"}};
    for (const auto& [key, value] : refused) {
        const QString before = c.getByKey(QString::fromLatin1(key));
        why.clear();
        EXPECT_FALSE(c.setByKey(QString::fromLatin1(key), QString::fromLatin1(value), &why)) << key;
        EXPECT_TRUE(why.contains(QString::fromLatin1(key))) << why.toStdString();
        EXPECT_EQ(c.getByKey(QString::fromLatin1(key)), before) << key;
    }
    EXPECT_TRUE(c.setByKey(QStringLiteral("inputTerminator"), QStringLiteral("3")));
    EXPECT_EQ(c.getInputTerminator(), 3);
    EXPECT_TRUE(c.setByKey(QStringLiteral("checkForUpdates"), QStringLiteral("FALSE")));
    EXPECT_EQ(c.getByKey(QStringLiteral("checkForUpdates")), QStringLiteral("false"));
    EXPECT_TRUE(c.setByKey(QStringLiteral("delay"), QString()));
    EXPECT_EQ(c.getDelayAsInt(), 20);
}

} // namespace
