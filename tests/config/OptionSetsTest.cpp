// The closed option sets: order, stored forms, defaults, readable texts and key codes.
#include "vornal/config/ConfigHelper.h"
#include "vornal/util/ResourceBundle.h"

#include <gtest/gtest.h>

namespace {

using vornal::config::ConfigHelper;
using vornal::decimal::RoundingMode;
using CH = ConfigHelper;

// The stored index of an index-style set is the serial library's setting code: it must never move.
TEST(IndexSets, IndicesDefaultsAndReadableTexts) {
    EXPECT_EQ(CH::BitRates::values().size(), 15u);
    EXPECT_EQ(CH::BitRates::BR_110.ordinal(), 0);
    EXPECT_EQ(CH::BitRates::BR_921600.ordinal(), 14);
    EXPECT_EQ(CH::BitRates::getDefault(), 7);
    EXPECT_EQ(CH::BitRates::getReadable(7), "9600");
    EXPECT_EQ(CH::BitRates::BR_115200.getRate(), 115200);
    EXPECT_EQ(CH::DataBits::getDefault(), CH::DataBits::LN_8BITS.ordinal());
    EXPECT_EQ(CH::DataBits::getReadable(2), "7");
    EXPECT_EQ(CH::StopBits::getDefault(), 0);
    EXPECT_EQ(CH::StopBits::getReadable(1), "2");
    EXPECT_EQ(CH::Parity::getDefault(), 0);
    EXPECT_EQ(CH::Parity::getReadable(2), "EVEN"); // shown by constant name
    EXPECT_EQ(CH::Parity::SPACE.ordinal(), 4);
    EXPECT_EQ(CH::Handshake::getReadable(1), "XON/XOFF (Software)");
    EXPECT_EQ(CH::Handshake::CTS_RTS.toString(), "RTS/CTS (Hardware)");

    // Outside the set: "" and never a failure.
    EXPECT_EQ(CH::BitRates::getReadable(15), "");
    for (const QString& text :
         {CH::BitRates::getReadable(-1), CH::DataBits::getReadable(-1), CH::StopBits::getReadable(-1),
          CH::Parity::getReadable(-1), CH::Handshake::getReadable(-1), CH::DataBits::getReadable(4)})
        EXPECT_EQ(text, "");
    EXPECT_TRUE(CH::BitRates::getReadable(15).isEmpty());

    EXPECT_TRUE(CH::BitRates::valid(0));
    EXPECT_TRUE(CH::BitRates::valid(14));
    EXPECT_FALSE(CH::BitRates::valid(15));
    EXPECT_FALSE(CH::Parity::valid(-1));
    EXPECT_FALSE(CH::StopBits::valid(2));
}

TEST(InputTerminator, AnyByteIsATerminator) {
    EXPECT_EQ(CH::InputTerminator::getDefault(), 13);
    EXPECT_TRUE(CH::InputTerminator::valid(0));
    EXPECT_TRUE(CH::InputTerminator::valid(255));
    EXPECT_FALSE(CH::InputTerminator::valid(256));
    EXPECT_FALSE(CH::InputTerminator::valid(-1));
    EXPECT_EQ(CH::InputTerminator::LF.getDecimal(), 10);
    EXPECT_EQ(CH::InputTerminator::EOT.toString(), "4 <EOT>");
    EXPECT_EQ(CH::InputTerminator::itemFromDecimal(13), CH::InputTerminator::CR);
    EXPECT_FALSE(CH::InputTerminator::itemFromDecimal(3).has_value());
}

// Stands in for an editable selection list of the window.
struct FakeList {
    int index = -1;
    QString text;
    void setCurrentIndex(int i) {
        index = i;
        text = CH::InputTerminator::values().at(std::size_t(i)).toString();
    }
    void setCurrentText(const QString& t) {
        index = -1;
        text = t;
    }
};

TEST(InputTerminator, SelectionShowsConstantOrBareNumber) {
    FakeList list;
    CH::InputTerminator::setSelectedItem(list, 10);
    EXPECT_EQ(list.index, CH::InputTerminator::LF.ordinal());
    EXPECT_EQ(list.text, "10 <LF>");
    CH::InputTerminator::setSelectedItem(list, 3); // the ETX of a preset
    EXPECT_EQ(list.index, -1);
    EXPECT_EQ(list.text, "3");
}

TEST(NameSets, StoredNamesAreExactConstantNames) {
    EXPECT_TRUE(CH::StartWith::valid("ENTER"));
    EXPECT_FALSE(CH::StartWith::valid("enter")); // the display key, not the stored name
    EXPECT_FALSE(CH::StartWith::valid("Enter"));
    EXPECT_FALSE(CH::StartWith::valid(""));
    EXPECT_FALSE(CH::KeyboardType::valid("QWERTY")); // stored in the historic spelling only
    EXPECT_TRUE(CH::KeyboardType::valid("QUERTY"));
    EXPECT_EQ(CH::KeyboardType::valueOf("GERMAN"), CH::KeyboardType::GERMAN);
    EXPECT_FALSE(CH::Sound::valueOf("BELL").has_value());
    EXPECT_EQ(CH::RoundingMethod::valueOf("HALF_EVEN")->name(), "HALF_EVEN");

    EXPECT_EQ(CH::Connect::getDefault(), CH::Connect::MANUAL);
    EXPECT_EQ(CH::DecimalSeparator::getDefault(), CH::DecimalSeparator::DOT);
    EXPECT_EQ(CH::StartWith::getDefault(), CH::StartWith::NONE);
    EXPECT_EQ(CH::OutputTerminator::getDefault(), CH::OutputTerminator::NONE);
    EXPECT_EQ(CH::Sound::getDefault(), CH::Sound::NONE);
    EXPECT_EQ(CH::KeyboardType::getDefault(), CH::KeyboardType::QUERTY);
    EXPECT_EQ(CH::MathOperation::getDefault(), CH::MathOperation::NONE);
    EXPECT_EQ(CH::RoundingMethod::getDefault(), CH::RoundingMethod::HALF_UP);
    EXPECT_EQ(CH::EditOperation::getDefault(), CH::EditOperation::REMOVE);
    EXPECT_EQ(CH::EditPosition::getDefault(), CH::EditPosition::FIRST);

    EXPECT_EQ(CH::DecimalSeparator::COMMA.getCharacter(), u',');
    EXPECT_EQ(CH::DecimalSeparator::DOT.getCharacter(), u'.');
}

TEST(NameSets, ValuesKeepTheListOrder) {
    const QStringList expected{"QUERTY", "US_INTERNATIONAL", "AZERTY", "GERMAN", "ALL"};
    QStringList names;
    for (const auto& k : CH::KeyboardType::values())
        names << k.name();
    EXPECT_EQ(names, expected);
    // Every constant round-trips through its stored name and ordinal.
    for (const auto& s : CH::OutputTerminator::values()) {
        EXPECT_EQ(CH::OutputTerminator::valueOf(s.name()), s);
        EXPECT_EQ(CH::OutputTerminator::fromOrdinal(s.ordinal()), s);
    }
    EXPECT_EQ(CH::StartWith::values().size(), 26u);
    EXPECT_EQ(CH::StartWith::SPACE.ordinal(), 25);
    EXPECT_EQ(CH::OutputTerminator::F1.ordinal(), 8);
}

TEST(KeySets, VirtualKeyCodes) {
    EXPECT_EQ(CH::StartWith::NONE.getKeyCode(), 0);
    EXPECT_EQ(CH::OutputTerminator::NONE.getKeyCode(), 0);
    EXPECT_EQ(CH::OutputTerminator::F12.getKeyCode(), 123);
    EXPECT_EQ(CH::StartWith::MULTIPLY.getKeyCode(), 106); // numeric pad, not '*' (42)
    EXPECT_EQ(CH::StartWith::ENTER.getKeyCode(), 10);
    EXPECT_EQ(CH::OutputTerminator::TAB.getKeyCode(), 9);
    EXPECT_EQ(CH::OutputTerminator::DELETE.getKeyCode(), 127);
    EXPECT_EQ(CH::StartWith::F1.getKeyCode(), 112);
    EXPECT_EQ(CH::OutputTerminator::BACKSLASH.getKeyCode(), 92);
    EXPECT_EQ(CH::getKeyEvent("NONE"), 0);
    EXPECT_EQ(CH::getKeyEvent("enter"), 0);
    EXPECT_EQ(CH::getKeyEvent("F13"), 0);
    EXPECT_EQ(CH::getKeyEvent("SEMICOLON"), 59);
    // Both terminator sets carry the same keys.
    for (std::size_t i = 0; i < CH::StartWith::values().size(); ++i)
        EXPECT_EQ(CH::StartWith::values()[i].getKeyCode(), CH::OutputTerminator::values()[i].getKeyCode());
}

TEST(Sounds, PercussionNumbers) {
    EXPECT_EQ(CH::Sound::NONE.getPercussionNumber(), 0);
    EXPECT_EQ(CH::Sound::RIDE_BELL.getPercussionNumber(), 53);
    EXPECT_EQ(CH::Sound::COWBELL.getPercussionNumber(), 56);
    EXPECT_EQ(CH::Sound::OPEN_TRIANGLE.getPercussionNumber(), 81);
    EXPECT_EQ(CH::Sound::OPEN_TRIANGLE.getPercussionName(), "Triangle");
}

TEST(Rounding, MethodsMapToModesOfTheSameName) {
    EXPECT_EQ(CH::RoundingMethod::CEILING.getRoundingMode(), RoundingMode::CEILING);
    EXPECT_EQ(CH::RoundingMethod::DOWN.getRoundingMode(), RoundingMode::DOWN);
    EXPECT_EQ(CH::RoundingMethod::FLOOR.getRoundingMode(), RoundingMode::FLOOR);
    EXPECT_EQ(CH::RoundingMethod::HALF_DOWN.getRoundingMode(), RoundingMode::HALF_DOWN);
    EXPECT_EQ(CH::RoundingMethod::HALF_EVEN.getRoundingMode(), RoundingMode::HALF_EVEN);
    EXPECT_EQ(CH::RoundingMethod::HALF_UP.getRoundingMode(), RoundingMode::HALF_UP);
    EXPECT_EQ(CH::RoundingMethod::UP.getRoundingMode(), RoundingMode::UP);
    EXPECT_EQ(CH::RoundingMethod::HALF_EVEN.toString(), "half even");
}

// Display texts come from the bundle in the chosen language, fixed texts stay as they are.
TEST(DisplayTexts, FollowTheLanguage) {
    vornal::util::ResourceBundle::setLocale("en");
    CH::reloadTexts();
    EXPECT_EQ(CH::KeyboardType::GERMAN.toString(), "German (QWERTZ)");
    EXPECT_EQ(CH::StartWith::ESCAPE.toString(), "Esc");
    EXPECT_EQ(CH::Instrument::GENERIC.toPlainString(), "Generic (any scale)");

    vornal::util::ResourceBundle::setLocale("de");
    CH::reloadTexts();
    EXPECT_EQ(CH::KeyboardType::GERMAN.toString(), "Deutsch (QWERTZ)");
    EXPECT_EQ(CH::KeyboardType::AZERTY.toString(), QString::fromUtf8("AZERTY (Französisch)"));
    EXPECT_EQ(CH::StartWith::ESCAPE.toString(), "Esc");
    EXPECT_EQ(CH::Instrument::AND.toPlainString(), "A&D");
    // Every rounding method is translated, none shows its English text.
    vornal::util::ResourceBundle::setLocale("en");
    CH::reloadTexts();
    QStringList english;
    for (const auto& m : CH::RoundingMethod::values())
        english << m.toString();
    vornal::util::ResourceBundle::setLocale("de");
    CH::reloadTexts();
    EXPECT_EQ(CH::RoundingMethod::HALF_UP.toString(),
              QString::fromUtf8("kaufmännisch (Halbe von der Null weg)"));
    for (const auto& m : CH::RoundingMethod::values())
        EXPECT_FALSE(english.contains(m.toString())) << m.toString().toStdString();

    vornal::util::ResourceBundle::setLocale(QString());
    CH::reloadTexts();
}

} // namespace
