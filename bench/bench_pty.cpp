// Reading capacity through a pseudo-terminal and the termios driver: an instrument writes scale lines as
// fast as the pty takes them, the reading worker (byte-at-a-time loop, line pipeline, ordered publication)
// reads them. Prints lines/s, the ratio to the line rate of 921,600 baud, and CPU time per line.
//
//   build/bin/bench_pty [lines]
#include "vornal/util/ResourceBundle.h"
#include "vornal/worker/WeightWorker.h"

#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialPortLocal.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
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

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    const long total = argc > 1 ? std::atol(argv[1]) : 20000;
    QCoreApplication app(argc, argv);
    util::ResourceBundle::setLocale(QStringLiteral("en"));
    const QString libDir = QCoreApplication::applicationDirPath() + QStringLiteral("/../lib/drivers/posix");
    Direduva::ProcessProperties::set("VAZ_DRIVER_DIR", libDir.toStdString());
    Direduva::SerialPortLocal::setDiagnosticOutput(nullptr);

    int master = -1;
    int slave = -1;
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    config::Config c = config::ConfigHelper::Instrument::GENERIC.getDefaultConfig();
    c.setInstrument(config::ConfigHelper::Instrument::GENERIC);
    c.setPort(QString::fromLatin1(name));
    CountingView view;
    worker::WeightWorker w(c, &view);
    ::close(slave);

    const std::string line = "ST,GS,+  12.345 kg\r"; // 19 bytes
    std::string block;
    for (int i = 0; i < 100; ++i)
        block += line;

    QElapsedTimer timer;
    const double cpu0 = cpuSeconds();
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
    const double cpu = cpuSeconds() - cpu0;
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
