// Deliberate races for the thread checker: each racy case must be reported with our suppressions in
// place; the hand-over cases must not be. Run as: tsan_canary CASE
#include "vornal/util/Queued.h"

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

namespace {

int shared = 0;

// Two of our threads write the same variable without a lock.
int plainRace() {
    std::thread a([] { ++shared; });
    std::thread b([] { ++shared; });
    a.join();
    b.join();
    return shared == 0;
}

// Our thread writes while the UI thread reads inside a slot that Qt's event loop calls: the reading
// side runs below Qt's uninstrumented frames, and must still be seen.
int slotRace(QCoreApplication& app) {
    std::atomic<bool> started{false};
    std::thread writer([&] {
        started = true;
        for (int i = 0; i < 100000; ++i)
            shared = i;
    });
    while (!started)
        std::this_thread::yield();
    int seen = 0;
    QTimer::singleShot(0, &app, [&] {
        for (int i = 0; i < 100000; ++i)
            seen += shared;
        app.quit();
    });
    app.exec();
    writer.join();
    return seen == -1;
}

// A queued call, then a write to what the call reads: the queue hands nothing over for that write.
// The call reads only after the write is done (a relaxed flag, which orders nothing for the checker),
// so the two accesses never overlap in time and the report does not depend on scheduling.
int queuedRace(QCoreApplication& app) {
    std::atomic<bool> written{false};
    std::thread worker([&] {
        vornal::util::postQueued(&app, [&] {
            while (!written.load(std::memory_order_relaxed))
                std::this_thread::yield();
            volatile int v = shared;
            (void)v;
            app.quit();
        });
        shared = 1;
        written.store(true, std::memory_order_relaxed);
    });
    app.exec();
    worker.join();
    return 0;
}

// How our threads hand values to the UI thread: captured by value into a queued call.
int queuedHandover(QCoreApplication& app) {
    std::string received;
    std::thread worker([&] {
        std::string line = "ST,GS,+  12.345 kg";
        line += std::to_string(shared);
        vornal::util::postQueued(&app, [&received, line] {
            received = line;
            QCoreApplication::quit();
        });
    });
    app.exec();
    worker.join();
    return received.empty() ? 1 : 0;
}

// A call whose receiver is destroyed before it runs: dropped on the receiver's thread, its captures
// freed there, without a report and without a leak.
int queuedDropped() {
    auto receiver = std::make_unique<QObject>();
    auto token = std::make_shared<std::string>("ST,GS,+  12.345 kg");
    std::thread worker([&receiver, copy = token] {
        vornal::util::postQueued(receiver.get(),
                                 [copy] { std::fprintf(stderr, "ran: %s\n", copy->c_str()); });
    });
    worker.join();
    receiver.reset();
    return token.use_count() == 1 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const char* c = argc > 1 ? argv[1] : "";
    if (!std::strcmp(c, "plain-race"))
        return plainRace();
    if (!std::strcmp(c, "slot-race"))
        return slotRace(app);
    if (!std::strcmp(c, "queued-race"))
        return queuedRace(app);
    if (!std::strcmp(c, "queued-handover"))
        return queuedHandover(app);
    if (!std::strcmp(c, "queued-dropped"))
        return queuedDropped();
    std::fprintf(stderr,
                 "usage: tsan_canary plain-race|slot-race|queued-race|queued-handover|queued-dropped\n");
    return 2;
}
