// Several Keybots sharing one Typist (the instruments of a station typing into one form): every value
// whole and in the order it was handed over, each with its own connection's keys and results; a stop
// drops only its own values; a lost keyboard output ends typing for all. Recording injectors that
// write into one shared trace stand for the one receiving window.
#include "vornal/worker/Typist.h"
#include "vornal/config/Config.h"
#include "vornal/worker/Keybot.h"
#include "vornal/worker/WeightWorkerView.h"

#include "platform/keys/KeyCodes.h"
#include "platform/keys/fake/RecordingInjector.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <random>
#include <thread>

using namespace vornal;
using platform::RecordingInjector;
using worker::Keybot;
using worker::Typist;
using KT = config::ConfigHelper::KeyboardType;
using MT = config::ConfigHelper::KeyMapType;
namespace key = platform::key;

namespace {

// What the receiving window saw: every key press of every connection, tagged with its connection.
struct SharedTrace {
    std::mutex m;
    std::vector<std::pair<char, int>> presses;
};

class TaggedInjector : public RecordingInjector {
public:
    TaggedInjector(char tag, SharedTrace* trace, bool realPauses)
        : RecordingInjector(realPauses), tag_(tag), trace_(trace) {}

protected:
    void pressKey(int code) override {
        RecordingInjector::pressKey(code); // throws once the session is "lost"
        std::lock_guard lock(trace_->m);
        trace_->presses.emplace_back(tag_, code);
    }

private:
    char tag_;
    SharedTrace* trace_;
};

class QuietView : public worker::WeightWorkerView {
public:
    void logEvent(const QString&) override {}
    void logImportantEvent(const QString& t) override {
        std::lock_guard lock(m_);
        lines_ += t;
    }
    void setConnectedInGUI(bool) override {}
    void update(const worker::DataLine&) override {}
    QString text() const {
        std::lock_guard lock(m_);
        return lines_.join(u'\n');
    }

private:
    mutable std::mutex m_;
    QStringList lines_;
};

struct Station {
    struct Settings {
        char tag;
        std::vector<int> prefix;
        int start = 0;
        int end = 0;
        int delay = 0;
        bool realPauses = false;
    };
    explicit Station(std::vector<Settings> all) : typist(Typist::create()), settings(std::move(all)) {
        for (const Settings& s : settings) {
            auto fake = std::make_unique<TaggedInjector>(s.tag, &trace, s.realPauses);
            fakes.push_back(fake.get());
            views.push_back(std::make_unique<QuietView>());
            auto bot =
                std::make_unique<Keybot>(s.delay, s.start, s.end, 0, 0, KT::QUERTY, MT::ALPHANUMERIC_COMPLETE,
                                         views.back().get(), std::move(fake));
            bot->setTypist(typist);
            bot->setPrefix(s.prefix);
            bots.push_back(std::move(bot));
        }
    }
    // The presses one value of connection `i` makes when typed alone.
    std::vector<std::pair<char, int>> expected(std::size_t i, const QString& value) const {
        const Settings& s = settings[i];
        auto fake = std::make_unique<RecordingInjector>();
        RecordingInjector* raw = fake.get();
        Keybot solo(0, s.start, s.end, 0, 0, KT::QUERTY, MT::ALPHANUMERIC_COMPLETE, nullptr, std::move(fake));
        solo.setPrefix(s.prefix);
        solo.typeStart();
        solo.typeString(value, false);
        solo.typeEnd();
        std::vector<std::pair<char, int>> out;
        for (const auto& e : raw->events())
            if (e.kind == RecordingInjector::Event::Kind::Press)
                out.emplace_back(s.tag, e.value);
        return out;
    }
    std::vector<std::pair<char, int>> presses() {
        std::lock_guard lock(trace.m);
        return trace.presses;
    }

    SharedTrace trace;
    std::shared_ptr<Typist> typist;
    std::vector<Settings> settings;
    std::vector<TaggedInjector*> fakes;
    std::vector<std::unique_ptr<QuietView>> views;
    std::vector<std::unique_ptr<Keybot>> bots;
};

bool waitAllIdle(Station& s, int ms) {
    for (auto& b : s.bots)
        if (!b->waitUntilIdle(ms))
            return false;
    return true;
}

} // namespace

TEST(StationTypist, ValuesOfThreeConnectionsAreTypedWholeInHandOverOrderWithTheirOwnKeys) {
    Station s({{'A', {key::TAB}, 0, key::ENTER},
               {'B', {key::F1 + 1, key::TAB}, key::SPACE, key::TAB},
               {'C', {}, 0, 0}});
    for (auto& b : s.bots)
        b->start();
    // One thread hands the values over, as the connections' thread does; the typing threads race.
    std::mt19937 random(26);
    std::vector<std::pair<std::size_t, QString>> handed;
    std::vector<std::vector<quint64>> ids(3);
    for (int i = 0; i < 3000; ++i) {
        const std::size_t who = random() % 3;
        const QString value = QString::number(1000 + i) + (who == 1 ? QStringLiteral("AB") : QString());
        handed.emplace_back(who, value);
        ids[who].push_back(s.bots[who]->add(value));
        if (i % 97 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1)); // now and then a drained queue
    }
    ASSERT_TRUE(waitAllIdle(s, 30000));
    std::vector<std::pair<char, int>> expected;
    for (const auto& [who, value] : handed) {
        const auto one = s.expected(who, value);
        expected.insert(expected.end(), one.begin(), one.end());
    }
    const auto got = s.presses();
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], expected[i]) << "press " << i;
    // Each connection gets exactly its own results, all typed.
    for (std::size_t who = 0; who < 3; ++who) {
        const auto results = s.bots[who]->takeResults();
        ASSERT_EQ(results.size(), ids[who].size()) << who;
        for (std::size_t k = 0; k < results.size(); ++k) {
            EXPECT_EQ(results[k].id, ids[who][k]);
            EXPECT_EQ(results[k].kind, Keybot::Result::Kind::Typed);
        }
    }
    EXPECT_EQ(s.typist->open(), 0);
    EXPECT_EQ(s.typist->users(), 3);
    for (auto& b : s.bots)
        b->stop();
    EXPECT_EQ(s.typist->users(), 0);
}

TEST(StationTypist, StoppingOneConnectionDropsOnlyItsOwnValuesAndTheOthersGoOn) {
    // A types slowly (real pauses), so that a stop finds values of A waiting between those of B.
    Station s({{'A', {}, 0, key::ENTER, 20, true}, {'B', {key::TAB}, 0, key::ENTER}});
    for (auto& b : s.bots)
        b->start();
    std::vector<quint64> idsB;
    for (int i = 0; i < 20; ++i) {
        s.bots[0]->add(QString::number(100 + i));
        idsB.push_back(s.bots[1]->add(QString::number(500 + i)));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(150)); // A is typing its first values
    const Keybot::Ended ended = s.bots[0]->finishAndStop(Keybot::FINISH_VALUE_MS);
    EXPECT_GT(ended.discarded, 10);
    ASSERT_TRUE(s.bots[1]->waitUntilIdle(10000)) << "B waits for tickets A gave back";
    const auto resultsB = s.bots[1]->takeResults();
    ASSERT_EQ(resultsB.size(), 20u);
    for (const auto& r : resultsB)
        EXPECT_EQ(r.kind, Keybot::Result::Kind::Typed) << r.value.toStdString();
    // A: every value has one result, typed ones first; none typed after the stop.
    const auto resultsA = s.bots[0]->takeResults();
    ASSERT_EQ(resultsA.size(), 20u);
    int typedA = 0;
    for (const auto& r : resultsA)
        typedA += r.kind == Keybot::Result::Kind::Typed;
    EXPECT_EQ(typedA, 20 - ended.discarded);
    // Every value typed is whole: the trace is A's typed values and all of B's, none interleaved.
    const auto got = s.presses();
    std::size_t at = 0;
    int seenA = 0, seenB = 0;
    while (at < got.size()) {
        const char tag = got[at].first;
        const QString value = tag == 'A' ? QString::number(100 + seenA++) : QString::number(500 + seenB++);
        const auto one = s.expected(tag == 'A' ? 0 : 1, value);
        ASSERT_LE(at + one.size(), got.size());
        for (std::size_t k = 0; k < one.size(); ++k)
            ASSERT_EQ(got[at + k], one[k]) << "value " << value.toStdString();
        at += one.size();
    }
    EXPECT_EQ(seenA, typedA);
    EXPECT_EQ(seenB, 20);
    EXPECT_EQ(s.typist->open(), 0);
}

TEST(StationTypist, ALostKeyboardOutputEndsTypingForEveryConnectionEachReportingItsOwn) {
    Station s({{'A', {}, 0, key::ENTER}, {'B', {}, 0, key::ENTER}, {'C', {}, 0, key::ENTER}});
    // A's value "12" is the second one: its "1" reaches the window, then the session ends.
    s.fakes[0]->loseAfter(2);
    std::vector<quint64> idsB;
    idsB.push_back(s.bots[1]->add(QStringLiteral("7")));
    s.bots[0]->add(QStringLiteral("12"));
    idsB.push_back(s.bots[1]->add(QStringLiteral("8")));
    idsB.push_back(s.bots[1]->add(QStringLiteral("9")));
    for (auto& b : s.bots)
        b->start();
    ASSERT_TRUE(s.bots[0]->waitUntilIdle(5000));
    // B types "7" on its own output, then finds the station's output lost; C had nothing to type.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!(s.bots[1]->lost() && s.bots[2]->lost()) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(s.bots[0]->lost());
    EXPECT_TRUE(s.bots[1]->lost());
    EXPECT_TRUE(s.bots[2]->lost());
    const auto a = s.bots[0]->takeResults();
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].kind, Keybot::Result::Kind::Cut);
    EXPECT_EQ(a[0].typed, QStringLiteral("1"));
    const auto b = s.bots[1]->takeResults();
    ASSERT_EQ(b.size(), 3u);
    EXPECT_EQ(b[0].kind, Keybot::Result::Kind::Typed);
    for (int k = 1; k < 3; ++k) {
        EXPECT_EQ(b[k].id, idsB[k]);
        EXPECT_EQ(b[k].logText(), QStringLiteral("not typed: keyboard output lost"));
    }
    EXPECT_TRUE(s.views[2]->text().contains(QStringLiteral("the test ended the session")))
        << s.views[2]->text().toStdString();
    // A value handed over later is not typed either, and said so.
    s.bots[2]->add(QStringLiteral("5"));
    const auto c = s.bots[2]->takeResults();
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].kind, Keybot::Result::Kind::NotTyped);
    // Once every connection has stopped, the next start types again.
    for (auto& bot : s.bots)
        bot->stop();
    EXPECT_FALSE(s.typist->lost());
    EXPECT_EQ(s.typist->open(), 0);
    auto fresh = std::make_unique<RecordingInjector>();
    RecordingInjector* raw = fresh.get();
    Keybot again(0, 0, key::ENTER, 0, 0, KT::QUERTY, MT::ALPHANUMERIC_COMPLETE, nullptr, std::move(fresh));
    again.setTypist(s.typist);
    again.start();
    again.add(QStringLiteral("3"));
    ASSERT_TRUE(again.waitUntilIdle(5000));
    EXPECT_FALSE(again.lost());
    EXPECT_NE(raw->trace().find("P51"), std::string::npos) << raw->trace();
}

TEST(PrefixKeys, KeyNamesOfTheStartKeyListUpToEight) {
    using config::Config;
    EXPECT_TRUE(Config::validPrefixKeys(QString()));
    EXPECT_TRUE(Config::validPrefixKeys(QStringLiteral("TAB")));
    EXPECT_TRUE(Config::validPrefixKeys(QStringLiteral(" TAB  F2 ")));
    EXPECT_TRUE(Config::validPrefixKeys(QStringLiteral("TAB TAB TAB TAB TAB TAB TAB TAB")));
    EXPECT_FALSE(Config::validPrefixKeys(QStringLiteral("TAB TAB TAB TAB TAB TAB TAB TAB TAB")));
    EXPECT_FALSE(Config::validPrefixKeys(QStringLiteral("NONE")));
    EXPECT_FALSE(Config::validPrefixKeys(QStringLiteral("tab")));
    EXPECT_FALSE(Config::validPrefixKeys(QStringLiteral("TAB,F2")));
    EXPECT_FALSE(Config::validPrefixKeys(QStringLiteral("CTRL+A")));
    Config c;
    EXPECT_TRUE(c.getPrefixKeyCodes().empty());
    ASSERT_TRUE(c.setByKey(QStringLiteral("prefixKeys"), QStringLiteral("TAB ENTER")));
    EXPECT_EQ(c.getPrefixKeyCodes(), (std::vector<int>{key::TAB, key::ENTER}));
    EXPECT_FALSE(c.setByKey(QStringLiteral("prefixKeys"), QStringLiteral("TAB BOGUS")));
    EXPECT_EQ(c.getPrefixKeys(), QStringLiteral("TAB ENTER"));
}
