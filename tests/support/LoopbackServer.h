// Servers of the tests on the loopback interface (POSIX): a listening socket on a port of the system's
// choice, one that never answers a connect, and one that accepts and then says nothing.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vornal::test {

// A listening socket on 127.0.0.1.
class LoopbackListener {
public:
    explicit LoopbackListener(int backlog = 4) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(fd_, backlog) != 0) {
            if (fd_ >= 0)
                ::close(fd_);
            throw std::runtime_error("cannot listen on 127.0.0.1");
        }
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~LoopbackListener() { ::close(fd_); }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    int fd() const { return fd_; }
    int port() const { return port_; }
    // "tcp://127.0.0.1:PORT" (or with another scheme).
    std::string name(const char* scheme = "tcp") const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
    }
    // The next connection, -1 when none comes within ms.
    int accept(int ms = 5000) const {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0)
            return -1;
        return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

// A port whose connects are never answered: a listener with a full queue drops further connection
// requests, like a host that is switched off, and nothing leaves this machine.
class UnansweredPort {
public:
    UnansweredPort() : listener_(0) {
        filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(listener_.port()));
        if (::connect(filler_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            throw std::runtime_error("cannot fill the queue of a listener on 127.0.0.1");
    }
    ~UnansweredPort() { ::close(filler_); }
    std::string name(const char* scheme = "tcp") const { return listener_.name(scheme); }
    int port() const { return listener_.port(); }

private:
    LoopbackListener listener_;
    int filler_ = -1;
};

// Accepts every connection and keeps it open without sending a byte: an RFC 2217 server that never
// answers the negotiation, or an instrument that never sends. Holds 3 descriptors and one per
// connection.
class SilentServer {
public:
    SilentServer() {
        if (::pipe2(stop_, O_CLOEXEC) != 0)
            throw std::runtime_error("cannot create a pipe");
        thread_ = std::thread([this] {
            for (;;) {
                pollfd p[2] = {{listener_.fd(), POLLIN, 0}, {stop_[0], POLLIN, 0}};
                if (::poll(p, 2, -1) < 0 || (p[1].revents & POLLIN))
                    return;
                const int c = ::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
                if (c >= 0) {
                    std::lock_guard lock(mutex_);
                    conns_.push_back(c);
                    ++accepted_;
                }
            }
        });
    }
    ~SilentServer() {
        [[maybe_unused]] const auto n = ::write(stop_[1], "x", 1);
        thread_.join();
        for (int c : conns_)
            ::close(c);
        ::close(stop_[0]);
        ::close(stop_[1]);
    }
    std::string name(const char* scheme = "tcp") const { return listener_.name(scheme); }
    int accepted() const { return accepted_; }
    // Connections whose other end (the program) closed: what it sent is read and dropped, then the end
    // is found.
    int closedByPeer() {
        std::lock_guard lock(mutex_);
        int n = 0;
        for (int c : conns_) {
            char buf[512];
            ssize_t r;
            while ((r = ::recv(c, buf, sizeof buf, MSG_DONTWAIT)) > 0) {
            }
            if (r == 0)
                ++n;
        }
        return n;
    }

private:
    LoopbackListener listener_;
    int stop_[2] = {-1, -1};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<int> conns_;
    std::atomic<int> accepted_{0};
};

// Descriptors this process has open.
inline int openDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

} // namespace vornal::test
