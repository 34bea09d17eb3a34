// Characters and keys as keysyms: the one table the X11, Wayland and portal backends type by. Desktops
// look keys up by the exact number their layout holds, so a character with a legacy keysym must get it.
#include "platform/keys/Keysyms.h"
#include "platform/keys/KeyCodes.h"

#include <gtest/gtest.h>

using namespace vornal::platform;

#if !defined(_WIN32)
TEST(Keysyms, CharactersGetTheLegacyKeysymWhereOneExistsElseTheUnicodeOne) {
    // ASCII and Latin-1 are their own keysyms.
    EXPECT_EQ(keysymOfChar(U'a'), 0x61u);
    EXPECT_EQ(keysymOfChar(U'~'), 0x7eu);
    EXPECT_EQ(keysymOfChar(U' '), 0x20u);
    EXPECT_EQ(keysymOfChar(U'\u00b0'), 0xb0u); // degree
    EXPECT_EQ(keysymOfChar(U'\u00b5'), 0xb5u); // mu
    EXPECT_EQ(keysymOfChar(U'\u00df'), 0xdfu); // ssharp
    // Legacy keysyms beyond Latin-1: what the layouts carry (a German layout has EuroSign on AltGr+E).
    EXPECT_EQ(keysymOfChar(U'\u20ac'), 0x20acu); // EuroSign, never 0x010020ac
    EXPECT_EQ(keysymOfChar(U'\u0153'), 0x13bdu); // oe
    EXPECT_EQ(keysymOfChar(U'\u2026'), 0xaaeu);  // ellipsis
    EXPECT_EQ(keysymOfChar(U'\u03a9'), 0x7d9u);  // Greek_OMEGA
    EXPECT_EQ(keysymOfChar(U'\u0142'), 0x1b3u);  // lstroke
    // No legacy keysym: the Unicode one.
    EXPECT_EQ(keysymOfChar(U'\u2300'), 0x1002300u);     // diameter sign
    EXPECT_EQ(keysymOfChar(U'\U0001F600'), 0x101f600u); // beyond the BMP
    // Nothing for what is no character.
    EXPECT_EQ(keysymOfChar(char32_t(0xD800)), 0u);
    EXPECT_EQ(keysymOfChar(char32_t(0x110000)), 0u);
}
#endif

TEST(Keysyms, KeysAndAccentsHaveTheirFixedKeysyms) {
    EXPECT_EQ(keysymOfKey(key::ENTER), 0xff0du);
    EXPECT_EQ(keysymOfKey(key::F1 + 11), 0xffc9u); // F12
    EXPECT_EQ(keysymOfKey(key::NUMPAD_0 + 7), 0xffb7u);
    EXPECT_EQ(keysymOfKey(key::LETTER_A + 25), static_cast<std::uint32_t>('z'));
    EXPECT_EQ(keysymOfKey(key::ALT), 0xffe9u);
    EXPECT_EQ(deadKeysymOf(U'^'), 0xfe52u);
    EXPECT_EQ(deadKeysymOf(U'"'), 0xfe57u);
    EXPECT_EQ(deadKeysymOf(U'x'), 0x78u);
}
