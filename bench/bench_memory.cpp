// Resident memory of the window: after start-up, then while data lines pass through its per-line
// dispatch (duplicate filter, event log, status) with no connection running. The event log keeps at
// most 100,000 lines and drops the oldest in blocks, so the figure after 200,000 lines should be about
// the one after 100,000. Runs offscreen unless QT_QPA_PLATFORM says otherwise. Each call of the
// dispatch is timed on its own (median and p99 at the end); us_per_line is the whole run per line, the
// event-loop turns between the calls (where the log's view catches up) included.
//
//   build/bin/bench_memory [lines]      (default 300000; checkpoints every 50,000 lines)
#include "EventLog.h"
#include "MessageBoxes.h"
#include "VororaZeZov.h"
#include "VororaZeZovFrame2.h"

#include "vornal/util/ResourceBundle.h"
#include "vornal/worker/DataLine.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

using namespace vornal;

namespace {

// VmRSS of this process in KiB, from /proc/self/status.
long residentKiB() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    const long total = argc > 1 ? std::atol(argv[1]) : 300000;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    util::ResourceBundle::setLocale(QStringLiteral("en"));
    VororaZeZov::setDefaultProperties();
    MessageBoxes::setRecording(true);
    QTemporaryDir dir;
    const long rssBeforeWindow = residentKiB();

    VororaZeZovFrame2::Options o;
    o.storeFile = dir.filePath(QStringLiteral("prefs.txt"));
    o.listPorts = [] {
        VororaZeZovFrame2::PortListing l;
        l.ports = QStringList{QStringLiteral("SIM1")};
        return l;
    };
    o.autoStart = false;
    VororaZeZovFrame2 window(o);
    if (window.fatalExitCode() != 0) {
        std::fprintf(stderr, "bench_memory: the window did not start (%d)\n", window.fatalExitCode());
        return 1;
    }
    // The log is what grows; show it, as a user watching the lines would.
    window.tabs()->setCurrentWidget(window.panel(VororaZeZovFrame2::EventLogTab));
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
    const long rssStart = residentKiB();
    std::printf("rss_before_window_kib=%ld rss_after_start_kib=%ld\n", rssBeforeWindow, rssStart);

    std::map<long, long> rss;
    std::vector<qint64> dispatchNs;
    dispatchNs.reserve(std::size_t(std::max(total, 0L)));
    QElapsedTimer timer;
    timer.start();
    for (long i = 1; i <= total; ++i) {
        const QString value = QString::number(double(i % 100000) / 1000.0, 'f', 3);
        const QString raw = QStringLiteral("ST,GS,+%1 kg\r\n").arg(value, 9);
        const worker::DataLine line(raw, value, qint32(i), worker::DataLine::now(), false);
        const qint64 before = timer.nsecsElapsed();
        window.connectionPresenter()->showLine(line, line);
        dispatchNs.push_back(timer.nsecsElapsed() - before);
        if (i % 1000 == 0)
            QApplication::processEvents();
        if (i % 50000 == 0) {
            QApplication::processEvents();
            rss[i] = residentKiB();
            std::printf("lines=%ld rss_kib=%ld log_lines=%d us_per_line=%.1f\n", i, rss[i],
                        window.eventLog()->lineCount(), double(timer.nsecsElapsed()) / 1e3 / double(i));
            std::fflush(stdout);
        }
    }
    if (!dispatchNs.empty()) {
        std::sort(dispatchNs.begin(), dispatchNs.end());
        const auto at = [&](double q) {
            return double(dispatchNs[std::size_t(q * double(dispatchNs.size() - 1))]) / 1e3;
        };
        std::printf("dispatch_median_us=%.2f dispatch_p99_us=%.2f dispatch_max_us=%.1f\n", at(0.5), at(0.99),
                    at(1.0));
    }
    if (rss.count(100000) && rss.count(200000)) {
        const long a = rss[100000];
        const long b = rss[200000];
        const long c = rss.count(300000) ? rss[300000] : -1;
        std::printf("summary: start=%.1f MiB after_100k=%.1f MiB after_200k=%.1f MiB after_300k=%.1f MiB "
                    "growth_100k_to_200k=%+.1f%% growth_200k_to_300k=%+.1f%%\n",
                    double(rssStart) / 1024, double(a) / 1024, double(b) / 1024, double(c) / 1024,
                    100.0 * double(b - a) / double(a), c < 0 ? 0.0 : 100.0 * double(c - b) / double(b));
        // Bounded: once the log is full (it trims in blocks, and the allocator settles within another
        // half of it), further lines add nothing; the second 100,000 lines may add at most a fifth.
        if (b > a + a / 5)
            return 1;
        return c < 0 || c <= b + b / 20 ? 0 : 1;
    }
    return 0;
}
