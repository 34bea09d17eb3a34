// The instrument presets: every sample line of every preset must give its expected value, and the port
// defaults, types and list texts must be what the instruments need.
#include "vornal/config/ConfigHelper.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

using vornal::config::PortDefaults;
using CH = vornal::config::ConfigHelper;
using Instrument = CH::Instrument;

// What a reading worker extracts: group 1 of the first match anywhere in the line, "" for no match.
QString extract(const Instrument& preset, const QString& line) {
    const QRegularExpressionMatch m = preset.getRegularExpression().match(line);
    return m.hasMatch() ? m.captured(preset.getCaptureGroup()) : QString("");
}

QString printable(const QString& s) {
    QString out;
    for (const QChar c : s)
        out += c.unicode() < 32 ? QStringLiteral("<%1>").arg(c.unicode()) : QString(c);
    return out;
}

TEST(InstrumentPresets, EverySamplePairHolds) {
    // How many sample lines each preset carries; every other preset has the one pair of empty texts.
    const std::map<QString, std::size_t> sampleCounts{{"AND", 4},
                                                      {"AND_SIMPLE", 4},
                                                      {"AND_EM", 4},
                                                      {"BARCODE_ALPHA_COMPLETE", 4},
                                                      {"ADAM_AZEXTRA_WEIGHT", 3},
                                                      {"ADAM_CBK", 2},
                                                      {"ADAM_CPWPLUS", 4},
                                                      {"ADAM_GC_WEIGHT", 6},
                                                      {"DINI_ARGEO", 2},
                                                      {"DINI_ARGEO_DFW", 2},
                                                      {"KERN_MPS", 2},
                                                      {"KERN_RPB", 3},
                                                      {"KEYENCE_IL", 3},
                                                      {"METTLER_SICS", 2},
                                                      {"MITUTOYO", 3},
                                                      {"MITUTOYO_LSM_6200", 3},
                                                      {"MYWEIGH_ULTRA2", 1},
                                                      {"RICE_LAKE_1280", 2},
                                                      {"SMA_SCP", 2},
                                                      {"SCHLAGE_HANDPUNCH", 1},
                                                      {"TANITA_TL280", 2},
                                                      {"WEDDERBURN", 6}};
    for (const Instrument& preset : Instrument::values()) {
        const std::string name = preset.name().toStdString();
        ASSERT_TRUE(preset.getRegularExpression().isValid())
            << name << ": " << preset.getRegularExpression().errorString().toStdString();
        const auto samples = preset.getTestStrings();
        const auto listed = sampleCounts.find(preset.name());
        if (listed == sampleCounts.end()) {
            ASSERT_EQ(samples.size(), 1u) << name;
            EXPECT_TRUE(samples[0].line.isEmpty() && samples[0].expected.isEmpty()) << name;
        } else {
            EXPECT_EQ(samples.size(), listed->second) << name;
        }
        for (const auto& [line, expected] : samples)
            EXPECT_EQ(extract(preset, line), expected)
                << name << " on \"" << printable(line).toStdString() << "\"";
    }
}

// The presets' dots stop at line terminators other than \n too, as the instruments' lines expect.
TEST(InstrumentPresets, DotsStopAtEveryLineTerminator) {
    EXPECT_EQ(extract(Instrument::KERN_MPS, "NXzY 3.3kg"), " 3.3");
    EXPECT_EQ(extract(Instrument::KERN_MPS, "NX\rY 3.3kg"), "");
    EXPECT_EQ(extract(Instrument::KERN_MPS, QString("NX") + QChar(0x85) + "Y 3.3kg"), "");
    EXPECT_EQ(extract(Instrument::SMA_SCP, " 2AxB-7.650kg "), "-7.650");
    EXPECT_EQ(extract(Instrument::SMA_SCP, " 2A\rB-7.650kg "), "650"); // the dot cannot reach the sign
}

TEST(InstrumentPresets, ListOrderNamesAndLookup) {
    const auto& all = Instrument::values();
    ASSERT_EQ(all.size(), 53u); // the one place the number of presets is stated
    EXPECT_EQ(all.front(), Instrument::GENERIC);
    EXPECT_EQ(all.back(), Instrument::WEDDERBURN);
    EXPECT_EQ(Instrument::SARTORIUS.ordinal(), 44);
    EXPECT_EQ(Instrument::SMA_SCP.name(), "SMA_SCP");
    std::set<QString> names;
    for (const Instrument& p : all) {
        names.insert(p.name());
        EXPECT_TRUE(Instrument::valid(p.name()));
        EXPECT_EQ(Instrument::valueOf(p.name()), p);
        EXPECT_EQ(p.getCaptureGroup(), 1);
        EXPECT_FALSE(p.toPlainString().isEmpty());
        EXPECT_FALSE(p.toPlainString().startsWith(u'[')) << "missing text for " << p.name().toStdString();
    }
    EXPECT_EQ(names.size(), all.size());
    EXPECT_EQ(Instrument::getDefault(), Instrument::GENERIC);
    EXPECT_FALSE(Instrument::valid("generic"));
    EXPECT_FALSE(Instrument::valid("KERN"));
    EXPECT_FALSE(Instrument::valueOf("").has_value());
}

TEST(InstrumentPresets, TextPresetsAreItalicInTheList) {
    for (const Instrument& p : Instrument::values()) {
        const bool text = p.ordinal() >= 1 && p.ordinal() <= 3;
        EXPECT_EQ(p.getInstrumentType() == CH::InstrumentType::TEXT, text) << p.name().toStdString();
        if (text)
            EXPECT_EQ(p.toString(), "<html><body><i>" + p.toPlainString() + "</i></body></html>");
        else
            EXPECT_EQ(p.toString(), p.toPlainString());
    }
    EXPECT_EQ(Instrument::BARCODE.getKeyMapType(), CH::KeyMapType::NUMERIC);
    EXPECT_EQ(Instrument::BARCODE_ALPHA.getKeyMapType(), CH::KeyMapType::ALPHANUMERIC_BASIC);
    EXPECT_EQ(Instrument::BARCODE_ALPHA_COMPLETE.getKeyMapType(), CH::KeyMapType::ALPHANUMERIC_COMPLETE);
    EXPECT_EQ(Instrument::KERN_DS.getKeyMapType(), CH::KeyMapType::NUMERIC);
    EXPECT_EQ(Instrument::AND.toPlainString(), "A&D");
}

// bit rate, data bits, parity, stop bits by their readable texts, then terminator code and handshake.
std::string ports(const Instrument& p) {
    const PortDefaults d = p.getPortDefaults();
    return QStringLiteral("%1/%2/%3/%4/%5/%6")
        .arg(CH::BitRates::getReadable(d.bitRate), CH::DataBits::getReadable(d.dataBits),
             CH::Parity::getReadable(d.parity), CH::StopBits::getReadable(d.stopBits))
        .arg(d.inputTerminator)
        .arg(CH::Handshake::values().at(std::size_t(d.handshake)).name())
        .toStdString();
}

TEST(InstrumentPresets, PortDefaultsAndDelegations) {
    EXPECT_EQ(ports(Instrument::GENERIC), "9600/8/NONE/1/13/NONE");
    EXPECT_EQ(ports(Instrument::KERN_572), "9600/8/NONE/1/10/NONE");
    EXPECT_EQ(ports(Instrument::KERN_573), "9600/8/NONE/1/10/NONE");
    EXPECT_EQ(ports(Instrument::DENVER), "1200/7/ODD/1/10/CTS_RTS");
    EXPECT_EQ(ports(Instrument::AND), "2400/7/EVEN/1/10/NONE");
    EXPECT_EQ(ports(Instrument::AND_SIMPLE), "2400/7/EVEN/1/10/NONE");
    EXPECT_EQ(ports(Instrument::AND_EM), "9600/8/NONE/1/10/NONE");
    EXPECT_EQ(ports(Instrument::ACCULAB_AL), "9600/7/SPACE/1/10/NONE");
    EXPECT_EQ(ports(Instrument::METTLER_SICS), "9600/8/NONE/1/10/XON_XOFF");
    EXPECT_EQ(ports(Instrument::MYWEIGH_ULTRA2), "9600/8/NONE/1/3/NONE"); // ETX, no named terminator
    EXPECT_EQ(ports(Instrument::KERN_SHIMADZU), "1200/8/NONE/1/13/CTS_RTS");
    EXPECT_EQ(ports(Instrument::SARTORIUS_SBI), "9600/8/ODD/1/10/CTS_RTS");

    for (const Instrument& p : Instrument::values()) {
        const PortDefaults d = p.getPortDefaults();
        EXPECT_TRUE(CH::BitRates::valid(d.bitRate) && CH::DataBits::valid(d.dataBits) &&
                    CH::StopBits::valid(d.stopBits) && CH::Parity::valid(d.parity) &&
                    CH::Handshake::valid(d.handshake) && CH::InputTerminator::valid(d.inputTerminator))
            << p.name().toStdString();
    }
    for (const Instrument& p : {Instrument::KERND_440E, Instrument::KERND_DE, Instrument::KERN_DS,
                                Instrument::KERN_FKB, Instrument::KERN_KB_N})
        EXPECT_EQ(p.getPortDefaults(), Instrument::KERN_572.getPortDefaults());

    // Pattern and samples follow A&D for both variants.
    EXPECT_EQ(Instrument::AND_SIMPLE.getPattern(), Instrument::AND.getPattern());
    EXPECT_EQ(Instrument::AND_EM.getPattern(), "([-+]+[0-9]*[\\.,]?[0-9]+)");
    EXPECT_EQ(Instrument::AND_EM.getTestStrings().size(), 4u);
    EXPECT_EQ(Instrument::MARS.getPattern(), "([-+]?\\s*[0-9]*[\\.,]?[0-9]+)");
    EXPECT_EQ(Instrument::DENVER.getPattern(), Instrument::GENERIC.getPattern());
}

TEST(InstrumentPresets, HintTexts) {
    const std::set<QString> withHint{"GENERIC",       "BARCODE",
                                     "BARCODE_ALPHA", "BARCODE_ALPHA_COMPLETE",
                                     "AND_EM",        "ADAM_AZEXTRA_WEIGHT",
                                     "ADAM_CBK",      "ADAM_CPWPLUS",
                                     "ADAM_HCB",      "KERN_RPB",
                                     "MYWEIGH_HD"};
    for (const Instrument& p : Instrument::values()) {
        const auto message = p.getDefaultMessage();
        EXPECT_EQ(message.has_value(), withHint.count(p.name()) == 1) << p.name().toStdString();
        if (message) {
            EXPECT_FALSE(message->isEmpty());
            EXPECT_FALSE(message->startsWith(u'[')) << "missing hint for " << p.name().toStdString();
        }
    }
    EXPECT_EQ(Instrument::AND_EM.getDefaultMessageKey(), "aandd.em.defaultmessage");
    EXPECT_EQ(Instrument::AND.getDefaultMessageKey(), "");
}

} // namespace
