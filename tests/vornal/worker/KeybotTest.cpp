#include "vornal/worker/Keybot.h"
#include "vornal/config/Config.h"
#include "vornal/worker/WeightWorkerView.h"

#include "vornal/util/MessageFormat.h"
#include "vornal/util/ResourceBundle.h"

#include "platform/keys/fake/RecordingInjector.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

using namespace vornal;
using platform::RecordingInjector;
using worker::Keybot;
using KT = config::ConfigHelper::KeyboardType;
using MT = config::ConfigHelper::KeyMapType;

namespace {

class RecordingView : public worker::WeightWorkerView {
public:
    void logEvent(const QString& t) override { add(t); }
    void logImportantEvent(const QString& t) override { add(t); }
    void setConnectedInGUI(bool) override {}
    void update(const worker::DataLine&) override {}
    QStringList lines() const {
        std::lock_guard lock(m_);
        return lines_;
    }

private:
    void add(const QString& t) {
        std::lock_guard lock(m_);
        lines_ += t;
    }
    mutable std::mutex m_;
    QStringList lines_;
};

struct Bot {
    RecordingInjector* fake;
    std::unique_ptr<Keybot> bot;
};

Bot makeBot(int delay, int start, int end, int end2, int everyX, KT layout, MT type,
            worker::WeightWorkerView* view = nullptr, bool realPauses = false) {
    auto fake = std::make_unique<RecordingInjector>(realPauses);
    auto* raw = fake.get();
    return {raw,
            std::make_unique<Keybot>(delay, start, end, end2, everyX, layout, type, view, std::move(fake))};
}

// Types one value the way the typing thread does.
std::string typeValue(Bot& b, const QString& value) {
    b.fake->clear();
    b.bot->typeStart();
    b.bot->typeString(value, false);
    b.bot->typeEnd();
    return b.fake->trace();
}

// Milliseconds of pauses recorded.
int pausedMs(const RecordingInjector& fake) {
    int n = 0;
    for (const auto& e : fake.events())
        n += e.kind == RecordingInjector::Event::Kind::Pause ? e.value : 0;
    return n;
}

// The longest time (in recorded pause milliseconds) any key was down.
int longestHold(const RecordingInjector& fake) {
    std::map<int, int> downSince;
    int paused = 0, longest = 0;
    for (const auto& e : fake.events()) {
        if (e.kind == RecordingInjector::Event::Kind::Pause)
            paused += e.value;
        else if (e.kind == RecordingInjector::Event::Kind::Press)
            downSince[e.value] = paused;
        else if (e.kind == RecordingInjector::Event::Kind::Release && downSince.count(e.value))
            longest = std::max(longest, paused - downSince[e.value]);
    }
    return longest;
}

class KeybotTest : public ::testing::Test {
protected:
    void SetUp() override { util::ResourceBundle::setLocale(QStringLiteral("en")); }
};

} // namespace

TEST_F(KeybotTest, TypesAValueThenTheTerminatorWithTheDelayBetweenKeys) {
    // Each key is released right after its press (a key held through the delay repeats in the
    // receiving window); the delay of both events follows.
    auto b = makeBot(20, 0, 10, 0, 0, KT::QUERTY, MT::NUMERIC);
    EXPECT_EQ(typeValue(b, QStringLiteral("12,345")),
              "P49 R49 ~40 P50 R50 ~40 P44 R44 ~40 P51 R51 ~40 P52 R52 ~40 P53 R53 ~40 P10 R10 ~40");
    EXPECT_EQ(pausedMs(*b.fake), 280);
    EXPECT_EQ(longestHold(*b.fake), 0);
}

TEST_F(KeybotTest, ChordsAreReleasedInReverseWithoutADelayInsideAndCostTheirDelays) {
    auto b = makeBot(7, 0, 0, 0, 0, KT::QUERTY, MT::ALPHANUMERIC_COMPLETE);
    EXPECT_EQ(typeValue(b, QStringLiteral("a")), "P65 R65 ~14");
    EXPECT_EQ(typeValue(b, QStringLiteral("A")), "P16 P65 R65 R16 ~28");
    EXPECT_EQ(pausedMs(*b.fake), 28);

    auto de = makeBot(7, 0, 0, 0, 0, KT::GERMAN, MT::ALPHANUMERIC_COMPLETE);
    EXPECT_EQ(typeValue(de, QStringLiteral("@")), "P17 P18 P81 R81 R18 R17 ~42");
    // A long delay: still no key is held while it passes.
    auto slow = makeBot(700, 9, 10, 0, 0, KT::GERMAN, MT::ALPHANUMERIC_COMPLETE);
    typeValue(slow, QStringLiteral("aA@'"));
    EXPECT_EQ(longestHold(*slow.fake), 0) << slow.fake->trace();
}

TEST_F(KeybotTest, DeadKeySpaceComesAfterTheAccentChord) {
    auto us = makeBot(5, 0, 0, 0, 0, KT::US_INTERNATIONAL, MT::ALPHANUMERIC_COMPLETE);
    EXPECT_EQ(typeValue(us, QStringLiteral("\"")), "P16 P129 R129 R16 ~20 P32 R32 ~10");
    EXPECT_EQ(typeValue(us, QStringLiteral("'")), "P129 R129 ~10 P32 R32 ~10");
    auto fr = makeBot(5, 0, 0, 0, 0, KT::AZERTY, MT::ALPHANUMERIC_COMPLETE);
    EXPECT_EQ(typeValue(fr, QStringLiteral("`")), "P17 P18 P55 R55 R18 R17 ~30 P32 R32 ~10");
    // A plain space is just the key.
    EXPECT_EQ(typeValue(fr, QStringLiteral(" ")), "P32 R32 ~10");
}

TEST_F(KeybotTest, AltCodesOnTheNumericPad) {
    auto all = makeBot(3, 0, 0, 0, 0, KT::ALL, MT::ALPHANUMERIC_COMPLETE);
    EXPECT_EQ(typeValue(all, QStringLiteral("~")), "P18 P97 R97 P98 R98 P102 R102 R18 ~27");
    EXPECT_EQ(pausedMs(*all.fake), 27) << "nine delays, as before";
    auto de = makeBot(3, 0, 0, 0, 0, KT::GERMAN, MT::ALPHANUMERIC_COMPLETE);
    EXPECT_EQ(typeValue(de, QStringLiteral("?")), "P18 P102 R102 P99 R99 R18 ~21");
}

TEST_F(KeybotTest, StartAndTerminatorKeysFollowTheLayout) {
    // Direct keys are pressed as keys: F1 start, DELETE terminator.
    auto b = makeBot(0, 112, 127, 0, 0, KT::AZERTY, MT::NUMERIC);
    EXPECT_EQ(typeValue(b, QStringLiteral("1")), "P112 R112 ~0 P16 P49 R49 R16 ~0 P127 R127 ~0");
    // COMMA on AZERTY is the comma key; MINUS (start) is the AZERTY minus, the 6 key.
    auto fr = makeBot(0, 45, 44, 0, 0, KT::AZERTY, MT::NUMERIC);
    EXPECT_EQ(typeValue(fr, QStringLiteral(",")), "P54 R54 ~0 P44 R44 ~0 P44 R44 ~0");
    // On ALL: ALT 4 4.
    auto all = makeBot(0, 0, 44, 0, 0, KT::ALL, MT::NUMERIC);
    EXPECT_EQ(typeValue(all, QStringLiteral("")), "P18 P100 R100 P100 R100 R18 ~0");
    // The terminator is typed through the complete map even for a numeric preset (backslash, slash).
    auto us = makeBot(0, 92, 47, 0, 0, KT::QUERTY, MT::NUMERIC);
    EXPECT_EQ(typeValue(us, QStringLiteral("")), "P92 R92 ~0 P111 R111 ~0");
}

TEST_F(KeybotTest, EveryXValuesRule) {
    auto terminators = [](int everyX, int end, int end2, int values) {
        auto b = makeBot(0, 0, end, end2, everyX, KT::QUERTY, MT::NUMERIC);
        std::string out;
        for (int i = 0; i < values; ++i) {
            b.fake->clear();
            b.bot->typeEnd();
            const auto ev = b.fake->events();
            out += ev.empty() ? "-" : std::to_string(ev.front().value);
            out += ' ';
        }
        return out;
    };
    EXPECT_EQ(terminators(3, 9, 10, 7), "9 9 10 9 9 10 9 ");
    EXPECT_EQ(terminators(3, 9, 0, 4), "9 9 - 9 ") << "the X-th value gets no first terminator either";
    EXPECT_EQ(terminators(1, 9, 10, 3), "9 9 9 ");
    EXPECT_EQ(terminators(0, 9, 10, 3), "9 9 9 ");
    EXPECT_EQ(terminators(-4, 9, 10, 2), "9 9 ");
    EXPECT_EQ(terminators(2, 0, 10, 4), "- 10 - 10 ");
}

TEST_F(KeybotTest, CharactersOutsideTheMapAreReportedAndSkipped) {
    RecordingView view;
    auto b = makeBot(0, 0, 0, 0, 0, KT::QUERTY, MT::NUMERIC, &view);
    EXPECT_EQ(typeValue(b, QString::fromUtf8("1a\xC3\xA9\xF0\x9F\x98\x80"
                                             "2")),
              "P49 R49 ~0 P50 R50 ~0");
    const QString prefix = util::ResourceBundle::get(QStringLiteral("vornal.worker.WorkerBundle"))
                               .getString(QStringLiteral("cannot_type"));
    // Beyond ASCII the character itself, its code and the layout that types it.
    const QString useAll = util::ResourceBundle::get(QStringLiteral("vornal.worker.WorkerBundle"))
                               .getString(QStringLiteral("cannot_type.useAll"));
    EXPECT_EQ(view.lines(),
              (QStringList{prefix + u'a', prefix + QString::fromUtf8("\xC3\xA9 (<233>) ") + useAll,
                           prefix + QString::fromUtf8("\xF0\x9F\x98\x80 (<128512>) ") + useAll}));
    EXPECT_TRUE(useAll.contains(QStringLiteral("All characters")));
    EXPECT_FALSE(prefix.startsWith(u'['));
    // Without a view nothing is reported, and typing goes on just the same.
    auto quiet = makeBot(0, 0, 0, 0, 0, KT::QUERTY, MT::NUMERIC);
    EXPECT_EQ(typeValue(quiet, QStringLiteral("x1")), "P49 R49 ~0");
}

TEST_F(KeybotTest, FailingKeysAreReportedAndTypingGoesOn) {
    RecordingView view;
    auto b = makeBot(0, 0, 0, 0, 0, KT::QUERTY, MT::ALPHANUMERIC_COMPLETE, &view);
    b.fake->failOnPress(65);
    EXPECT_EQ(typeValue(b, QStringLiteral("Ab")), "P16 R65 R16 ~0 P66 R66 ~0");
    ASSERT_EQ(view.lines().size(), 1);
    EXPECT_EQ(
        view.lines()[0],
        QStringLiteral("Error pressing key 65 on %1 keyboard: refused by test").arg(KT::QUERTY.toString()));

    RecordingView deadView;
    auto us = makeBot(0, 0, 0, 0, 0, KT::US_INTERNATIONAL, MT::ALPHANUMERIC_COMPLETE, &deadView);
    us.fake->failOnRelease(32);
    typeValue(us, QStringLiteral("'1"));
    EXPECT_EQ(deadView.lines(), QStringList{QStringLiteral("Deadkey error: refused by test")});
    EXPECT_NE(us.fake->trace().find("P49 R49"), std::string::npos) << "the next character is still typed";

    RecordingView altView;
    auto all = makeBot(0, 0, 0, 0, 0, KT::ALL, MT::ALPHANUMERIC_COMPLETE, &altView);
    all.fake->failOnPress(100);
    EXPECT_EQ(typeValue(all, QStringLiteral("0")), "P18 R18 ~0") << "ALT does not stay down";
    EXPECT_EQ(altView.lines(),
              QStringList{QStringLiteral("Error pressing ALT key for 0 on %1 keyboard: refused by test")
                              .arg(KT::ALL.toString())});

    // Without a view: the short message on standard output.
    auto noView = makeBot(0, 0, 0, 0, 0, KT::QUERTY, MT::ALPHANUMERIC_COMPLETE);
    noView.fake->failOnRelease(66);
    testing::internal::CaptureStdout();
    typeValue(noView, QStringLiteral("b"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error on releasing: 66\n");
}

TEST_F(KeybotTest, TheThreadTypesValuesInOrderAndEmptyValuesNotAtAll) {
    auto b = makeBot(0, 9, 10, 0, 0, KT::QUERTY, MT::NUMERIC);
    b.bot->add(QString());
    b.bot->add(QStringLiteral("1"));
    b.bot->add(QString());
    b.bot->add(QStringLiteral("2"));
    EXPECT_EQ(b.bot->pendingCount(), 2);
    b.bot->start();
    ASSERT_TRUE(b.bot->waitUntilIdle(5000));
    EXPECT_EQ(b.fake->trace(), "P9 R9 ~0 P49 R49 ~0 P10 R10 ~0 P9 R9 ~0 P50 R50 ~0 P10 R10 ~0");
    EXPECT_EQ(b.bot->pendingCount(), 0);
    EXPECT_EQ(b.bot->stop(), 0);
    EXPECT_FALSE(b.bot->waitUntilIdle(10)) << "no thread: never idle";
}

TEST_F(KeybotTest, StopEndsAPausePromptlyReleasesHeldKeysAndDropsWaitingValues) {
    auto b = makeBot(10000, 0, 0, 0, 0, KT::QUERTY, MT::ALPHANUMERIC_COMPLETE, nullptr, true);
    b.bot->add(QStringLiteral("A"));
    b.bot->add(QStringLiteral("b"));
    b.bot->add(QStringLiteral("c"));
    b.bot->start();
    // Wait for the pause after the first chord.
    for (int i = 0; i < 500 && b.fake->events().size() < 5; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(b.bot->stop(), 2);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_EQ(b.fake->trace(), "P16 P65 R65 R16 ~40000") << "no key stays down";
    EXPECT_EQ(b.bot->pendingCount(), 0);
}

// Waits until the fake has recorded at least `n` events.
bool waitForEvents(const RecordingInjector& fake, std::size_t n, int ms = 5000) {
    for (int i = 0; i < ms / 2 && fake.events().size() < n; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return fake.events().size() >= n;
}

TEST_F(KeybotTest, TheEndOfAConnectionFinishesTheValueBeingTypedOrNamesItWhenCut) {
    // The value in progress is finished, terminator included; the waiting ones are dropped unread.
    {
        RecordingView view;
        auto b = makeBot(40, 0, 10, 0, 0, KT::QUERTY, MT::NUMERIC, &view, true);
        b.bot->add(QStringLiteral("12,3"));
        b.bot->add(QStringLiteral("45,6"));
        b.bot->add(QStringLiteral("78,9"));
        b.bot->start();
        ASSERT_TRUE(waitForEvents(*b.fake, 1));
        const auto ended = b.bot->finishAndStop();
        EXPECT_EQ(ended.discarded, 2);
        EXPECT_FALSE(ended.cut.has_value());
        EXPECT_EQ(b.fake->trace(), "P49 R49 ~80 P50 R50 ~80 P44 R44 ~80 P51 R51 ~80 P10 R10 ~80");
        EXPECT_TRUE(view.lines().isEmpty()) << view.lines().join(u'|').toStdString();
        EXPECT_EQ(b.bot->pendingCount(), 0);
        // Idle: nothing to finish.
        EXPECT_EQ(b.bot->finishAndStop().discarded, 0);
    }
    // A value that cannot finish within the grace time is cut, keys let go, and the log names it.
    {
        RecordingView view;
        auto b = makeBot(10000, 0, 10, 0, 0, KT::QUERTY, MT::ALPHANUMERIC_COMPLETE, &view, true);
        b.bot->add(QStringLiteral("Ab"));
        b.bot->start();
        ASSERT_TRUE(waitForEvents(*b.fake, 1));
        const auto t0 = std::chrono::steady_clock::now();
        const auto ended = b.bot->finishAndStop(200);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
        EXPECT_EQ(ended.cut, QStringLiteral("Ab"));
        EXPECT_EQ(ended.discarded, 0);
        EXPECT_EQ(b.fake->trace(), "P16 P65 R65 R16 ~40000");
        ASSERT_EQ(view.lines().size(), 2) << "the backlog warning, then the cut value";
        EXPECT_EQ(view.lines()[1],
                  QStringLiteral("The connection ended while Ab was being typed: only part of it "
                                 "reached the target window. Check the value there. cut: typed 'A', "
                                 "not typed 'b'"));
        const auto results = b.bot->takeResults();
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].kind, Keybot::Result::Kind::Cut);
        EXPECT_EQ(results[0].logText(), QStringLiteral("cut after 'A'"));
    }
}

TEST_F(KeybotTest, WhileHeldNothingIsTypedValuesWaitAndTypingGoesOnWhereItStopped) {
    RecordingView view;
    auto b = makeBot(0, 0, 10, 0, 0, KT::QUERTY, MT::NUMERIC, &view);
    b.bot->setHeld(true);
    b.bot->add(QStringLiteral("1"));
    b.bot->add(QStringLiteral("2"));
    b.bot->start();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(b.fake->trace(), "");
    EXPECT_EQ(b.bot->pendingCount(), 2) << "nothing is lost while held";
    ASSERT_EQ(view.lines().size(), 1) << "one log line per hold";
    EXPECT_TRUE(view.lines()[0].startsWith(QStringLiteral("The Vornal window has the keyboard focus")));
    b.bot->setHeld(false);
    ASSERT_TRUE(b.bot->waitUntilIdle(5000));
    EXPECT_EQ(b.fake->trace(), "P49 R49 ~0 P10 R10 ~0 P50 R50 ~0 P10 R10 ~0");

    // Held in the middle of a value: it stops between characters with every key up, and goes on.
    RecordingView view2;
    auto slow = makeBot(30, 0, 10, 0, 0, KT::QUERTY, MT::ALPHANUMERIC_COMPLETE, &view2, true);
    slow.bot->add(QStringLiteral("ABC"));
    slow.bot->start();
    ASSERT_TRUE(waitForEvents(*slow.fake, 1));
    slow.bot->setHeld(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const auto whileHeld = slow.fake->events();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(slow.fake->events(), whileHeld) << "no key while held";
    ASSERT_FALSE(whileHeld.empty());
    EXPECT_EQ(whileHeld.size() % 5, 0u) << "whole characters only: " << slow.fake->trace();
    EXPECT_LT(whileHeld.size(), 15u);
    EXPECT_EQ(view2.lines().size(), 1);
    slow.bot->setHeld(false);
    ASSERT_TRUE(slow.bot->waitUntilIdle(5000));
    EXPECT_EQ(slow.fake->trace(),
              "P16 P65 R65 R16 ~120 P16 P66 R66 R16 ~120 P16 P67 R67 R16 ~120 P10 R10 ~60");

    // Stopped while held in the middle of a value: cut at once (the rest would reach this program).
    slow.fake->clear();
    slow.bot->add(QStringLiteral("DE"));
    ASSERT_TRUE(waitForEvents(*slow.fake, 1));
    slow.bot->setHeld(true);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(slow.bot->finishAndStop().cut, QStringLiteral("DE"));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(Keybot::FINISH_VALUE_MS));
}

TEST_F(KeybotTest, ABacklogOfMoreThanFiveSecondsIsReportedOnceUntilTheQueueDrains) {
    RecordingView view;
    // "12.345" and ENTER: 7 keys, 14 pauses of 100 ms = 1.4 s each.
    auto b = makeBot(100, 0, 10, 0, 0, KT::QUERTY, MT::NUMERIC, &view);
    for (int i = 0; i < 3; ++i)
        b.bot->add(QStringLiteral("12.345"));
    EXPECT_EQ(b.bot->backlogMs(), 4200);
    EXPECT_FALSE(b.bot->isBehind());
    EXPECT_TRUE(view.lines().isEmpty());
    b.bot->add(QStringLiteral("12.345"));
    b.bot->add(QStringLiteral("12.345"));
    EXPECT_TRUE(b.bot->isBehind());
    ASSERT_EQ(view.lines().size(), 1) << "once";
    EXPECT_EQ(
        view.lines()[0],
        QStringLiteral("Typing falls behind: 4 values wait, about 6 s of typing. Choose a shorter delay "
                       "between keys on the Output tab or switch on \"Ignore repeated values\" on the "
                       "Processing tab; no value is dropped."));
    EXPECT_EQ(b.bot->pendingCount(), 5) << "nothing dropped";
    // Drained (the fake does not really wait): reported again on the next backlog.
    b.bot->start();
    ASSERT_TRUE(b.bot->waitUntilIdle(5000));
    EXPECT_FALSE(b.bot->isBehind());
    EXPECT_EQ(b.bot->backlogMs(), 0);
    b.bot->stop();
    for (int i = 0; i < 4; ++i)
        b.bot->add(QStringLiteral("12.345"));
    EXPECT_EQ(view.lines().size(), 2);
    // No delay: never behind.
    auto fast = makeBot(0, 0, 10, 0, 0, KT::QUERTY, MT::NUMERIC, &view);
    for (int i = 0; i < 1000; ++i)
        fast.bot->add(QStringLiteral("12.345"));
    EXPECT_FALSE(fast.bot->isBehind());
}

TEST_F(KeybotTest, CapsLockAndConstructionFromSettings) {
    auto fake = std::make_unique<RecordingInjector>();
    fake->setCapsLock(true);
    auto* raw = fake.get();
    config::Config c;
    c.setDelay(QStringLiteral("3"));
    c.setStartWith(config::ConfigHelper::StartWith::TAB);
    c.setOutputTerminator(config::ConfigHelper::OutputTerminator::SEMICOLON);
    c.setKeyboardType(KT::GERMAN);
    c.setInstrument(config::ConfigHelper::Instrument::GENERIC);
    auto bot = Keybot::fromConfig(c, nullptr, std::move(fake));
    EXPECT_EQ(bot->capsLockOn(), true);
    raw->setCapsLock(std::nullopt);
    EXPECT_EQ(bot->capsLockOn(), std::nullopt);
    EXPECT_EQ(bot->keyDelay(), 3);
    bot->typeStart();
    bot->typeString(QStringLiteral("x1"), false); // GENERIC is numeric: no letters
    bot->typeEnd();
    EXPECT_EQ(raw->trace(), "P9 R9 ~6 P49 R49 ~6 P16 P44 R44 R16 ~12");
    EXPECT_EQ(bot->injectorName(), QStringLiteral("recording"));
}

TEST_F(KeybotTest, WithoutABackendCreationFailsWithTheReason) {
    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    try {
        Keybot bot(20, 0, 10, 0, 0, KT::QUERTY, MT::NUMERIC, nullptr);
        ADD_FAILURE() << "created without a display";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("not available"), std::string::npos) << e.what();
    }
    if (!display.isNull())
        qputenv("DISPLAY", display);
}

TEST_F(KeybotTest, AllTypesCharactersBeyondAsciiAsThemselvesOtherLayoutsReportThem) {
    RecordingView view;
    auto all = makeBot(2, 0, 0, 0, 0, KT::ALL, MT::ALPHANUMERIC_COMPLETE, &view);
    // Units, the euro sign, accented letters and a character outside the basic plane; ASCII keeps its
    // ALT codes.
    EXPECT_EQ(typeValue(all, QString::fromUtf8("\xC2\xB0"
                                               "C\xC2\xB1\xC2\xB5\xE2\x82\xAC\xC3\xA9\xF0\x9F\x98\x80")),
              "C176 ~2 P18 P102 R102 P103 R103 R18 ~14 C177 ~2 C181 ~2 C8364 ~2 C233 ~2 C128512 ~2");
    // Control characters are no text: still reported.
    EXPECT_EQ(typeValue(all, QString::fromUtf8("\xC2\x85\x01")), "");
    EXPECT_EQ(view.lines().size(), 2) << view.lines().join(u'\n').toStdString();
    // Numeric presets on ALL: non-ASCII is typed, letters stay outside the key map.
    auto numeric = makeBot(0, 0, 0, 0, 0, KT::ALL, MT::NUMERIC, &view);
    EXPECT_EQ(typeValue(numeric, QString::fromUtf8("x\xC2\xB0")), "C176 ~0");
    EXPECT_EQ(view.lines().size(), 3);
    // Other layouts keep their character sets.
    RecordingView deView;
    auto de = makeBot(0, 0, 0, 0, 0, KT::GERMAN, MT::ALPHANUMERIC_COMPLETE, &deView);
    EXPECT_EQ(typeValue(de, QString::fromUtf8("\xC3\xA9")), "");
    EXPECT_EQ(deView.lines().size(), 1);
}

TEST_F(KeybotTest, AtDelayZeroADeadKeyChordWaitsOneMillisecondFirst) {
    auto us = makeBot(0, 0, 0, 0, 0, KT::US_INTERNATIONAL, MT::ALPHANUMERIC_COMPLETE);
    EXPECT_EQ(typeValue(us, QStringLiteral("a'")), "P65 R65 ~0 ~1 P129 R129 ~0 P32 R32 ~0");
    auto slow = makeBot(1, 0, 0, 0, 0, KT::US_INTERNATIONAL, MT::ALPHANUMERIC_COMPLETE);
    EXPECT_EQ(typeValue(slow, QStringLiteral("'")), "P129 R129 ~2 P32 R32 ~2");
}

TEST_F(KeybotTest, ALostBackendStopsTypingAndNamesEveryValueNotTyped) {
    RecordingView view;
    auto b = makeBot(0, 0, 10, 0, 0, KT::QUERTY, MT::NUMERIC, &view);
    b.fake->loseAfter(3); // "1", "2" and half of "3"
    b.bot->add(QStringLiteral("1"));
    b.bot->add(QStringLiteral("23"));
    b.bot->add(QStringLiteral("4"));
    b.bot->start();
    ASSERT_TRUE(b.bot->waitUntilIdle(5000));
    EXPECT_TRUE(b.bot->lost());
    b.bot->add(QStringLiteral("5"));
    const QString log = view.lines().join(u'\n');
    EXPECT_TRUE(log.contains(QStringLiteral("Cannot type: the test ended the session"))) << log.toStdString();
    for (const char* v : {"23", "4", "5"})
        EXPECT_TRUE(log.contains(QStringLiteral("Not typed (keyboard output stopped): ") + QLatin1String(v)))
            << v << '\n'
            << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("Not typed (keyboard output stopped): 1\n")));
    EXPECT_EQ(b.bot->pendingCount(), 0);
    b.bot->stop();
}

TEST_F(KeybotTest, ALostBackendReportsTheValueInProgressExactlyAndEveryResult) {
    // Lost after "AB" of "ABCDEF": the report says what reached the window and what did not, the data
    // log's results say the same, and later values are not typed.
    RecordingView view;
    auto b = makeBot(0, 0, 10, 0, 0, KT::QUERTY, MT::ALPHANUMERIC_COMPLETE, &view);
    b.fake->loseAfter(5); // SHIFT+A, SHIFT+B, then SHIFT of C: its key is never sent
    const quint64 first = b.bot->add(QStringLiteral("ABCDEF"));
    const quint64 second = b.bot->add(QStringLiteral("7"));
    EXPECT_NE(first, second);
    b.bot->start();
    ASSERT_TRUE(b.bot->waitUntilIdle(5000));
    const QString log = view.lines().join(u'\n');
    EXPECT_TRUE(log.contains(QStringLiteral("Only part of ABCDEF was typed: typed 'AB', not typed 'CDEF'")))
        << log.toStdString();
    const auto results = b.bot->takeResults();
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].id, first);
    EXPECT_EQ(results[0].kind, Keybot::Result::Kind::Cut);
    EXPECT_EQ(results[0].typed, QStringLiteral("AB"));
    EXPECT_EQ(results[0].rest, QStringLiteral("CDEF"));
    EXPECT_EQ(results[0].logText(), QStringLiteral("cut after 'AB'"));
    EXPECT_EQ(results[1].id, second);
    EXPECT_EQ(results[1].logText(), QStringLiteral("not typed: keyboard output lost"));
    EXPECT_EQ(b.bot->lostReason(), QStringLiteral("the test ended the session"));
    b.bot->stop();
}

TEST_F(KeybotTest, ResultsOfTypedSkippedRefusedAndDroppedValues) {
    RecordingView view;
    auto b = makeBot(0, 0, 10, 0, 0, KT::QUERTY, MT::NUMERIC, &view);
    b.fake->refuse(U'9');
    const quint64 typed = b.bot->add(QStringLiteral("1.5"));
    const quint64 partly = b.bot->add(QStringLiteral("2 kg"));
    const quint64 refused = b.bot->add(QStringLiteral("39"));
    EXPECT_EQ(b.bot->add(QString()), 0u) << "an empty value is no value";
    b.bot->start();
    ASSERT_TRUE(b.bot->waitUntilIdle(5000));
    EXPECT_EQ(b.fake->trace(), "P49 R49 ~0 P46 R46 ~0 P53 R53 ~0 P10 R10 ~0 P50 R50 ~0 P10 R10 ~0")
        << "nothing of the refused value";
    const auto results = b.bot->takeResults();
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].id, typed);
    EXPECT_EQ(results[0].logText(), QStringLiteral("typed"));
    EXPECT_EQ(results[1].id, partly);
    EXPECT_EQ(results[1].logText(), QStringLiteral("typed without ' kg'"));
    EXPECT_EQ(results[2].id, refused);
    EXPECT_EQ(results[2].logText(), QStringLiteral("refused: the test refuses U+57"));
    EXPECT_TRUE(view.lines().join(u'\n').contains(QStringLiteral("Not typed: 39: the test refuses U+57")));
    // Values still waiting at the end are each given their result.
    b.bot->setHeld(true);
    b.bot->add(QStringLiteral("4"));
    b.bot->add(QStringLiteral("5"));
    const auto ended = b.bot->finishAndStop();
    EXPECT_EQ(ended.discardedValues, (std::vector<QString>{QStringLiteral("4"), QStringLiteral("5")}));
    const auto dropped = b.bot->takeResults();
    ASSERT_EQ(dropped.size(), 2u);
    EXPECT_EQ(dropped[0].logText(), QStringLiteral("not typed: stopped"));
}

TEST_F(KeybotTest, NoFocusedWindowAndHeldModifiersHoldTheTypingUntilTheyEnd) {
    // No window has the focus: nothing is typed, the value waits whole, and goes once one has it.
    RecordingView view;
    auto b = makeBot(0, 0, 10, 0, 0, KT::QUERTY, MT::NUMERIC, &view);
    b.fake->setFocusWindow(0);
    b.bot->add(QStringLiteral("12"));
    b.bot->start();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(b.fake->trace(), "");
    EXPECT_EQ(b.bot->waiting(), Keybot::Wait::NoFocus);
    b.fake->setFocusWindow(42);
    ASSERT_TRUE(b.bot->waitUntilIdle(5000));
    EXPECT_EQ(b.fake->trace(), "P49 R49 ~0 P50 R50 ~0 P10 R10 ~0");
    EXPECT_EQ(b.bot->waiting(), Keybot::Wait::Typing);
    EXPECT_EQ(view.lines().size(), 1) << view.lines().join(u'\n').toStdString();

    // The user holds modifiers: typing waits (silently for a moment, then with a log line), and goes
    // on after the release; a stop meanwhile ends the wait at once.
    b.fake->clear();
    b.fake->setUserModifiers(true);
    b.bot->add(QStringLiteral("3"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(b.fake->trace(), "");
    EXPECT_EQ(b.bot->waiting(), Keybot::Wait::Typing) << "not yet said: a hotkey is released at once";
    b.fake->setUserModifiers(false);
    ASSERT_TRUE(b.bot->waitUntilIdle(5000));
    EXPECT_EQ(b.fake->trace(), "P51 R51 ~0 P10 R10 ~0");
    b.fake->clear();
    b.fake->setUserModifiers(true);
    b.bot->add(QStringLiteral("4"));
    std::this_thread::sleep_for(std::chrono::milliseconds(Keybot::MODIFIER_GRACE_MS + 300));
    EXPECT_EQ(b.bot->waiting(), Keybot::Wait::Modifiers);
    EXPECT_TRUE(view.lines().last().startsWith(QStringLiteral("Keys are held down")));
    const auto t0 = std::chrono::steady_clock::now();
    const auto ended = b.bot->finishAndStop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_EQ(b.fake->trace(), "");
    const auto results = b.bot->takeResults();
    ASSERT_FALSE(results.empty());
    EXPECT_EQ(results.back().logText(), QStringLiteral("not typed: stopped"));
}

TEST_F(KeybotTest, AValueHeldAtStopIsFinishedInItsWindowOrReportedExactlyAfterTheTimeLimit) {
    // The Stop click gives this program's window the focus (held) in the middle of "ABC", typed into
    // window 7. The rest goes only to window 7, never to another one, and only the rest.
    RecordingView view;
    auto b = makeBot(30, 0, 10, 0, 0, KT::QUERTY, MT::ALPHANUMERIC_COMPLETE, &view, true);
    b.fake->setFocusWindow(7);
    b.bot->add(QStringLiteral("ABC"));
    b.bot->add(QStringLiteral("D"));
    b.bot->start();
    ASSERT_TRUE(waitForEvents(*b.fake, 1));
    b.bot->setHeld(true);
    b.fake->setFocusWindow(3); // this program's window
    const auto ended = b.bot->finishAndStop(Keybot::FINISH_VALUE_MS, 5000);
    EXPECT_TRUE(ended.resuming);
    EXPECT_EQ(ended.discardedValues, std::vector<QString>{QStringLiteral("D")});
    EXPECT_TRUE(b.bot->resuming());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string before = b.fake->trace();
    b.fake->setFocusWindow(9); // some other window: nothing goes there
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(b.fake->trace(), before);
    b.fake->setFocusWindow(7); // back in the window of its first part
    for (int i = 0; i < 250 && b.bot->resuming(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(b.bot->resuming());
    EXPECT_EQ(b.fake->trace(), "P16 P65 R65 R16 ~120 P16 P66 R66 R16 ~120 P16 P67 R67 R16 ~120 P10 R10 ~60")
        << "the value whole, once, with its terminator; nothing of D";
    auto results = b.bot->takeResults();
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].logText(), QStringLiteral("not typed: stopped")); // D
    EXPECT_EQ(results[1].logText(), QStringLiteral("typed"));
    EXPECT_TRUE(view.lines().last().contains(QStringLiteral("typed whole after the stop")));
    b.bot->stop();

    // The window does not come back in time: cut, and reported exactly.
    RecordingView view2;
    auto c = makeBot(30, 0, 10, 0, 0, KT::QUERTY, MT::ALPHANUMERIC_COMPLETE, &view2, true);
    c.fake->setFocusWindow(7);
    c.bot->add(QStringLiteral("ABC"));
    c.bot->start();
    ASSERT_TRUE(waitForEvents(*c.fake, 1));
    c.bot->setHeld(true);
    c.fake->setFocusWindow(3);
    EXPECT_TRUE(c.bot->finishAndStop(Keybot::FINISH_VALUE_MS, 300).resuming);
    for (int i = 0; i < 300 && c.bot->resuming(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    results = c.bot->takeResults();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].kind, Keybot::Result::Kind::Cut);
    EXPECT_EQ(results[0].typed + results[0].rest, QStringLiteral("ABC"));
    EXPECT_TRUE(view2.lines().last().contains(QStringLiteral("cut: typed '") + results[0].typed))
        << view2.lines().join(u'\n').toStdString();
    // A stop meanwhile ends the wait at once: also cut.
    RecordingView view3;
    auto d = makeBot(30, 0, 10, 0, 0, KT::QUERTY, MT::ALPHANUMERIC_COMPLETE, &view3, true);
    d.fake->setFocusWindow(7);
    d.bot->add(QStringLiteral("ABC"));
    d.bot->start();
    ASSERT_TRUE(waitForEvents(*d.fake, 1));
    d.bot->setHeld(true);
    EXPECT_TRUE(d.bot->finishAndStop(Keybot::FINISH_VALUE_MS, 60000).resuming);
    const auto t0 = std::chrono::steady_clock::now();
    d.bot->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    results = d.bot->takeResults();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].kind, Keybot::Result::Kind::Cut);
}

namespace {
// A backend that needs its own time for every key, whatever the delay between keys.
class SlowInjector : public RecordingInjector {
protected:
    void pressKey(int code) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        RecordingInjector::pressKey(code);
    }
};
} // namespace

// The estimate of the backlog follows what typing really takes: a backend slower than the delay (the
// German layout on a loaded desktop) still gets the warning.
TEST_F(KeybotTest, ABacklogIsMeasuredByWhatTypingReallyTakes) {
    RecordingView view;
    auto bot = std::make_unique<Keybot>(1, 0, 10, 0, 0, KT::GERMAN, MT::NUMERIC, &view,
                                        std::make_unique<SlowInjector>());
    bot->start();
    bot->add(QStringLiteral("12,345"));
    ASSERT_TRUE(bot->waitUntilIdle(5000));
    EXPECT_FALSE(bot->isBehind());
    // At least 10 ms a pause: 60 values are more than 8 s of typing.
    for (int i = 0; i < 60; ++i)
        bot->add(QStringLiteral("12,345"));
    EXPECT_TRUE(bot->isBehind());
    const QString log = view.lines().join(u'\n');
    EXPECT_TRUE(log.contains(QStringLiteral("Typing falls behind: "))) << log.toStdString();
    bot->stop();
}

// Values that wait only because the window has the focus are not told to type faster; one value is
// one value, in each language.
TEST_F(KeybotTest, TheBacklogMessageSaysWhyValuesWaitInSingularAndPlural) {
    for (const char* lang : {"en", "de"}) {
        util::ResourceBundle::setLocale(QString::fromLatin1(lang));
        const auto& texts = util::ResourceBundle::get(QStringLiteral("vornal.worker.WorkerBundle"));
        RecordingView held;
        auto b = makeBot(100, 0, 10, 0, 0, KT::QUERTY, MT::NUMERIC, &held);
        b.bot->setHeld(true);
        for (int i = 0; i < 5; ++i)
            b.bot->add(QStringLiteral("12.345"));
        ASSERT_EQ(held.lines().size(), 1) << lang;
        EXPECT_EQ(held.lines()[0], util::MessageFormat::format(
                                       texts.getString(QStringLiteral("typing.held.backlog.0.1")), 4, 6))
            << lang;
        RecordingView one;
        auto single = makeBot(100, 0, 10, 0, 0, KT::QUERTY, MT::NUMERIC, &one);
        single.bot->add(QStringLiteral("1234567890123456789012345678901234567890"));
        ASSERT_EQ(one.lines().size(), 1) << lang;
        EXPECT_EQ(one.lines()[0],
                  util::MessageFormat::format(texts.getString(QStringLiteral("typing.behind.one.1")), 1, 9))
            << lang;
        EXPECT_FALSE(one.lines()[0].contains(QStringLiteral("1 values"))) << lang;
        EXPECT_FALSE(one.lines()[0].contains(QStringLiteral("1 Werte"))) << lang;
    }
    util::ResourceBundle::setLocale(QStringLiteral("en"));
}

// The keystroke output speaks the user's language in the event log (the data log's result column stays
// as it is in every language): the wait for a focused window, the lost backend, the value cut by it, the
// values it leaves untyped.
TEST_F(KeybotTest, WaitAndLostOutputMessagesFollowTheLanguage) {
    std::map<std::string, QStringList> said;
    for (const char* lang : {"en", "de"}) {
        util::ResourceBundle::setLocale(QString::fromLatin1(lang));
        const auto& texts = util::ResourceBundle::get(QStringLiteral("vornal.worker.WorkerBundle"));
        const auto text = [&](const char* key, const QStringList& args = {}) {
            return util::MessageFormat::format(texts.getString(QLatin1String(key)), args);
        };
        RecordingView waitView;
        auto w = makeBot(0, 0, 10, 0, 0, KT::QUERTY, MT::NUMERIC, &waitView);
        w.fake->setFocusWindow(0);
        w.bot->add(QStringLiteral("12"));
        w.bot->start();
        for (int i = 0; i < 200 && waitView.lines().isEmpty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(waitView.lines().size(), 1) << lang;
        EXPECT_EQ(waitView.lines()[0], text("typing.no.focus")) << lang;
        // Stopped while it waited whole: nothing of it reached a window, and the log says so.
        w.bot->stop();
        EXPECT_EQ(w.fake->trace(), "") << lang;
        ASSERT_EQ(waitView.lines().size(), 2) << lang;
        EXPECT_EQ(waitView.lines()[1], text("not.typed.connection.stopped.0", {QStringLiteral("12")}))
            << lang;
        const auto waited = w.bot->takeResults();
        ASSERT_EQ(waited.size(), 1u) << lang;
        EXPECT_EQ(waited[0].logText(), QStringLiteral("not typed: stopped")) << lang;

        RecordingView view;
        auto b = makeBot(0, 0, 10, 0, 0, KT::QUERTY, MT::ALPHANUMERIC_COMPLETE, &view);
        b.fake->loseAfter(5); // "AB" of "ABCDEF" reach the window
        b.bot->add(QStringLiteral("ABCDEF"));
        b.bot->add(QStringLiteral("7"));
        b.bot->start();
        ASSERT_TRUE(b.bot->waitUntilIdle(5000)) << lang;
        const auto results = b.bot->takeResults();
        ASSERT_EQ(results.size(), 2u) << lang;
        const QString cut = text("result.cut.0.1", {QStringLiteral("'AB'"), QStringLiteral("'CDEF'")});
        EXPECT_EQ(results[0].describe(), cut) << lang;
        EXPECT_EQ(results[0].logText(), QStringLiteral("cut after 'AB'")) << lang;
        EXPECT_EQ(results[1].logText(), QStringLiteral("not typed: keyboard output lost")) << lang;
        EXPECT_EQ(results[1].describe(),
                  text("result.not.typed.0.1", {text("reason.output.lost"), QStringLiteral("7")}))
            << lang;
        const QStringList expected{text("typing.lost.0", {QStringLiteral("the test ended the session")}),
                                   text("typing.part.0.1", {QStringLiteral("ABCDEF"), cut}),
                                   text("not.typed.output.stopped.0", {QStringLiteral("7")})};
        EXPECT_EQ(view.lines(), expected) << lang << '\n' << view.lines().join(u'\n').toStdString();
        said[lang] = waitView.lines() + view.lines() + QStringList{results[1].describe()};
        b.bot->stop();
    }
    util::ResourceBundle::setLocale(QStringLiteral("en"));
    // The English texts as they were; the German ones in German.
    EXPECT_EQ(said["en"][0],
              QStringLiteral("No window has the keyboard focus: nothing is typed. The values wait "
                             "until you click into the window that should receive them."));
    EXPECT_EQ(said["en"][1], QStringLiteral("Not typed (the connection was stopped): 12"));
    EXPECT_EQ(said["en"][3], QStringLiteral("Only part of ABCDEF was typed: typed 'AB', not typed 'CDEF'"));
    EXPECT_EQ(said["en"][5], QStringLiteral("not typed (keyboard output lost): 7"));
    EXPECT_EQ(said["de"][0],
              QStringLiteral("Kein Fenster hat den Tastaturfokus: Es wird nichts getippt. Die Werte "
                             "warten, bis Sie in das Fenster klicken, das sie empfangen soll."));
    EXPECT_EQ(said["de"][3],
              QStringLiteral("Von ABCDEF wurde nur ein Teil getippt: getippt: 'AB', nicht getippt: 'CDEF'"));
    EXPECT_EQ(said["de"][4], QStringLiteral("Nicht getippt (Tastaturausgabe beendet): 7"));
    EXPECT_EQ(said["de"][5], QStringLiteral("nicht getippt (Tastaturausgabe verloren): 7"));
    ASSERT_EQ(said["en"].size(), said["de"].size());
    for (qsizetype i = 0; i < said["en"].size(); ++i)
        EXPECT_NE(said["en"][i].section(u':', 0, 0), said["de"][i].section(u':', 0, 0)) << i;
}
