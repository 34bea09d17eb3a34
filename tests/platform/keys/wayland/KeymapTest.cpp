// The Wayland backend's own keymap, compiled with libxkbcommon as a receiver compiles it: every place
// it gives types its keysym, characters sit only on the writing block (receivers such as Chromium act
// on the physical key), ASCII where a US keyboard has it, and characters added later never move the
// ones already there.
#include "platform/keys/wayland/TypingKeymap.h"

#include <xkbcommon/xkbcommon.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

using vornal::platform::TypingKeymap;

namespace {

struct Compiled {
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context{xkb_context_new(XKB_CONTEXT_NO_FLAGS),
                                                                       &xkb_context_unref};
    std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap{nullptr, &xkb_keymap_unref};

    explicit Compiled(const std::string& text) {
        keymap.reset(xkb_keymap_new_from_string(context.get(), text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                XKB_KEYMAP_COMPILE_NO_FLAGS));
    }
    // The keysym a receiver reads for evdev `key` with the depressed modifiers `mods`.
    xkb_keysym_t read(std::uint32_t key, std::uint32_t mods) const {
        xkb_state* state = xkb_state_new(keymap.get());
        xkb_state_update_mask(state, mods, 0, 0, 0, 0, 0);
        const xkb_keysym_t ks = xkb_state_key_get_one_sym(state, key + 8);
        xkb_state_unref(state);
        return ks;
    }
};

std::vector<char32_t> preloaded() {
    std::vector<char32_t> chars;
    for (char32_t c = 0x21; c <= 0x7E; ++c)
        chars.push_back(c);
    for (char32_t c = 0xA0; c <= 0x17F; ++c)
        chars.push_back(c);
    chars.push_back(U'\u20AC');
    return chars;
}

bool isWritingKey(std::uint32_t key) {
    const auto& keys = TypingKeymap::writingKeys();
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

} // namespace

TEST(WaylandKeymap, EveryCharacterTypesItselfOnTheWritingBlock) {
    TypingKeymap map;
    Compiled compiled(map.text());
    ASSERT_TRUE(compiled.keymap) << map.text();
    EXPECT_EQ(TypingKeymap::writingKeys().size(), 48u);
    for (char32_t c : preloaded()) {
        const xkb_keysym_t ks = xkb_utf32_to_keysym(c);
        const auto place = map.find(ks);
        ASSERT_TRUE(place) << "U+" << std::hex << static_cast<unsigned>(c);
        EXPECT_TRUE(isWritingKey(place->key))
            << "U+" << std::hex << static_cast<unsigned>(c) << " on " << std::dec << place->key;
        EXPECT_EQ(compiled.read(place->key, place->mods), ks) << "U+" << std::hex << static_cast<unsigned>(c);
    }
    // The euro sign is the legacy keysym receivers know.
    EXPECT_TRUE(map.find(0x20AC));
}

TEST(WaylandKeymap, KeysThatMeanThemselvesSitOnTheirOwnCodes) {
    TypingKeymap map;
    Compiled compiled(map.text());
    ASSERT_TRUE(compiled.keymap);
    const std::map<xkb_keysym_t, std::uint32_t> own{
        {XKB_KEY_Escape, 1},     {XKB_KEY_Tab, 15},         {XKB_KEY_Return, 28},  {XKB_KEY_space, 57},
        {XKB_KEY_Control_L, 29}, {XKB_KEY_Shift_L, 42},     {XKB_KEY_Alt_L, 56},   {XKB_KEY_F1, 59},
        {XKB_KEY_F10, 68},       {XKB_KEY_F11, 87},         {XKB_KEY_F12, 88},     {XKB_KEY_KP_0, 82},
        {XKB_KEY_KP_7, 71},      {XKB_KEY_KP_Multiply, 55}, {XKB_KEY_KP_Add, 78},  {XKB_KEY_KP_Divide, 98},
        {XKB_KEY_Right, 106},    {XKB_KEY_Down, 108},       {XKB_KEY_Delete, 111},
    };
    for (const auto& [ks, key] : own) {
        const auto place = map.find(ks);
        ASSERT_TRUE(place) << ks;
        EXPECT_EQ(place->key, key) << ks;
        EXPECT_EQ(place->mods, 0u) << ks;
        EXPECT_EQ(compiled.read(key, 0), ks);
    }
    // The modifier keys are real modifiers of the keymap: what their masks say.
    for (const char* name : {XKB_MOD_NAME_SHIFT, XKB_MOD_NAME_CTRL, XKB_MOD_NAME_ALT})
        EXPECT_NE(xkb_keymap_mod_get_index(compiled.keymap.get(), name), XKB_MOD_INVALID);
    EXPECT_EQ(TypingKeymap::modifierMask(XKB_KEY_Shift_L),
              1u << xkb_keymap_mod_get_index(compiled.keymap.get(), XKB_MOD_NAME_SHIFT));
    EXPECT_EQ(TypingKeymap::modifierMask(XKB_KEY_Control_L),
              1u << xkb_keymap_mod_get_index(compiled.keymap.get(), XKB_MOD_NAME_CTRL));
    EXPECT_EQ(TypingKeymap::modifierMask(XKB_KEY_Alt_L),
              1u << xkb_keymap_mod_get_index(compiled.keymap.get(), XKB_MOD_NAME_ALT));
}

TEST(WaylandKeymap, AsciiWhereAUsKeyboardHasIt) {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const xkb_rule_names us{"evdev", "pc105", "us", "", ""};
    xkb_keymap* reference = xkb_keymap_new_from_names(context, &us, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!reference) {
        xkb_context_unref(context);
        GTEST_SKIP() << "the XKB data (xkb-data) is not installed: no US keymap to compare with";
    }
    TypingKeymap map;
    xkb_state* state = xkb_state_new(reference);
    const xkb_mod_index_t shift = xkb_keymap_mod_get_index(reference, XKB_MOD_NAME_SHIFT);
    for (char32_t c = 0x21; c <= 0x7E; ++c) {
        const auto place = map.find(c);
        ASSERT_TRUE(place);
        EXPECT_TRUE(place->mods == 0 || place->mods == TypingKeymap::SHIFT);
        xkb_state_update_mask(state, place->mods ? 1u << shift : 0u, 0, 0, 0, 0, 0);
        EXPECT_EQ(xkb_state_key_get_one_sym(state, place->key + 8), c) << static_cast<char>(c);
    }
    xkb_state_unref(state);
    xkb_keymap_unref(reference);
    xkb_context_unref(context);
}

TEST(WaylandKeymap, AddedCharactersNeverMoveTheOthers) {
    TypingKeymap map;
    std::map<xkb_keysym_t, TypingKeymap::Place> before;
    for (char32_t c : preloaded())
        before[xkb_utf32_to_keysym(c)] = *map.find(xkb_utf32_to_keysym(c));
    // Greek and Cyrillic: more than the free room, so the first ones added give way to the last.
    std::vector<xkb_keysym_t> added;
    for (char32_t c = 0x391; c <= 0x3A9; ++c)
        added.push_back(xkb_utf32_to_keysym(c));
    for (char32_t c = 0x410; c <= 0x44F; ++c)
        added.push_back(xkb_utf32_to_keysym(c));
    ASSERT_GT(added.size(), 48u * TypingKeymap::LEVELS - before.size());
    for (xkb_keysym_t ks : added) {
        ASSERT_FALSE(map.find(ks));
        const auto place = map.add(ks);
        EXPECT_TRUE(isWritingKey(place.key));
        EXPECT_EQ(map.find(ks), place);
    }
    Compiled compiled(map.text());
    ASSERT_TRUE(compiled.keymap);
    for (const auto& [ks, place] : before) {
        EXPECT_EQ(map.find(ks), place) << ks;
        EXPECT_EQ(compiled.read(place.key, place.mods), ks) << ks;
    }
    EXPECT_FALSE(map.find(added.front())); // gave way
    for (xkb_keysym_t ks : {added.back(), added[added.size() - 2]}) {
        const auto place = map.find(ks);
        ASSERT_TRUE(place);
        EXPECT_EQ(compiled.read(place->key, place->mods), ks);
    }
}
