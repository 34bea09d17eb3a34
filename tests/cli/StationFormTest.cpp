// `vornal-cli run --all` at a station under X: a barcode reader (terminator TAB) and a balance
// (terminator ENTER) typing into a receiving form of this process with two fields. Every pair must
// land in its row: the barcode in the first field, the weight in the second. VORNAL_STATION_PAIRS sets
// the number of pairs (1,000 by default). Needs an X server with XTEST (DISPLAY); skipped without.
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

int pairs() {
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("VORNAL_STATION_PAIRS", &ok);
    return ok && n > 0 ? n : 1000;
}

// A form of two fields; Enter in the second records the row and begins the next one in the first.
class Form : public QWidget {
public:
    Form() {
        auto* layout = new QVBoxLayout(this);
        barcode = new QLineEdit;
        weight = new QLineEdit;
        barcode->setObjectName(QStringLiteral("barcode"));
        weight->setObjectName(QStringLiteral("weight"));
        layout->addWidget(barcode);
        layout->addWidget(weight);
        // Enter in the first field would be a barcode without its weight: recorded as a broken row.
        QObject::connect(barcode, &QLineEdit::returnPressed, [this] {
            rows.push_back({barcode->text(), QStringLiteral("<Enter in the barcode field>")});
            barcode->clear();
        });
        QObject::connect(weight, &QLineEdit::returnPressed, [this] {
            rows.push_back({barcode->text(), weight->text()});
            barcode->clear();
            weight->clear();
            barcode->setFocus();
        });
    }
    QLineEdit* barcode;
    QLineEdit* weight;
    std::vector<std::pair<QString, QString>> rows;
};

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
    const int n = pairs();
    // The scanner reads a code every 80 ms; the balance gives its weight 40 ms after each code (from
    // its own open, a few milliseconds after the scanner's).
    QTemporaryDir dir;
    const QString scriptPath = dir.filePath(QStringLiteral("station.vsim"));
    std::ofstream(scriptPath.toStdString()) << "port SCANNER\nvalue b 4006381000001 step=1\nrepeat " << n
                                            << "\n  wait 80ms\n  send \"{b}\\r\"\nend\n"
                                            << "port BALANCE\nvalue w 10.000 step=0.001\nwait 40ms\nrepeat "
                                            << n << "\n  wait 80ms\n  send \"ST,GS,+  {w} g\\r\"\nend\n";
    const QString store = dir.filePath(QStringLiteral("prefs.txt"));
    const QStringList common{"--store", store};
    for (const QStringList& set : {QStringList{"--profile", "Scanner", "port=SCANNER", "instrument=BARCODE",
                                               "outputTerminator=TAB", "inputTerminator=13", "delay=0"},
                                   QStringList{"--profile", "Balance", "port=BALANCE", "instrument=GENERIC",
                                               "outputTerminator=ENTER", "inputTerminator=13", "delay=0"}}) {
        const auto r = test::runCli(common + QStringList{"set"} + set);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    }
    Form form;
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
