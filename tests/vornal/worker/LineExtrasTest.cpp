// What a connection does per line besides typing, on its own: data-log rows that wait for their value's
// typing result and are written in line order, a log kept open for a value finished after the end, the
// stable-reading verdicts, and requests by call and by hotkey.
#include "Csv.h"
#include "support/WaitFor.h"

#include "vornal/util/ResourceBundle.h"
#include "vornal/worker/DataLine.h"
#include "vornal/worker/LineExtras.h"

#include <platform/hotkey/fake/FakeHotkey.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <stdexcept>

using namespace vornal;
using config::ConfigHelper;
using test::waitFor;
using worker::DataLine;
using worker::LineExtras;
using worker::StabilityFilter;

namespace {

class Environment : public ::testing::Environment {
public:
    void SetUp() override {
        util::ResourceBundle::setLocale(QStringLiteral("en"));
        static int argc = 1;
        static char arg0[] = "worker_line_extras";
        static char* argv[] = {arg0, nullptr};
        app_ = new QCoreApplication(argc, argv);
    }
    void TearDown() override { delete app_; }

private:
    QCoreApplication* app_ = nullptr;
};
const auto* const env = ::testing::AddGlobalTestEnvironment(new Environment);

DataLine lineOf(const QString& raw, const QString& value) {
    return DataLine(raw, value, 1, DataLine::now(), false);
}

// The value and result columns of the data rows.
std::vector<std::pair<QString, QString>> rowsOf(const QString& path) {
    std::vector<std::pair<QString, QString>> out;
    const auto table = test::parseCsv(test::readAll(path));
    if (!table)
        return out;
    for (std::size_t i = 1; i < table->size(); ++i)
        out.emplace_back((*table)[i].at(4), (*table)[i].at(5));
    return out;
}

struct Events {
    QStringList texts;
    QStringList important;
    void attach(LineExtras& e) {
        QObject::connect(&e, &LineExtras::logEvent, [this](const QString& text, bool imp) {
            texts += text;
            if (imp)
                important += text;
        });
    }
};

LineExtras::Options quiet() {
    LineExtras::Options o;
    o.requestServer = false;
    o.hotkey = false;
    return o;
}

} // namespace

TEST(LineExtras, RowsWaitForTheirValueAndKeepTheLineOrder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("data.csv"));
    config::Config c;
    c.setPort(QStringLiteral("/dev/ttyUSB0"));
    c.setDataLogFile(path);
    LineExtras extras;
    Events events;
    events.attach(extras);
    extras.start(c, quiet(), [](const QByteArray&) {});
    ASSERT_TRUE(extras.logging());
    EXPECT_TRUE(events.texts.join(u'\n').contains(QStringLiteral("data.csv"))) << "the log is named";

    extras.addRow(0, lineOf(QStringLiteral("no digits\r\n"), QString()), QStringLiteral("no value"));
    extras.addRow(7, lineOf(QStringLiteral("12.5 g\r\n"), QStringLiteral("12.5")), QString());
    extras.addRow(0, lineOf(QStringLiteral("12.5 g\r\n"), QStringLiteral("12.5")),
                  QStringLiteral("duplicate"));
    extras.addRow(8, lineOf(QStringLiteral("13.0 g\r\n"), QStringLiteral("13.0")), QString());
    EXPECT_EQ(rowsOf(path).size(), 1u) << "rows behind a value being typed wait";
    EXPECT_TRUE(extras.rowsWaiting());

    // Results may come in any order; rows are written in line order once known.
    extras.settle(8, QStringLiteral("typed"));
    EXPECT_EQ(rowsOf(path).size(), 1u);
    extras.settle(99, QStringLiteral("typed")); // not a row of this log: nothing changes
    EXPECT_EQ(rowsOf(path).size(), 1u);
    extras.settle(7, QStringLiteral("not typed: cut"));
    const auto rows = rowsOf(path);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], std::make_pair(QString(), QStringLiteral("no value")));
    EXPECT_EQ(rows[1], std::make_pair(QStringLiteral("12.5"), QStringLiteral("not typed: cut")));
    EXPECT_EQ(rows[2], std::make_pair(QStringLiteral("12.5"), QStringLiteral("duplicate")));
    EXPECT_EQ(rows[3], std::make_pair(QStringLiteral("13.0"), QStringLiteral("typed")));
    EXPECT_FALSE(extras.rowsWaiting());
    EXPECT_TRUE(events.important.isEmpty()) << events.important.join(u'\n').toStdString();
}

TEST(LineExtras, TheInstrumentColumnNamesTheProfileAndThePresetColumnStays) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const QString& profile : {QStringLiteral("Balance, left"), QString()}) {
        const QString path =
            dir.filePath(profile.isEmpty() ? QStringLiteral("plain.csv") : QStringLiteral("p.csv"));
        config::Config c;
        c.setPort(QStringLiteral("/dev/ttyUSB0"));
        c.setInstrument(config::ConfigHelper::Instrument::GENERIC);
        c.setDataLogFile(path);
        LineExtras extras;
        LineExtras::Options o = quiet();
        o.profileName = profile;
        extras.start(c, o, [](const QByteArray&) {});
        extras.addRow(0, lineOf(QStringLiteral("12.5 g\r\n"), QStringLiteral("12.5")),
                      QStringLiteral("typed"));
        extras.stop();
        const auto table = test::parseCsv(test::readAll(path));
        ASSERT_TRUE(table.has_value());
        ASSERT_EQ(table->size(), 2u);
        const auto& row = (*table)[1];
        EXPECT_EQ(row.at(2),
                  profile.isEmpty() ? config::ConfigHelper::Instrument::GENERIC.toPlainString() : profile);
        EXPECT_EQ(row.at(6), QStringLiteral("GENERIC"));
    }
}

// The end of the connection while a value is being finished: its row still reaches the log, which
// takes no new rows; without keeping, the waiting rows are settled as not typed.
TEST(LineExtras, AKeptLogTakesTheRowOfAValueFinishedAfterTheEnd) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data.csv"));
    config::Config c;
    c.setDataLogFile(path);
    LineExtras extras;
    extras.start(c, quiet(), [](const QByteArray&) {});
    extras.addRow(3, lineOf(QStringLiteral("1.0\r\n"), QStringLiteral("1.0")), QString());
    extras.stop(true);
    EXPECT_FALSE(extras.logging());
    extras.settle(3, QStringLiteral("typed"));
    ASSERT_EQ(rowsOf(path).size(), 1u);
    EXPECT_EQ(rowsOf(path)[0].second, QStringLiteral("typed"));
    extras.closeLog();

    extras.clearRows();
    extras.start(c, quiet(), [](const QByteArray&) {});
    extras.addRow(4, lineOf(QStringLiteral("2.0\r\n"), QStringLiteral("2.0")), QString());
    extras.addRow(0, lineOf(QStringLiteral("x\r\n"), QString()), QStringLiteral("no value"));
    extras.settleAll(QStringLiteral("not typed: stopped"));
    extras.stop();
    const auto rows = rowsOf(path);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1], std::make_pair(QStringLiteral("2.0"), QStringLiteral("not typed: stopped")));
    EXPECT_EQ(rows[2].second, QStringLiteral("no value"));
}

TEST(LineExtras, StableReadingVerdictsFollowThePresetsRule) {
    LineExtras plain;
    plain.start(config::Config(), quiet(), [](const QByteArray&) {});
    DataLine withValue = lineOf(QStringLiteral("US,+00012.30 kg\r\n"), QStringLiteral("12.30"));
    DataLine without = lineOf(QStringLiteral("??\r\n"), QString());
    EXPECT_EQ(plain.judge(withValue), StabilityFilter::Verdict::Pass) << "no filter: every value";
    EXPECT_EQ(plain.judge(without), StabilityFilter::Verdict::NoValue);

    config::Config c;
    c.setInstrument(ConfigHelper::Instrument::AND);
    c.setTypeOnlyStable(true);
    LineExtras stable;
    Events events;
    events.attach(stable);
    stable.start(c, quiet(), [](const QByteArray&) {});
    DataLine unstable = lineOf(QStringLiteral("US,+00012.30 kg\r\n"), QStringLiteral("12.30"));
    EXPECT_EQ(stable.judge(unstable), StabilityFilter::Verdict::Unstable);
    EXPECT_FALSE(unstable.hasValue()) << "held back: the value is emptied";
    DataLine steady = lineOf(QStringLiteral("ST,+00012.34 kg\r\n"), QStringLiteral("12.34"));
    EXPECT_EQ(stable.judge(steady), StabilityFilter::Verdict::Pass);
    EXPECT_TRUE(steady.hasValue());
    EXPECT_FALSE(events.texts.isEmpty());

    // A preset without a stability rule: said, and every value passes.
    config::Config none;
    none.setInstrument(ConfigHelper::Instrument::KERN_572);
    none.setTypeOnlyStable(true);
    LineExtras noRule;
    Events noRuleEvents;
    noRuleEvents.attach(noRule);
    noRule.start(none, quiet(), [](const QByteArray&) {});
    EXPECT_EQ(noRuleEvents.important.size(), 1);
    DataLine any = lineOf(QStringLiteral("12.5 g\r\n"), QStringLiteral("12.5"));
    EXPECT_EQ(noRule.judge(any), StabilityFilter::Verdict::Pass);
}

TEST(LineExtras, RequestsByCallAndHotkeyWriteTheCommandOrSayWhyNot) {
    config::Config c;
    c.setRequestCommand(QStringLiteral("Q<13><10>"));
    c.setRequestHotkey(QStringLiteral("Ctrl+Alt+R"));
    platform::FakeHotkey* fake = nullptr;
    LineExtras::Options o = quiet();
    o.hotkey = true;
    o.hotkeyBackend = [&fake](std::string*) {
        auto h = std::make_unique<platform::FakeHotkey>();
        fake = h.get();
        return h;
    };
    QList<QByteArray> written;
    bool open = true;
    LineExtras extras;
    Events events;
    events.attach(extras);
    int sent = 0, pressed = 0;
    QObject::connect(&extras, &LineExtras::requestSent, [&] { ++sent; });
    QObject::connect(&extras, &LineExtras::hotkeyPressed, [&] { ++pressed; });
    extras.start(c, o, [&](const QByteArray& bytes) {
        if (!open)
            throw std::runtime_error("the port is not open");
        written += bytes;
    });
    ASSERT_TRUE(extras.canRequest());
    EXPECT_TRUE(extras.request());
    EXPECT_EQ(written, QList<QByteArray>{QByteArrayLiteral("Q\r\n")});
    EXPECT_EQ(sent, 1);

    // A failed write is reported, not counted as sent.
    open = false;
    EXPECT_FALSE(extras.request());
    EXPECT_EQ(sent, 1);
    EXPECT_TRUE(events.important.join(u'\n').contains(QStringLiteral("the port is not open")))
        << events.important.join(u'\n').toStdString();

    // The hotkey press arrives on the extras' thread.
    ASSERT_NE(fake, nullptr);
    ASSERT_TRUE(fake->grabbed());
    EXPECT_TRUE(fake->press());
    EXPECT_TRUE(waitFor([&] { return pressed == 1; }, 2000));
    extras.stop();
    EXPECT_FALSE(extras.canRequest());
    EXPECT_FALSE(extras.request());

    // Without a command nothing can be asked for, and no hotkey is taken.
    LineExtras silent;
    fake = nullptr;
    silent.start(config::Config(), o, [](const QByteArray&) {});
    EXPECT_FALSE(silent.canRequest());
    EXPECT_FALSE(silent.request());
    EXPECT_EQ(fake, nullptr);
}
