// A station: two simulated instruments whose lines arrive at the same moment, typed through their own
// connections and one shared typing turn into one real receiving window under X. Every value must
// arrive whole, with its connection's prefix, start key and terminator, in the order the lines reached
// the connections' thread; none lost, none interleaved. VORNAL_STATION_VALUES sets the number of values
// of each instrument (10,000 by default; fewer for the sanitizer builds). Needs an X server with XTEST
// (DISPLAY); skipped without.
#include "Csv.h"
#include "vornal/util/ResourceBundle.h"
#include "vornal/worker/Connection.h"
#include "vornal/worker/Typist.h"

#include "platform/keys/KeyInjector.h"

#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialPortLocal.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <cstdlib>
#include <fstream>
#include <iostream>

using namespace vornal;
using worker::Connection;

namespace {

int valuesPerInstrument() {
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("VORNAL_STATION_VALUES", &ok);
    return ok && n > 0 ? n : 10000;
}

// SCALE and SCAN send a line every millisecond, both at once; FLAKY sends a value
// every 10 ms and is unplugged after 1.5 s and back 0.5 s later, again and again; STEADY sends a value
// every 10 ms.
std::string script(int n) {
    // (What a port sends in its first moment is cleared by the open: the lines begin after 20 ms.)
    const std::string count = std::to_string(n);
    return "port SCALE\nvalue n 1 step=1\nwait 20ms\nrepeat " + count +
           "\n  send \"ST,GS,+  {n} kg\\r\"\n  wait 1ms\nend\n"
           "port SCAN\nvalue b 500000 step=1\nwait 20ms\nrepeat " +
           count +
           "\n  send \"{b}\\r\"\n  wait 1ms\nend\n"
           "port FLAKY\nvalue f 1 step=1\nunplug after 1500ms\nreplug after 500ms\nevery 10ms send \"{f} "
           "kg\\r\"\n"
           "port STEADY\nvalue s 1 step=1\nevery 10ms send \"{s} kg\\r\"\n";
}

class StationTyping : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            return;
        static QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("station.vsim"));
        std::ofstream(path.toStdString()) << script(valuesPerInstrument());
        setenv("VAZ_SIM_SCRIPT", path.toLocal8Bit().constData(), 1);
        Direduva::ProcessProperties::set("VAZ_DRIVER_DIR", VORNAL_LIB_DIR "/drivers/sim");
        Direduva::SerialPortLocal::setDiagnosticOutput(nullptr);
        static int argc = 1;
        static char name[] = "worker_station_x11";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        util::ResourceBundle::setLocale(QStringLiteral("en"));
        std::system("setxkbmap us");
        edit_ = new QPlainTextEdit;
        edit_->resize(600, 300);
        edit_->show();
    }
    static void TearDownTestSuite() {
        delete edit_;
        edit_ = nullptr;
    }
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "no X display (DISPLAY is not set)";
        try {
            platform::createKeyInjector({});
        } catch (const std::exception& e) {
            GTEST_SKIP() << e.what();
        }
        edit_->clear();
        Display* dpy = XOpenDisplay(nullptr);
        if (dpy) {
            XSetInputFocus(dpy, static_cast<Window>(edit_->window()->winId()), RevertToParent, CurrentTime);
            XSync(dpy, False);
            XCloseDisplay(dpy);
        }
        edit_->activateWindow();
        edit_->setFocus();
        spinUntil([] { return false; }, 200);
    }
    template <class F> static bool spinUntil(F done, int ms) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < ms) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
        }
        return done();
    }
    static config::Config configFor(const QString& port, const QString& prefix, const QString& start,
                                    const QString& dataLog = QString()) {
        config::Config c = config::ConfigHelper::Instrument::GENERIC.getDefaultConfig();
        c.setInstrument(config::ConfigHelper::Instrument::GENERIC);
        c.setPort(port);
        EXPECT_TRUE(c.setByKey(QStringLiteral("prefixKeys"), prefix));
        EXPECT_TRUE(c.setByKey(QStringLiteral("startWith"), start));
        EXPECT_TRUE(c.setByKey(QStringLiteral("outputTerminator"), QStringLiteral("ENTER")));
        EXPECT_TRUE(c.setByKey(QStringLiteral("delay"), QStringLiteral("0")));
        c.setDataLogFile(dataLog);
        return c;
    }
    static Connection::Options optionsFor(const std::shared_ptr<worker::Typist>& typist,
                                          const QString& profile) {
        Connection::Options o;
        o.keysRequired = true;
        o.sound = false;
        o.requestServer = false;
        o.hotkey = false;
        o.reconnectPollMs = 20;
        o.typist = typist;
        o.profileName = profile;
        return o;
    }

    static inline QApplication* app_ = nullptr;
    static inline QPlainTextEdit* edit_ = nullptr;
};

// What one connection handed over, and what became of it.
struct Watch {
    QStringList important;
    int typed = 0;
    std::optional<Connection::StopReason> stopped;
    Watch(Connection& c, const QString& who, QStringList* order, const QString& framed) {
        QObject::connect(&c, &Connection::line,
                         [order, framed](const worker::DataLine& l, const worker::DataLine&) {
                             if (!l.getProcessedData().isEmpty())
                                 *order += framed.arg(l.getProcessedData());
                         });
        QObject::connect(&c, &Connection::logEvent, [this, who](const QString& t, bool imp) {
            if (imp)
                important += who + QStringLiteral(": ") + t;
        });
        QObject::connect(&c, &Connection::valueTyped, &c, [this](const QString&, int) { ++typed; });
        QObject::connect(&c, &Connection::stopped,
                         [this](Connection::StopReason r, const QString&) { stopped = r; });
    }
};

} // namespace

TEST_F(StationTyping, TwoInstrumentsAtOnceEveryValueWholeInReceiveOrderWithItsOwnKeys) {
    const int n = valuesPerInstrument();
    auto typist = worker::Typist::create();
    Connection scale, scan;
    QStringList order; // every value as it must reach the window, in the order the lines came
    Watch ws(scale, QStringLiteral("Scale"), &order, QStringLiteral("\t%1\n"));
    Watch wb(scan, QStringLiteral("Scanner"), &order, QStringLiteral("-- %1\n"));
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(scale.start(configFor(QStringLiteral("SCALE"), QStringLiteral("TAB"), QStringLiteral("NONE")),
                            optionsFor(typist, QStringLiteral("Scale"))));
    ASSERT_TRUE(
        scan.start(configFor(QStringLiteral("SCAN"), QStringLiteral("MINUS MINUS"), QStringLiteral("SPACE")),
                   optionsFor(typist, QStringLiteral("Scanner"))));
    const bool all = spinUntil([&] { return ws.typed + wb.typed >= 2 * n; }, 60000 + 20 * n);
    spinUntil([] { return false; }, 300); // the last keys reach the window
    const auto ms = t.elapsed();
    scale.stop();
    scan.stop();
    std::cout << "[ station  ] " << 2 * n << " values typed in " << ms << " ms" << std::endl;
    EXPECT_TRUE(all) << ws.typed << " + " << wb.typed << " of " << 2 * n << " typed";
    EXPECT_TRUE(ws.important.isEmpty() && wb.important.isEmpty())
        << (ws.important + wb.important).join(u'\n').toStdString();
    ASSERT_EQ(order.size(), 2 * n);
    const QString expected = order.join(QString());
    const QString got = edit_->toPlainText();
    if (got != expected) {
        qsizetype at = 0;
        while (at < got.size() && at < expected.size() && got[at] == expected[at])
            ++at;
        FAIL() << "the window differs at character " << at << ": expected \""
               << expected.mid(std::max<qsizetype>(0, at - 40), 80).toStdString() << "\", got \""
               << got.mid(std::max<qsizetype>(0, at - 40), 80).toStdString() << "\"";
    }
    // The lines of both really came mixed, so the turn had work to do.
    int switches = 0;
    for (qsizetype i = 1; i < order.size(); ++i)
        switches += order[i].at(0) != order[i - 1].at(0);
    EXPECT_GT(switches, 2);
}

TEST_F(StationTyping, OneInstrumentUnpluggedAndBackTheOtherKeepsTypingBothDataLogsExact) {
    QTemporaryDir dir;
    auto typist = worker::Typist::create();
    Connection flaky, steady;
    QStringList order; // unused: the window is checked against the rows below
    Watch wf(flaky, QStringLiteral("Flaky"), &order, QStringLiteral("\t%1\n"));
    Watch ws(steady, QStringLiteral("Steady"), &order, QStringLiteral("%1\n"));
    // Every value handed over, in order: its connection (0 flaky, 1 steady) and its text.
    std::vector<std::pair<int, QString>> handed;
    std::vector<QStringList> values(2);
    // Lines the reader still hands over after Stop are shown, but the data log is closed by then: they
    // are left out of the comparison below.
    bool stopping = false;
    for (auto [c, who] : {std::pair{&flaky, 0}, std::pair{&steady, 1}})
        QObject::connect(c, &Connection::line, [&, who](const worker::DataLine& l, const worker::DataLine&) {
            if (l.getProcessedData().isEmpty() || stopping)
                return;
            handed.emplace_back(who, l.getProcessedData());
            values[who] += l.getProcessedData();
        });
    int reconnected = 0, waiting = 0;
    QObject::connect(&flaky, &Connection::reconnected, [&] { ++reconnected; });
    QObject::connect(&flaky, &Connection::waitingForPort, [&] { ++waiting; });
    int steadyDuringGap = 0;
    QObject::connect(&steady, &Connection::line, [&](const worker::DataLine&, const worker::DataLine&) {
        if (flaky.isWaitingForPort())
            ++steadyDuringGap;
    });
    ASSERT_TRUE(flaky.start(configFor(QStringLiteral("FLAKY"), QStringLiteral("TAB"), QStringLiteral("NONE"),
                                      dir.filePath(QStringLiteral("flaky.csv"))),
                            optionsFor(typist, QStringLiteral("Flaky"))));
    ASSERT_TRUE(steady.start(configFor(QStringLiteral("STEADY"), QString(), QStringLiteral("NONE"),
                                       dir.filePath(QStringLiteral("steady.csv"))),
                             optionsFor(typist, QStringLiteral("Steady"))));
    ASSERT_TRUE(spinUntil([&] { return reconnected >= 2; }, 20000)) << waiting << " losses";
    stopping = true;
    flaky.stop();
    steady.stop();
    spinUntil([] { return false; }, 300);
    EXPECT_GE(waiting, 2);
    EXPECT_FALSE(ws.stopped && *ws.stopped != Connection::StopReason::Stopped);
    EXPECT_GT(steadyDuringGap, 20) << "the steady instrument went on while the other was unplugged";
    // Each data log: one row per value of its own instrument, in the order of its lines, its profile in
    // the instrument column and the preset in the last; "typed" but for the values the stop dropped.
    std::vector<int> typedCount(2, 0);
    for (const auto& [who, file, profile] :
         {std::tuple{0, QStringLiteral("flaky.csv"), QStringLiteral("Flaky")},
          std::tuple{1, QStringLiteral("steady.csv"), QStringLiteral("Steady")}}) {
        QFile csv(dir.filePath(file));
        ASSERT_TRUE(csv.open(QIODevice::ReadOnly)) << file.toStdString();
        const auto table = test::parseCsv(csv.readAll());
        ASSERT_TRUE(table.has_value()) << file.toStdString();
        QStringList logged;
        bool dropped = false;
        for (std::size_t i = 1; i < table->size(); ++i) {
            const auto& row = (*table)[i];
            ASSERT_EQ(row.size(), 7u);
            const QString shown = QStringList(row.begin(), row.end()).join(u',');
            EXPECT_EQ(row[2], profile) << shown.toStdString();
            EXPECT_EQ(row[6], QStringLiteral("GENERIC")) << shown.toStdString();
            if (row[5] == QStringLiteral("typed")) {
                EXPECT_FALSE(dropped) << "typed after a dropped value: " << shown.toStdString();
                ++typedCount[who];
            } else {
                EXPECT_EQ(row[5], QStringLiteral("not typed: stopped")) << shown.toStdString();
                dropped = true;
            }
            logged += row[4];
        }
        if (logged != values[who]) {
            qsizetype at = 0;
            while (at < logged.size() && at < values[who].size() && logged[at] == values[who][at])
                ++at;
            ADD_FAILURE() << file.toStdString() << ": " << logged.size() << " rows, " << values[who].size()
                          << " values; first difference at " << at << ": row \""
                          << logged.value(at).toStdString() << "\", value \""
                          << values[who].value(at).toStdString() << "\"";
        }
    }
    // The window got every typed value whole, with its own keys, in the order handed over.
    QString expected;
    std::vector<int> seen(2, 0);
    for (const auto& [who, value] : handed)
        if (seen[who]++ < typedCount[who])
            expected += who == 0 ? QStringLiteral("\t%1\n").arg(value) : QStringLiteral("%1\n").arg(value);
    EXPECT_EQ(edit_->toPlainText(), expected);
}
