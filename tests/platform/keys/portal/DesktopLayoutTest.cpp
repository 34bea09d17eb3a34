// The desktop's layout as its settings name it, and how each character is typed on it: no desktop needed.
#include "platform/keys/portal/DesktopLayout.h"

#include <gtest/gtest.h>

using namespace vornal::platform;

namespace {
std::vector<std::vector<std::uint32_t>> strokes(const LayoutKeys& keys, char32_t ch) {
    return keys.wayOf(ch).strokes;
}
} // namespace

TEST(DesktopLayout, GnomesCurrentInputSourceIsTheMostRecentlyUsedOneStillConfigured) {
    auto l = gnomeLayout(QStringLiteral("[('xkb', 'de+nodeadkeys'), ('xkb', 'us')]"),
                         QStringLiteral("[('xkb', 'fr'), ('xkb', 'us'), ('xkb', 'de+nodeadkeys')]"),
                         QStringLiteral("['lv3:ralt_switch', 'compose:menu']"));
    EXPECT_EQ(l.name(), "us"); // fr was used, but is no longer configured
    EXPECT_EQ(l.options, "lv3:ralt_switch,compose:menu");
    l = gnomeLayout(QStringLiteral("[('xkb', 'de+nodeadkeys'), ('xkb', 'us')]"), QStringLiteral("@a(ss) []"),
                    QStringLiteral("@as []"));
    EXPECT_EQ(l.layout, "de");
    EXPECT_EQ(l.variant, "nodeadkeys");
    EXPECT_EQ(l.name(), "de(nodeadkeys)");
    EXPECT_TRUE(l.unreadable.empty());
    // Nothing configured: GNOME types on us.
    EXPECT_EQ(gnomeLayout(QStringLiteral("@a(ss) []"), QStringLiteral("@a(ss) []"), QStringLiteral("@as []"))
                  .name(),
              "us");
    // An input method is no layout: said, not guessed.
    l = gnomeLayout(QStringLiteral("[('ibus', 'anthy'), ('xkb', 'jp')]"), QStringLiteral("@a(ss) []"),
                    QStringLiteral("@as []"));
    EXPECT_NE(l.unreadable.find("input method ibus:anthy"), std::string::npos) << l.unreadable;
}

TEST(DesktopLayout, KdesLayoutListVariantsAndTheCurrentOne) {
    const QString rc =
        QStringLiteral("[General]\nLayoutList=xx\n\n[Layout]\nDisplayNames=,\nLayoutList=de,us\n"
                       "Options=grp:alt_shift_toggle\nUse=true\nVariantList=nodeadkeys,intl\n");
    auto l = kdeLayout(rc, 0);
    EXPECT_EQ(l.name(), "de(nodeadkeys)");
    EXPECT_EQ(l.options, "grp:alt_shift_toggle");
    EXPECT_EQ(kdeLayout(rc, 1).name(), "us(intl)");
    EXPECT_EQ(kdeLayout(rc, 7).name(), "de(nodeadkeys)"); // out of range: the first
    EXPECT_EQ(kdeLayout(QStringLiteral("[Layout]\nLayoutList=fr\n"), 0).name(), "fr");
    qunsetenv("XKB_DEFAULT_LAYOUT");
    EXPECT_EQ(kdeLayout(QString(), 0).name(), "us"); // no settings: KWin's default
}

TEST(LayoutKeys, FirstTwoLevelsByKeysymAltGrLevelsByKeyCodesTheRestRefused) {
    LayoutKeys de(gnomeLayout(QStringLiteral("[('xkb', 'de')]"), {}, {}));
    ASSERT_TRUE(de.layout().unreadable.empty()) << de.layout().unreadable;
    EXPECT_EQ(de.wayOf(U'a').kind, KeyWay::Kind::Keysym);
    EXPECT_EQ(de.wayOf(U'Z').kind, KeyWay::Kind::Keysym);
    EXPECT_EQ(de.wayOf(U'\u00df').kind, KeyWay::Kind::Keysym); // ß
    // Evdev codes: LEFTSHIFT 42, RIGHTALT 100, Q 16, E 18, 9 10, M 50, GRAVE 41, SPACE 57.
    using S = std::vector<std::vector<std::uint32_t>>;
    EXPECT_EQ(strokes(de, U'@'), (S{{100, 16}}));
    EXPECT_EQ(strokes(de, U'\u20ac'), (S{{100, 18}}));     // €
    EXPECT_EQ(strokes(de, U'\u00b5'), (S{{100, 50}}));     // µ
    EXPECT_EQ(strokes(de, U'\u00b1'), (S{{42, 100, 10}})); // ± on Shift+AltGr+9
    // ° is Shift+^, but also on a fourth level (of 0): by key code, so the desktop cannot pick that one.
    EXPECT_EQ(strokes(de, U'\u00b0'), (S{{42, 41}}));
    EXPECT_EQ(strokes(de, U'^'), (S{{41}, {57}}));           // only a dead key: then SPACE
    EXPECT_EQ(de.wayOf(U'\u0153').kind, KeyWay::Kind::None); // œ
    EXPECT_EQ(de.refusal(U"ab\u0153c\u2300\u0153"),
              "Cannot type '\u0153', '\u2300' on the desktop's layout de: no key of it gives these "
              "characters; add a "
              "layout that has them in the desktop's keyboard settings, or leave them out of the value");
    EXPECT_EQ(de.refusal(U"12,50 \u20ac"), "");

    // us has no third level: € is refused (its media key with EuroSign is no key of a keyboard).
    LayoutKeys us(kdeLayout(QStringLiteral("[Layout]\nLayoutList=us\n"), 0));
    EXPECT_EQ(us.wayOf(U'~').kind, KeyWay::Kind::Keysym);
    EXPECT_EQ(us.wayOf(U'\u20ac').kind, KeyWay::Kind::None);
    EXPECT_EQ(us.wayOf(U'\u00b1').kind, KeyWay::Kind::None);
    LayoutKeys intl(kdeLayout(QStringLiteral("[Layout]\nLayoutList=us\nVariantList=altgr-intl\n"), 0));
    EXPECT_EQ(strokes(intl, U'\u20ac'), (S{{100, 6}})); // AltGr+5

    // A layout libxkbcommon does not know, or none read: only what every layout has, said once.
    LayoutKeys unknown(kdeLayout(QStringLiteral("[Layout]\nLayoutList=no-such-layout\n"), 0));
    EXPECT_NE(unknown.layout().unreadable.find("no-such-layout"), std::string::npos);
    EXPECT_EQ(unknown.wayOf(U'7').kind, KeyWay::Kind::Keysym);
    EXPECT_EQ(unknown.wayOf(U'@').kind, KeyWay::Kind::None);
    EXPECT_NE(unknown.refusal(U"a@").find("Cannot type '@': the desktop's keyboard layout could not be read"),
              std::string::npos);
}
