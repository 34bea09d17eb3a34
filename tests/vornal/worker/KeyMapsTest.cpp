#include "vornal/worker/KeyMaps.h"

#include "platform/keys/ChordDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>

using vornal::config::ConfigHelper;
using vornal::worker::getDirectKeys;
using vornal::worker::getKeymap;
using KT = ConfigHelper::KeyboardType;
using MT = ConfigHelper::KeyMapType;
using Seq = std::vector<int>;

namespace {
constexpr int S = 16, C = 17, A = 18, SP = 32;
}

TEST(KeyMaps, CharacterSetsDependOnlyOnTheMapType) {
    for (const KT& layout : KT::values()) {
        const auto numeric = getKeymap(layout, MT::NUMERIC);
        const auto basic = getKeymap(layout, MT::ALPHANUMERIC_BASIC);
        const auto complete = getKeymap(layout, MT::ALPHANUMERIC_COMPLETE);
        EXPECT_EQ(numeric.size(), 14u) << layout.name().toStdString();
        EXPECT_EQ(basic.size(), 40u);
        EXPECT_EQ(complete.size(), 95u);
        for (char c : std::string("0123456789-+,."))
            EXPECT_TRUE(numeric.count(static_cast<char32_t>(c))) << c;
        EXPECT_TRUE(basic.count(U'Q'));
        EXPECT_FALSE(basic.count(U'q')) << "lower case is not part of the basic set";
        for (char32_t c = 0x20; c <= 0x7E; ++c)
            ASSERT_TRUE(complete.count(c)) << static_cast<char>(c);
        for (char32_t c : {U'\t', U'\n', U'\x7F', U'é', U'°', U'µ', U'€', U'\U0001F600'}) {
            EXPECT_FALSE(complete.count(c));
            EXPECT_FALSE(basic.count(c));
        }
        // The same sequence in every map type.
        for (const auto& [c, seq] : numeric)
            EXPECT_EQ(complete.at(c), seq);
        for (const auto& [c, seq] : basic)
            EXPECT_EQ(complete.at(c), seq);
    }
}

TEST(KeyMaps, EdgeCases) {
    const auto germanNumeric = getKeymap(KT::GERMAN, MT::NUMERIC);
    EXPECT_EQ(germanNumeric.size(), 14u);
    EXPECT_EQ(germanNumeric.at(U','), Seq{44});

    const auto azertyBasic = getKeymap(KT::AZERTY, MT::ALPHANUMERIC_BASIC);
    EXPECT_EQ(azertyBasic.at(U'5'), (Seq{S, 53}));
    EXPECT_FALSE(azertyBasic.count(U'a'));

    const auto all = getKeymap(KT::ALL, MT::ALPHANUMERIC_COMPLETE);
    EXPECT_EQ(all.at(U'~'), (Seq{A, 97, 98, 102}));
    EXPECT_EQ(all.at(U'0'), (Seq{A, 100, 104}));
    EXPECT_EQ(all.at(U'd'), (Seq{A, 97, 96, 96}));
    EXPECT_EQ(all.at(U' '), (Seq{A, 99, 98}));
}

TEST(KeyMaps, LettersDigitsAndPunctuationPerLayout) {
    struct Case {
        KT layout;
        char32_t ch;
        Seq seq;
    };
    const Case cases[] = {
        {KT::QUERTY, U'a', {65}},
        {KT::QUERTY, U'Z', {S, 90}},
        {KT::QUERTY, U'7', {55}},
        {KT::QUERTY, U'"', {S, 222}},
        {KT::QUERTY, U'^', {S, 54}},
        {KT::QUERTY, U'`', {192}},
        {KT::QUERTY, U'~', {S, 192}},
        {KT::QUERTY, U'*', {106}},
        {KT::QUERTY, U'/', {111}},
        {KT::QUERTY, U'+', {107}},
        {KT::US_INTERNATIONAL, U'"', {S, 129, SP}},
        {KT::US_INTERNATIONAL, U'\'', {129, SP}},
        {KT::US_INTERNATIONAL, U'^', {S, 54, SP}},
        {KT::US_INTERNATIONAL, U'`', {128, SP}},
        {KT::US_INTERNATIONAL, U'~', {S, 128, SP}},
        {KT::US_INTERNATIONAL, U'?', {S, 47}},
        {KT::AZERTY, U'0', {S, 48}},
        {KT::AZERTY, U'"', {51}},
        {KT::AZERTY, U'#', {C, A, 51}},
        {KT::AZERTY, U'%', {A, 99, 103}},
        {KT::AZERTY, U'.', {S, 59}},
        {KT::AZERTY, U'-', {54}},
        {KT::AZERTY, U')', {522}},
        {KT::AZERTY, U']', {C, A, 522}},
        {KT::AZERTY, U'!', {517}},
        {KT::AZERTY, U'$', {515}},
        {KT::AZERTY, U':', {513}},
        {KT::AZERTY, U'>', {S, 153}},
        {KT::AZERTY, U'`', {C, A, 55, SP}},
        {KT::AZERTY, U'~', {C, A, 50, SP}},
        {KT::AZERTY, U'^', {130, SP}},
        {KT::AZERTY, U'm', {77}},
        {KT::GERMAN, U'#', {520}},
        {KT::GERMAN, U'\'', {S, 520}},
        {KT::GERMAN, U'?', {A, 102, 99}},
        {KT::GERMAN, U'\\', {A, 105, 98}},
        {KT::GERMAN, U'@', {C, A, 81}},
        {KT::GERMAN, U'|', {C, A, 153}},
        {KT::GERMAN, U'~', {C, A, 521}},
        {KT::GERMAN, U'`', {S, 129, SP}},
        {KT::GERMAN, U'=', {S, 48}},
        {KT::GERMAN, U'y', {89}},
        {KT::GERMAN, U'z', {90}},
    };
    for (const Case& c : cases) {
        const auto map = getKeymap(c.layout, MT::ALPHANUMERIC_COMPLETE);
        EXPECT_EQ(map.at(c.ch), c.seq) << c.layout.name().toStdString() << " " << static_cast<char>(c.ch);
    }
}

// Every sequence is a valid key sequence, and the backends can read every chord back as the character
// it stands for: no two characters of a layout share a chord.
TEST(KeyMaps, EverySequenceIsWellFormedAndUnambiguous) {
    for (const KT& layout : KT::values()) {
        const auto map = getKeymap(layout, MT::ALPHANUMERIC_COMPLETE);
        vornal::platform::ChordDecoder decoder(map);
        for (const auto& [ch, seq] : map) {
            ASSERT_FALSE(seq.empty());
            for (int code : seq)
                EXPECT_TRUE(vornal::platform::isKnownKeyCode(code)) << code;
            if (seq.front() == A && vornal::platform::numpadDigit(seq.back())) {
                std::string digits;
                for (std::size_t i = 1; i < seq.size(); ++i)
                    digits += static_cast<char>('0' + *vornal::platform::numpadDigit(seq[i]));
                EXPECT_EQ(std::stoul(digits), ch);
                EXPECT_NE(digits.front(), '0');
                continue;
            }
            Seq keys = seq;
            const bool dead = keys.size() > 1 && keys.back() == SP;
            if (dead)
                keys.pop_back();
            for (std::size_t i = 0; i + 1 < keys.size(); ++i) {
                ASSERT_TRUE(vornal::platform::isModifierCode(keys[i])) << static_cast<char>(ch);
                decoder.modifierDown(keys[i]);
            }
            const auto m = decoder.decode(keys.back());
            decoder.reset();
            if (vornal::platform::ChordDecoder::isFixedKey(keys.back()) && keys.size() == 1)
                continue; // space, pad operators: the key itself
            EXPECT_EQ(m.ch, ch) << layout.name().toStdString() << " " << static_cast<char>(ch);
            EXPECT_EQ(m.kind == vornal::platform::ChordDecoder::Meaning::Kind::DeadCharacter, dead);
        }
    }
}

TEST(KeyMaps, DirectKeysAndFreshMaps) {
    const Seq expected{10,  9,   39,  40,  32,  127, 27,  106, 112, 113,
                       114, 115, 116, 117, 118, 119, 120, 121, 122, 123};
    for (const KT& layout : KT::values())
        EXPECT_EQ(getDirectKeys(layout), expected);
    auto first = getKeymap(KT::QUERTY, MT::NUMERIC);
    first[U'1'] = {99};
    first.erase(U'2');
    const auto second = getKeymap(KT::QUERTY, MT::NUMERIC);
    EXPECT_EQ(second.at(U'1'), Seq{49});
    EXPECT_TRUE(second.count(U'2'));
}
