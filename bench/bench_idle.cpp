// Cost of an open connection that receives nothing: the reading worker polls the port and sleeps 0-4 ms
// between polls. Prints CPU seconds per minute, the share of one core, and wake-ups per second (voluntary
// context switches of the process).
//
//   build/bin/bench_idle [seconds]
#include "vornal/util/ResourceBundle.h"
#include "vornal/worker/WeightWorker.h"

#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialPortLocal.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <string>

#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
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

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

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
    QuietView view;
    worker::WeightWorker w(c, &view);
    ::close(slave);
    w.execute();

    const double cpu0 = cpuSeconds();
    const long wake0 = wakeups();
    QElapsedTimer timer;
    timer.start();
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    QCoreApplication::exec();
    const double elapsed = double(timer.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpu0;
    const long wake = wakeups() - wake0;
    w.cancel();
    while (!w.isDone())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ::close(master);
    std::printf("seconds=%.1f cpu_s_per_min=%.3f share_of_one_core=%.2f%% wakeups_per_s=%.0f\n", elapsed,
                cpu / elapsed * 60.0, cpu / elapsed * 100.0, double(wake) / elapsed);
    return 0;
}
