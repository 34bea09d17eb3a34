// Latency of one line, from its terminator byte written on the far side of a pseudo-terminal to the first
// key press of the typed value: reading worker on the pty (termios driver) -> per-line dispatch on the
// event-loop thread -> Keybot's queue -> key injector. Two backends:
//   recording  the recording injector, timestamped at the first press (in-process, no display);
//   x11        the XTest injector on $DISPLAY, timestamped when the press has been sent (flushed).
// Prints median, 99th percentile and maximum, also split into the two hops (terminator -> dispatch,
// dispatch -> press). Transport pty (default) or tcp: the line comes over a TCP connection on the loopback
// interface to a network port (tcp://127.0.0.1:PORT) instead of a pty.
//
//   build/bin/bench_latency [recording|x11] [lines] [pty|tcp]     (default: recording, 1000 lines, pty)
#include "PtyBench.h"

#include "vornal/worker/KeyMaps.h"
#include "vornal/worker/Keybot.h"
#include "vornal/worker/WeightWorker.h"

#include "platform/keys/fake/RecordingInjector.h"
#if defined(VORNAL_KEYS_X11)
#include "platform/keys/x11/X11Injector.h"
#endif

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace vornal;
using Clock = std::chrono::steady_clock;

namespace {

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// Passes everything to the real backend and notes when the first press after arm() has been sent.
class StampingInjector : public platform::KeyInjector {
public:
    explicit StampingInjector(std::unique_ptr<platform::KeyInjector> inner) : inner_(std::move(inner)) {}

    void arm() {
        pressed_ = 0;
        armed_ = true;
    }
    std::int64_t pressedAt() const { return pressed_; }

    bool pause(int ms, std::stop_token stop) override { return inner_->pause(ms, stop); }
    std::optional<bool> capsLockOn() override { return inner_->capsLockOn(); }
    std::string name() const override { return inner_->name(); }

protected:
    void pressKey(int code) override {
        inner_->keyPress(code);
        if (armed_.exchange(false)) {
            inner_->pause(0, std::stop_token()); // delivers the event to the X server
            pressed_ = nowNs();
        }
    }
    void releaseKey(int code) override { inner_->keyRelease(code); }

private:
    std::unique_ptr<platform::KeyInjector> inner_;
    std::atomic<bool> armed_{false};
    std::atomic<std::int64_t> pressed_{0};
};

// What the window does per line, reduced to the hand-over to the keystroke queue.
class DispatchView : public worker::WeightWorkerView {
public:
    void logEvent(const QString&) override {}
    void logImportantEvent(const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    void setConnectedInGUI(bool) override {}
    void update(const worker::DataLine& line) override {
        dispatched = nowNs();
        if (keybot)
            keybot->add(line.getProcessedData());
        ++lines;
    }
    worker::Keybot* keybot = nullptr;
    std::atomic<std::int64_t> dispatched{0};
    std::atomic<long> lines{0};
};

struct Summary {
    double median, p99, max;
};

Summary summarize(std::vector<double> v) {
    if (v.empty())
        return {0, 0, 0};
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[std::min(v.size() - 1, size_t(q * double(v.size() - 1) + 0.5))]; };
    return {at(0.5), at(0.99), v.back()};
}

} // namespace

int main(int argc, char** argv) {
    const std::string backend = argc > 1 ? argv[1] : "recording";
    const long total = argc > 2 ? std::atol(argv[2]) : 1000;
    const std::string transport = argc > 3 ? argv[3] : "pty";
    if ((backend != "recording" && backend != "x11") || total <= 0 ||
        (transport != "pty" && transport != "tcp")) {
        std::fprintf(stderr, "usage: bench_latency [recording|x11] [lines] [pty|tcp]\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    bench::useTermiosDriver();
    int master = -1, slave = -1, listener = -1;
    QString portName;
    if (transport == "tcp") {
        // The instrument's side listens on the loopback interface; the worker connects to it.
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listener, 1) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            std::fprintf(stderr, "bench_latency: cannot listen on 127.0.0.1\n");
            return 1;
        }
        portName = QStringLiteral("tcp://127.0.0.1:%1").arg(ntohs(a.sin_port));
    } else {
        const auto pty = bench::openRawPty();
        if (!pty)
            return 1;
        master = pty->master;
        slave = pty->slave;
        portName = pty->name;
    }
    config::Config c = bench::genericOn(portName);
    c.setOutputTerminator(config::ConfigHelper::OutputTerminator::ENTER);
    c.setDelay(QStringLiteral("0")); // the first press does not depend on the delay; the run stays short

    std::unique_ptr<platform::KeyInjector> inner;
    if (backend == "recording") {
        inner = std::make_unique<platform::RecordingInjector>();
    } else {
#if defined(VORNAL_KEYS_X11)
        std::string why;
        inner = platform::X11Injector::open(
            worker::getKeymap(c.getKeyboardType(), config::ConfigHelper::KeyMapType::ALPHANUMERIC_COMPLETE),
            &why);
        if (!inner) {
            std::fprintf(stderr, "bench_latency: no X11 key injection: %s\n", why.c_str());
            return 2;
        }
#else
        std::fprintf(stderr, "bench_latency: this build has no X11 key injection\n");
        return 2;
#endif
    }
    auto stamping = std::make_unique<StampingInjector>(std::move(inner));
    StampingInjector* stamp = stamping.get();
    const QString injectorName = QString::fromStdString(stamp->name());

    DispatchView view;
    auto keybot = worker::Keybot::fromConfig(c, &view, std::move(stamping));
    view.keybot = keybot.get();
    keybot->start();
    worker::WeightWorker w(c, &view);
    if (listener >= 0) {
        master = ::accept(listener, nullptr, nullptr);
        ::close(listener);
        const int on = 1;
        ::setsockopt(master, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on); // each byte goes out at once
    } else {
        ::close(slave);
    }
    w.execute();

    const std::string body = "ST,GS,+  12.345 kg";
    std::vector<double> total_ms, hop_ms, queue_ms;
    long timeouts = 0;
    std::atomic<bool> finished{false};
    std::thread sender([&] {
        std::mt19937 rng(12345);
        std::uniform_int_distribution<int> gap(1000, 6000); // microseconds: the worker is idle meanwhile
        for (long i = 0; i < total; ++i) {
            if (::write(master, body.data(), body.size()) != ssize_t(body.size()))
                break;
            std::this_thread::sleep_for(std::chrono::microseconds(gap(rng)));
            stamp->arm();
            view.dispatched = 0;
            const std::int64_t t0 = nowNs();
            if (::write(master, "\r", 1) != 1)
                break;
            const auto deadline = Clock::now() + std::chrono::seconds(2);
            while (stamp->pressedAt() == 0 && Clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::microseconds(20));
            const std::int64_t t2 = stamp->pressedAt();
            const std::int64_t t1 = view.dispatched;
            if (t2 == 0 || t1 == 0) {
                ++timeouts;
            } else {
                total_ms.push_back(double(t2 - t0) / 1e6);
                hop_ms.push_back(double(t1 - t0) / 1e6);
                queue_ms.push_back(double(t2 - t1) / 1e6);
            }
            keybot->waitUntilIdle(2000);
        }
        finished = true;
    });

    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (finished)
            QCoreApplication::quit();
    });
    check.start(20);
    QCoreApplication::exec();
    sender.join();
    w.cancel();
    while (!w.isDone())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    keybot->stop();
    ::close(master);

    const Summary t = summarize(total_ms);
    const Summary h = summarize(hop_ms);
    const Summary q = summarize(queue_ms);
    std::printf("backend=%s transport=%s injector=\"%s\" lines=%zu timeouts=%ld\n", backend.c_str(),
                transport.c_str(), qPrintable(injectorName), total_ms.size(), timeouts);
    std::printf("latency_ms median=%.3f p99=%.3f max=%.3f\n", t.median, t.p99, t.max);
    std::printf("terminator_to_dispatch_ms median=%.3f p99=%.3f max=%.3f\n", h.median, h.p99, h.max);
    std::printf("dispatch_to_press_ms median=%.3f p99=%.3f max=%.3f\n", q.median, q.p99, q.max);
    std::printf("target median<=0.3 p99<=1: %s\n", t.median <= 0.3 && t.p99 <= 1.0 ? "met" : "MISSED");
    return timeouts == 0 && long(total_ms.size()) == total ? 0 : 1;
}
