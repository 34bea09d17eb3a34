#include "platform/keys/ChordDecoder.h"
#include "platform/keys/KeyInjector.h"
#include "platform/keys/fake/RecordingInjector.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

using namespace vornal::platform;
using Kind = ChordDecoder::Meaning::Kind;

TEST(KeyCodes, OnlyTheKeysOfTheMapsAreAccepted) {
    RecordingInjector fake;
    for (int code : {9,   10,  16,  17,  18,  27,  32,  39,  40,  44,  45,  46,  47,  48,
                     57,  59,  61,  65,  90,  91,  92,  93,  96,  105, 106, 107, 111, 112,
                     123, 127, 128, 129, 130, 153, 192, 222, 513, 515, 517, 520, 521, 522}) {
        EXPECT_NO_THROW(fake.keyPress(code)) << code;
        EXPECT_NO_THROW(fake.keyRelease(code)) << code;
    }
    for (int code : {-1,  0,   8,   11,  19,  33,  58,  60,  94,  95,  108,
                     110, 124, 131, 152, 154, 193, 223, 512, 514, 523, 0x10000}) {
        EXPECT_THROW(fake.keyPress(code), std::invalid_argument) << code;
        EXPECT_THROW(fake.keyRelease(code), std::invalid_argument) << code;
    }
    EXPECT_EQ(fake.events().size(), 2u * 42u) << "refused codes must not be recorded";
    EXPECT_EQ(keyCodeName(99), "NUMPAD3");
    EXPECT_EQ(keyCodeName(123), "F12");
    EXPECT_EQ(keyCodeName(522), "RIGHT_PARENTHESIS");
    EXPECT_EQ(keyCodeName(81), "Q");
}

TEST(RecordingInjector, RecordsInOrderAndFailsOnRequest) {
    RecordingInjector fake;
    fake.keyPress(16);
    fake.keyPress(65);
    EXPECT_TRUE(fake.pause(20, {}));
    fake.keyRelease(65);
    fake.keyRelease(16);
    EXPECT_EQ(fake.trace(), "P16 P65 ~20 R65 R16");
    fake.failOnPress(65);
    EXPECT_THROW(fake.keyPress(65), std::runtime_error);
    fake.setCapsLock(std::nullopt);
    EXPECT_EQ(fake.capsLockOn(), std::nullopt);
}

TEST(KeyInjector, PauseEndsPromptlyWhenStopped) {
    RecordingInjector fake(true);
    std::stop_source stop;
    const auto t0 = std::chrono::steady_clock::now();
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stop.request_stop();
    });
    EXPECT_FALSE(fake.pause(10000, stop.get_token()));
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_FALSE(fake.pause(0, stop.get_token()));
    const auto t1 = std::chrono::steady_clock::now();
    EXPECT_TRUE(fake.pause(30, {}));
    EXPECT_GE(std::chrono::steady_clock::now() - t1, std::chrono::milliseconds(29));
}

// A German-style excerpt of a layout: what the chords mean.
CharChords germanExcerpt() {
    return {
        {U'"', {16, 50}},      // SHIFT 2
        {U'@', {17, 18, 81}},  // CONTROL ALT Q
        {U'`', {16, 129, 32}}, // SHIFT DEAD_ACUTE, then SPACE
        {U'^', {130, 32}},     // DEAD_CIRCUMFLEX, then SPACE
        {U'?', {18, 102, 99}}, // ALT pad6 pad3
        {U'a', {65}},          // plain letter
        {U'A', {16, 65}},      // SHIFT letter
        {U'*', {106}},         // pad MULTIPLY
        {U' ', {32}},          // SPACE
        {U'x', {}},            // malformed entries are ignored
        {U'y', {16, 17}},      // only modifiers
    };
}

TEST(ChordDecoder, ChordsMeanTheirCharacters) {
    ChordDecoder d(germanExcerpt());
    EXPECT_EQ(d.decode(65).kind, Kind::Character);
    EXPECT_EQ(d.decode(65).ch, U'a');

    d.modifierDown(16);
    auto m = d.decode(50);
    EXPECT_EQ(m.kind, Kind::Character);
    EXPECT_EQ(m.ch, U'"');
    EXPECT_EQ(d.decode(65).ch, U'A');
    m = d.decode(129);
    EXPECT_EQ(m.kind, Kind::DeadCharacter);
    EXPECT_EQ(m.ch, U'`');
    EXPECT_FALSE(d.modifierUp(16));

    // The AltGr level, whatever order CONTROL and ALT went down in.
    d.modifierDown(18);
    d.modifierDown(17);
    EXPECT_EQ(d.decode(81).ch, U'@');
    d.modifierUp(18);
    d.modifierUp(17);

    m = d.decode(130);
    EXPECT_EQ(m.kind, Kind::DeadCharacter);
    EXPECT_EQ(m.ch, U'^');
}

TEST(ChordDecoder, FixedKeysAndUnknownChordsAreKeys) {
    ChordDecoder d(germanExcerpt());
    for (int code : {10, 9, 39, 40, 32, 127, 27, 106, 107, 111, 112, 123}) {
        const auto m = d.decode(code);
        EXPECT_EQ(m.kind, Kind::Key) << code;
        EXPECT_EQ(m.code, code);
        EXPECT_TRUE(m.modifiers.empty());
    }
    d.modifierDown(17);
    const auto m = d.decode(65); // CONTROL A: a shortcut, no character
    EXPECT_EQ(m.kind, Kind::Key);
    EXPECT_EQ(m.modifiers, std::vector<int>{17});
    EXPECT_EQ(d.decode(66).kind, Kind::Key);
}

TEST(ChordDecoder, AltAndNumericPadDigitsGiveACharacterCode) {
    ChordDecoder d(germanExcerpt());
    d.modifierDown(18);
    EXPECT_TRUE(d.collectAltDigit(97));  // pad 1
    EXPECT_TRUE(d.collectAltDigit(98));  // pad 2
    EXPECT_TRUE(d.collectAltDigit(102)); // pad 6
    EXPECT_FALSE(d.collectAltDigit(65));
    EXPECT_EQ(d.modifierUp(18), 126);
    EXPECT_EQ(d.modifierUp(18), std::nullopt) << "the digits are used once";

    // Only ALT alone collects; without ALT, or with CONTROL too, pad digits are keys.
    EXPECT_FALSE(d.collectAltDigit(96));
    d.modifierDown(17);
    d.modifierDown(18);
    EXPECT_FALSE(d.collectAltDigit(96));
    EXPECT_EQ(d.modifierUp(18), std::nullopt);
    d.reset();
    EXPECT_TRUE(d.heldModifiers().empty());

    // A run of digits saturates instead of overflowing.
    d.modifierDown(18);
    for (int i = 0; i < 30; ++i)
        d.collectAltDigit(105);
    EXPECT_EQ(d.modifierUp(18), 0x10FFFF);
}

TEST(ChordDecoder, TheSpaceCompletingAnAccentTypedAsItsCharacterIsDroppedOnce) {
    using Press = ChordDecoder::Press;
    ChordDecoder d(germanExcerpt());
    EXPECT_EQ(d.press(32), Press::Key) << "a SPACE is a SPACE";
    d.dropNextSpace();
    EXPECT_EQ(d.press(16), Press::Modifier);
    d.modifierUp(16);
    EXPECT_EQ(d.press(32), Press::DroppedSpace) << "a modifier pressed and released meanwhile keeps it";
    EXPECT_EQ(d.press(32), Press::Key) << "dropped once";
    // Another key, SPACE under a modifier, or a character typed meanwhile: the SPACE is typed.
    d.dropNextSpace();
    EXPECT_EQ(d.press(65), Press::Key);
    EXPECT_EQ(d.press(32), Press::Key);
    d.dropNextSpace();
    d.press(16);
    EXPECT_EQ(d.press(32), Press::Key);
    d.modifierUp(16);
    EXPECT_EQ(d.press(32), Press::Key);
    d.dropNextSpace();
    d.keepNextSpace();
    EXPECT_EQ(d.press(32), Press::Key);
    // ALT + numeric-pad digits are collected.
    EXPECT_EQ(d.press(18), Press::Modifier);
    EXPECT_EQ(d.press(97), Press::AltDigit);
}

#if defined(VORNAL_KEYS_X11)
TEST(KeyInjectorFactory, SaysWhyThereIsNoX11) {
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display ? display : "";
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    try {
        createKeyInjector({});
        ADD_FAILURE() << "no injector without a display";
    } catch (const KeyInjectorUnavailable& e) {
        EXPECT_NE(std::string(e.what()).find("DISPLAY is not set"), std::string::npos) << e.what();
    }
    ::setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    try {
        createKeyInjector({});
        ADD_FAILURE() << "no injector on Wayland without XWayland";
    } catch (const KeyInjectorUnavailable& e) {
        EXPECT_NE(std::string(e.what()).find("Wayland"), std::string::npos) << e.what();
    }
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("DISPLAY", ":9999", 1);
    try {
        createKeyInjector({});
        ADD_FAILURE() << "no injector without an X server";
    } catch (const KeyInjectorUnavailable& e) {
        EXPECT_NE(std::string(e.what()).find(":9999"), std::string::npos) << e.what();
    }
    if (display)
        ::setenv("DISPLAY", saved.c_str(), 1);
    else
        ::unsetenv("DISPLAY");
}
#endif

#if !defined(_WIN32)
TEST(KeyInjectorFactory, ForcedAndAutomaticChoicesSayWhatWasTried) {
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display ? display : "";
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("XDG_SESSION_TYPE", "wayland", 1);
    EXPECT_THROW(createKeyInjector({}, {"telepathy", {}}), std::invalid_argument);
    // A Wayland session with nothing reachable: each backend tried gives its reason, the portal too.
    KeyInjectorChoice choice;
    try {
        createKeyInjector({}, {}, &choice);
        ADD_FAILURE() << "an injector without any display";
    } catch (const KeyInjectorUnavailable& e) {
        const std::string why = e.what();
        EXPECT_NE(why.find("WAYLAND_DISPLAY is not set"), std::string::npos) << why;
        EXPECT_NE(why.find("desktop portal: this program has no desktop-portal support"), std::string::npos)
            << why;
        EXPECT_NE(why.find("DISPLAY is not set"), std::string::npos) << why;
    }
    EXPECT_EQ(choice.notTaken.size(), 3u);
    // The portal handed in by the caller is asked (and only where forced or in a Wayland session).
    int asked = 0;
    KeyInjectorRequest request{"portal",
                               [&](const CharChords&, std::string* why) -> std::unique_ptr<KeyInjector> {
                                   ++asked;
                                   *why = "refused by test";
                                   return nullptr;
                               }};
    EXPECT_THROW(createKeyInjector({}, request), KeyInjectorUnavailable);
    ::setenv("XDG_SESSION_TYPE", "x11", 1);
    request.backend = "auto";
    EXPECT_THROW(createKeyInjector({}, request), KeyInjectorUnavailable);
    EXPECT_EQ(asked, 1) << "an X11 session does not ask the desktop portal";
    ::unsetenv("XDG_SESSION_TYPE");
    if (display)
        ::setenv("DISPLAY", saved.c_str(), 1);
}
#endif

#if defined(_WIN32)
TEST(KeyInjectorFactory, WindowsAlwaysHasSendInput) {
    auto injector = createKeyInjector({{U'a', {65}}});
    ASSERT_NE(injector, nullptr);
    EXPECT_EQ(injector->name(), "Windows (SendInput)");
    EXPECT_TRUE(injector->capsLockOn().has_value());
    EXPECT_THROW(injector->keyPress(0), std::invalid_argument);
    // Modifiers alone are only noted; nothing reaches other windows.
    EXPECT_NO_THROW(injector->keyPress(16));
    EXPECT_NO_THROW(injector->keyRelease(16));
}
#endif
