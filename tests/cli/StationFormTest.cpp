// `vornal-cli run --all` at a station under X: a barcode reader (terminator TAB) and a balance
// (terminator ENTER) typing into a receiving form of this process with two fields. Every pair must
// land in its row: the barcode in the first field, the weight in the second. VORNAL_STATION_PAIRS sets
// the number of pairs (1,000 by default). Needs an X server with XTEST (DISPLAY); skipped without.
#include "support/StationForm.h"
#include "support/Cli.h"

#include "platform/keys/KeyInjector.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QThread>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <cstdlib>
#include <fstream>
#include <iostream>

using namespace vornal;

namespace {

template <class F> bool spinUntil(F done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return done();
}

} // namespace

TEST(StationForm, BarcodeReaderAndBalanceFillEachRowOfAFormThroughRunAll) {
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "no X display (DISPLAY is not set)";
    try {
        platform::createKeyInjector({});
    } catch (const std::exception& e) {
        GTEST_SKIP() << e.what();
    }
    static int argc = 1;
    static char name[] = "cli_station_x11";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    std::system("setxkbmap us");
    const int n = test::stationPairs();
    QTemporaryDir dir;
    const QString scriptPath = dir.filePath(QStringLiteral("station.vsim"));
    std::ofstream(scriptPath.toStdString()) << test::stationScript(n);
    const QString store = dir.filePath(QStringLiteral("prefs.txt"));
    const QStringList common{"--store", store};
    for (const QStringList& set : {QStringList{"port=SCANNER", "instrument=BARCODE", "outputTerminator=TAB",
                                               "inputTerminator=13", "delay=0"},
                                   QStringList{"--profile", "Balance", "port=BALANCE", "instrument=GENERIC",
                                               "outputTerminator=ENTER", "inputTerminator=13", "delay=0"}}) {
        const auto r = test::runCli(common + QStringList{"set"} + set);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    }
    // The first profile is the settings record: named "Scanner".
    const auto renamed = test::runCli(common + QStringList{"profiles", "rename", "Instrument 1", "Scanner"});
    ASSERT_EQ(renamed.exitCode, 0) << renamed.err.toStdString();
    test::StationForm form;
    form.show();
    spinUntil([] { return false; }, 200);
    Display* dpy = XOpenDisplay(nullptr);
    ASSERT_NE(dpy, nullptr);
    XSetInputFocus(dpy, static_cast<Window>(form.winId()), RevertToParent, CurrentTime);
    XSync(dpy, False);
    XCloseDisplay(dpy);
    form.activateWindow();
    form.barcode->setFocus();
    spinUntil([] { return false; }, 200);

    QProcess run;
    QElapsedTimer t;
    t.start();
    test::startCli(run, common + QStringList{"--simulate", scriptPath, "run", "--all", "--no-reconnect"});
    const bool all = spinUntil([&] { return static_cast<int>(form.rows.size()) >= n; }, 30000 + 100 * n);
    const auto ms = t.elapsed();
    run.terminate();
    spinUntil([&] { return run.state() == QProcess::NotRunning; }, 15000);
    const QString err = QString::fromUtf8(run.readAllStandardError());
    std::cout << "[ station  ] " << form.rows.size() << " rows in " << ms << " ms" << std::endl;
    ASSERT_TRUE(all) << form.rows.size() << " of " << n << " rows\n" << err.toStdString();
    for (int i = 0; i < n; ++i) {
        const QString code = QString::number(4006381000001LL + i);
        const QString weight = QString::number(10.0 + 0.001 * i, 'f', 3);
        ASSERT_EQ(form.rows[i].first, code) << "row " << i << "\n" << err.toStdString();
        ASSERT_EQ(form.rows[i].second, weight) << "row " << i;
    }
    EXPECT_FALSE(err.contains(QStringLiteral("! "))) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("[Scanner]"))) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("[Balance]"))) << err.toStdString();
}
