#include "TypingKeymap.h"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdio>

namespace vornal::platform {

namespace {

// The main writing block of a US keyboard (evdev codes) with the two characters of each key.
struct UsKey {
    std::uint32_t key;
    char plain, shifted;
};
constexpr UsKey kUsKeys[] = {
    {2, '1', '!'},   {3, '2', '@'},  {4, '3', '#'},  {5, '4', '$'},  {6, '5', '%'},   {7, '6', '^'},
    {8, '7', '&'},   {9, '8', '*'},  {10, '9', '('}, {11, '0', ')'}, {12, '-', '_'},  {13, '=', '+'},
    {16, 'q', 'Q'},  {17, 'w', 'W'}, {18, 'e', 'E'}, {19, 'r', 'R'}, {20, 't', 'T'},  {21, 'y', 'Y'},
    {22, 'u', 'U'},  {23, 'i', 'I'}, {24, 'o', 'O'}, {25, 'p', 'P'}, {26, '[', '{'},  {27, ']', '}'},
    {30, 'a', 'A'},  {31, 's', 'S'}, {32, 'd', 'D'}, {33, 'f', 'F'}, {34, 'g', 'G'},  {35, 'h', 'H'},
    {36, 'j', 'J'},  {37, 'k', 'K'}, {38, 'l', 'L'}, {39, ';', ':'}, {40, '\'', '"'}, {41, '`', '~'},
    {43, '\\', '|'}, {44, 'z', 'Z'}, {45, 'x', 'X'}, {46, 'c', 'C'}, {47, 'v', 'V'},  {48, 'b', 'B'},
    {49, 'n', 'N'},  {50, 'm', 'M'}, {51, ',', '<'}, {52, '.', '>'}, {53, '/', '?'},
};
constexpr std::uint32_t kKey102nd = 86; // the key left of Z on ISO keyboards: no ASCII on it

constexpr std::uint32_t kRightAlt = 100;
constexpr std::uint32_t kLevel5Key = 195; // <LVL5> of the usual keycodes

std::string keysymName(std::uint32_t ks) {
    char name[64];
    if (xkb_keysym_get_name(ks, name, sizeof name) < 0)
        std::snprintf(name, sizeof name, "0x%08x", ks);
    return name;
}

} // namespace

const std::vector<std::uint32_t>& TypingKeymap::writingKeys() {
    static const std::vector<std::uint32_t> keys = [] {
        std::vector<std::uint32_t> k;
        for (const UsKey& u : kUsKeys)
            k.push_back(u.key);
        k.push_back(kKey102nd);
        return k;
    }();
    return keys;
}

std::uint32_t TypingKeymap::levelMods(int level) {
    return ((level & 1) ? SHIFT : 0u) | ((level & 2) ? LEVEL3 : 0u) | ((level & 4) ? LEVEL5 : 0u);
}

std::uint32_t TypingKeymap::modifierMask(Keysym ks) {
    switch (ks) {
    case XKB_KEY_Shift_L:
        return SHIFT;
    case XKB_KEY_Control_L:
        return CONTROL;
    case XKB_KEY_Alt_L:
        return ALT;
    default:
        return 0;
    }
}

TypingKeymap::TypingKeymap() {
    // Keys that mean themselves, on their own codes.
    fixed_ = {
        {1, XKB_KEY_Escape},
        {15, XKB_KEY_Tab},
        {28, XKB_KEY_Return},
        {29, XKB_KEY_Control_L},
        {42, XKB_KEY_Shift_L},
        {55, XKB_KEY_KP_Multiply},
        {56, XKB_KEY_Alt_L},
        {57, XKB_KEY_space},
        {71, XKB_KEY_KP_7},
        {72, XKB_KEY_KP_8},
        {73, XKB_KEY_KP_9},
        {75, XKB_KEY_KP_4},
        {76, XKB_KEY_KP_5},
        {77, XKB_KEY_KP_6},
        {78, XKB_KEY_KP_Add},
        {79, XKB_KEY_KP_1},
        {80, XKB_KEY_KP_2},
        {81, XKB_KEY_KP_3},
        {82, XKB_KEY_KP_0},
        {87, XKB_KEY_F11},
        {88, XKB_KEY_F12},
        {98, XKB_KEY_KP_Divide},
        {kRightAlt, XKB_KEY_ISO_Level3_Shift},
        {106, XKB_KEY_Right},
        {108, XKB_KEY_Down},
        {111, XKB_KEY_Delete},
        {kLevel5Key, XKB_KEY_ISO_Level5_Shift},
    };
    for (std::uint32_t i = 0; i < 10; ++i)
        fixed_.push_back({59 + i, XKB_KEY_F1 + i});

    slots_.assign(writingKeys().size() * LEVELS, 0);
    for (std::size_t k = 0; k < std::size(kUsKeys); ++k) {
        slots_[k * LEVELS] = static_cast<unsigned char>(kUsKeys[k].plain);
        slots_[k * LEVELS + 1] = static_cast<unsigned char>(kUsKeys[k].shifted);
    }
    auto preload = [&](char32_t ch) {
        const Keysym ks = xkb_utf32_to_keysym(ch);
        if (ks != XKB_KEY_NoSymbol && !find(ks))
            add(ks);
    };
    for (char32_t c = 0xA0; c <= 0xFF; ++c)
        preload(c);
    preload(U'\u20AC');
    for (char32_t c = 0x100; c <= 0x17F; ++c)
        preload(c);
    firstAdded_ = addedOrder_.size();
}

std::optional<TypingKeymap::Place> TypingKeymap::find(Keysym ks) const {
    if (ks == XKB_KEY_NoSymbol)
        return std::nullopt;
    for (const Fixed& f : fixed_)
        if (f.ks == ks)
            return Place{f.key, 0};
    const auto it = std::find(slots_.begin(), slots_.end(), ks);
    if (it == slots_.end())
        return std::nullopt;
    const auto i = static_cast<std::size_t>(it - slots_.begin());
    return Place{writingKeys()[i / LEVELS], levelMods(static_cast<int>(i % LEVELS))};
}

TypingKeymap::Place TypingKeymap::add(Keysym ks) {
    // Free slots are taken level by level across the keys, so the lower levels fill first.
    std::optional<std::size_t> slot;
    for (int level = 0; level < LEVELS && !slot; ++level)
        for (std::size_t k = 0; k < writingKeys().size() && !slot; ++k)
            if (slots_[k * LEVELS + static_cast<std::size_t>(level)] == 0)
                slot = k * LEVELS + static_cast<std::size_t>(level);
    if (!slot) {
        // Full: the character added longest ago (never a preloaded one) gives way.
        const auto oldest = addedOrder_.begin() + static_cast<std::ptrdiff_t>(firstAdded_);
        slot = *oldest;
        addedOrder_.erase(oldest);
    }
    slots_[*slot] = ks;
    addedOrder_.push_back(*slot);
    return Place{writingKeys()[*slot / LEVELS], levelMods(static_cast<int>(*slot % LEVELS))};
}

std::string TypingKeymap::text() const {
    std::vector<std::pair<std::uint32_t, std::string>> keys; // evdev code, symbols statement
    for (const Fixed& f : fixed_)
        keys.emplace_back(f.key, "[ " + keysymName(f.ks) + " ]");
    for (std::size_t k = 0; k < writingKeys().size(); ++k) {
        std::string syms = "type = \"VORNAL_EIGHT_LEVEL\", symbols[Group1] = [ ";
        for (int level = 0; level < LEVELS; ++level) {
            const Keysym ks = slots_[k * LEVELS + static_cast<std::size_t>(level)];
            syms += (level ? ", " : "") + (ks ? keysymName(ks) : std::string("NoSymbol"));
        }
        keys.emplace_back(writingKeys()[k], syms + " ]");
    }
    std::sort(keys.begin(), keys.end());

    std::string s = "xkb_keymap {\nxkb_keycodes \"vornal\" {\n minimum = 8;\n maximum = 255;\n";
    for (const auto& [key, syms] : keys)
        s += " <K" + std::to_string(key) + "> = " + std::to_string(key + 8) + ";\n";
    // Levels by real modifiers: Shift, Mod5 (level 3, as AltGr), Mod3 (level 5).
    s += "};\nxkb_types \"vornal\" {\n include \"complete\"\n"
         " type \"VORNAL_EIGHT_LEVEL\" {\n  modifiers = Shift + Mod5 + Mod3;\n"
         "  map[None] = Level1; map[Shift] = Level2; map[Mod5] = Level3; map[Shift+Mod5] = Level4;\n"
         "  map[Mod3] = Level5; map[Shift+Mod3] = Level6; map[Mod5+Mod3] = Level7;\n"
         "  map[Shift+Mod5+Mod3] = Level8;\n"
         "  level_name[Level1] = \"1\"; level_name[Level2] = \"2\"; level_name[Level3] = \"3\";\n"
         "  level_name[Level4] = \"4\"; level_name[Level5] = \"5\"; level_name[Level6] = \"6\";\n"
         "  level_name[Level7] = \"7\"; level_name[Level8] = \"8\";\n };\n};\n"
         "xkb_compatibility \"vornal\" { include \"complete\" };\n"
         "xkb_symbols \"vornal\" {\n";
    for (const auto& [key, syms] : keys)
        s += " key <K" + std::to_string(key) + "> { " + syms + " };\n";
    s += " modifier_map Shift { <K42> };\n modifier_map Control { <K29> };\n modifier_map Mod1 { <K56> };\n"
         " modifier_map Mod3 { <K" +
         std::to_string(kLevel5Key) + "> };\n modifier_map Mod5 { <K" + std::to_string(kRightAlt) +
         "> };\n};\n};\n";
    return s;
}

} // namespace vornal::platform
