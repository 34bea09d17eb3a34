// Cost of an open connection that receives nothing: the reading worker waits in the driver (poll() on the
// port) until bytes arrive. Prints CPU seconds per minute, the share of one core, and wake-ups per second
// (voluntary context switches of the process). Target: at most 5 wake-ups/s and 0.05 % of a core.
//
//   build/bin/bench_idle [seconds]
#include "PtyBench.h"

#include "vornal/worker/WeightWorker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <string>

#include <unistd.h>

using namespace vornal;

namespace {

class QuietView : public worker::WeightWorkerView {
public:
    void logEvent(const QString&) override {}
    void logImportantEvent(const QString&) override {}
    void setConnectedInGUI(bool) override {}
    void update(const worker::DataLine&) override {}
};

// Voluntary context switches of every thread of the process.
long wakeups() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_nvcsw;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    QCoreApplication app(argc, argv);
    bench::useTermiosDriver();
    const auto pty = bench::openRawPty();
    if (!pty)
        return 1;
    const int master = pty->master;
    const int slave = pty->slave;
    config::Config c = bench::genericOn(pty->name);
    QuietView view;
    worker::WeightWorker w(c, &view);
    ::close(slave);
    w.execute();

    const double cpu0 = bench::cpuSeconds();
    const long wake0 = wakeups();
    QElapsedTimer timer;
    timer.start();
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    QCoreApplication::exec();
    const double elapsed = double(timer.nsecsElapsed()) / 1e9;
    const double cpu = bench::cpuSeconds() - cpu0;
    const long wake = wakeups() - wake0;
    w.cancel();
    while (!w.isDone())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ::close(master);
    std::printf("seconds=%.1f cpu_s_per_min=%.3f share_of_one_core=%.2f%% wakeups_per_s=%.0f\n", elapsed,
                cpu / elapsed * 60.0, cpu / elapsed * 100.0, double(wake) / elapsed);
    return 0;
}
