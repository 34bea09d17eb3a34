// Reading capacity through a pseudo-terminal and the termios driver: an instrument writes scale lines as
// fast as the pty takes them, the reading worker (byte-at-a-time loop, line pipeline, ordered publication)
// reads them. Prints lines/s, the ratio to the line rate of 921,600 baud, and CPU time per line.
//
//   build/bin/bench_pty [lines]
#include "PtyBench.h"

#include "vornal/worker/WeightWorker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include <unistd.h>

using namespace vornal;

namespace {

class CountingView : public worker::WeightWorkerView {
public:
    void logEvent(const QString&) override {}
    void logImportantEvent(const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    void setConnectedInGUI(bool) override {}
    void update(const worker::DataLine& line) override {
        if (line.getProcessedData() != QLatin1String("12.345"))
            ++wrong;
        ++lines;
    }
    std::atomic<long> lines{0};
    long wrong = 0;
};

} // namespace

int main(int argc, char** argv) {
    const long total = argc > 1 ? std::atol(argv[1]) : 20000;
    QCoreApplication app(argc, argv);
    bench::useTermiosDriver();
    const auto pty = bench::openRawPty();
    if (!pty)
        return 1;
    const int master = pty->master;
    const int slave = pty->slave;
    config::Config c = bench::genericOn(pty->name);
    CountingView view;
    worker::WeightWorker w(c, &view);
    ::close(slave);

    const std::string line = "ST,GS,+  12.345 kg\r"; // 19 bytes
    std::string block;
    for (int i = 0; i < 100; ++i)
        block += line;

    QElapsedTimer timer;
    const double cpu0 = bench::cpuSeconds();
    timer.start();
    w.execute();
    std::thread writer([&] {
        for (long sent = 0; sent < total; sent += 100) {
            const char* p = block.data();
            size_t left = block.size();
            while (left > 0) {
                const ssize_t n = ::write(master, p, left);
                if (n < 0)
                    return;
                p += n;
                left -= size_t(n);
            }
        }
    });
    // The event loop sleeps until lines are delivered; a timer checks for the end.
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (view.lines >= total || timer.elapsed() > 120000)
            QCoreApplication::quit();
    });
    check.start(1);
    QCoreApplication::exec();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const double cpu = bench::cpuSeconds() - cpu0;
    writer.join();
    w.cancel();
    while (!w.isDone())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ::close(master);

    const double rate = double(view.lines) / seconds;
    const double baudLines = 921600.0 / 10.0 / double(line.size()); // 8N1: 10 bits per byte
    std::printf(
        "lines=%ld wrong=%ld seconds=%.3f lines_per_s=%.0f ratio_to_921600_baud=%.2f cpu_us_per_line=%.2f\n",
        view.lines.load(), view.wrong, seconds, rate, rate / baudLines, cpu * 1e6 / double(view.lines));
    return view.lines == total && view.wrong == 0 ? 0 : 1;
}
