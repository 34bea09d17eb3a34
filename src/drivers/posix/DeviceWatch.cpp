// Device arrival and removal notices: an inotify watch on /dev (Linux) on its own thread.
#include "PosixDriver.h"

#include <DriverEntry.h>

#include <mutex>
#include <string>
#include <thread>

#if defined(__linux__)
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>
#endif

namespace {

struct Watch {
    std::mutex m; // serialises register/unregister
    std::thread thread;
    int inotifyFd = -1;
    int stopPipe[2] = {-1, -1};
    VazDeviceNotificationFn fn = nullptr;
    void* ctx = nullptr;
    ~Watch();
};

Watch& watch() {
    static Watch w;
    return w;
}

bool isSerialName(const std::string& n) {
    return n.rfind("tty", 0) == 0 || n.rfind("rfcomm", 0) == 0 || n.rfind("cu.", 0) == 0;
}

#if defined(__linux__)
void run(int ifd, int stopFd, VazDeviceNotificationFn fn, void* ctx) {
    alignas(struct inotify_event) char buf[4096];
    for (;;) {
        pollfd p[2] = {{ifd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (p[1].revents)
            return;
        if (!(p[0].revents & POLLIN))
            continue;
        const ssize_t n = read(ifd, buf, sizeof buf);
        if (n <= 0)
            continue;
        for (ssize_t off = 0; off < n;) {
            const auto* ev = reinterpret_cast<const struct inotify_event*>(buf + off);
            off += ssize_t(sizeof(struct inotify_event) + ev->len);
            if (ev->len == 0)
                continue;
            const std::string name = ev->name;
            if (!isSerialName(name))
                continue;
            const int32_t kind = (ev->mask & IN_CREATE) ? VAZ_DEVICE_ARRIVAL : VAZ_DEVICE_REMOVAL;
            fn(ctx, kind, ("/dev/" + name).c_str());
        }
    }
}

void stopLocked(Watch& w) {
    if (w.thread.joinable()) {
        const char c = 'x';
        (void)!write(w.stopPipe[1], &c, 1);
        if (w.thread.get_id() == std::this_thread::get_id())
            w.thread.detach(); // called from the callback itself: the thread ends on its own
        else
            w.thread.join();
    }
    for (int* fd : {&w.inotifyFd, &w.stopPipe[0], &w.stopPipe[1]})
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    w.fn = nullptr;
    w.ctx = nullptr;
}
#endif

// A watch still running when the program ends is stopped, not left to std::terminate.
Watch::~Watch() {
#if defined(__linux__)
    std::lock_guard lock(m);
    stopLocked(*this);
#endif
}

} // namespace

namespace vazdriver {

int32_t registerDeviceNotification(VazDeviceNotificationFn fn, void* ctx) {
#if defined(__linux__)
    if (!fn)
        return VAZ_FAIL;
    Watch& w = watch();
    std::lock_guard lock(w.m);
    stopLocked(w);
    w.inotifyFd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (w.inotifyFd < 0) {
        vazposix::setLastErrno("inotify_init1", errno);
        return VAZ_FAIL;
    }
    if (inotify_add_watch(w.inotifyFd, "/dev", IN_CREATE | IN_DELETE) < 0 ||
        pipe2(w.stopPipe, O_CLOEXEC) != 0) {
        vazposix::setLastErrno("inotify /dev", errno);
        stopLocked(w);
        return VAZ_FAIL;
    }
    w.fn = fn;
    w.ctx = ctx;
    try {
        w.thread = std::thread(run, w.inotifyFd, w.stopPipe[0], fn, ctx);
    } catch (...) {
        stopLocked(w);
        return VAZ_FAIL;
    }
    return VAZ_OK;
#else
    (void)fn;
    (void)ctx;
    vazposix::setLastError("device notifications are not available on this system");
    return VAZ_FAIL;
#endif
}

int32_t unregisterDeviceNotification(VazDeviceNotificationFn, void*) {
#if defined(__linux__)
    Watch& w = watch();
    std::lock_guard lock(w.m);
    stopLocked(w);
#endif
    return VAZ_OK;
}

} // namespace vazdriver
