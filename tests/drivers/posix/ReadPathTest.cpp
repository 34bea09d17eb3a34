// The termios driver's reads at its C interface: single bytes and blocks come from one stream, and a
// read that fails without a hang-up is reported as a failure by both, with its reason.
#include <vazEdo.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include <dlfcn.h>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

struct Driver {
    void* lib = nullptr;
    decltype(&vazSerOpenPort) open = nullptr;
    decltype(&vazSerConfigure) configure = nullptr;
    decltype(&vazSerClosePort) close = nullptr;
    decltype(&vazSerGetByte) getByte = nullptr;
    decltype(&vazSerGetData) getData = nullptr;
    decltype(&vazSerRxReadyCount) readyCount = nullptr;
    decltype(&vazSerGetLastErrorText) lastError = nullptr;

    Driver() {
        lib = dlopen(VORNAL_LIB_DIR "/drivers/posix/libvazEdo.so", RTLD_NOW | RTLD_LOCAL);
        if (!lib)
            return;
        open = reinterpret_cast<decltype(open)>(dlsym(lib, "vazSerOpenPort"));
        configure = reinterpret_cast<decltype(configure)>(dlsym(lib, "vazSerConfigure"));
        close = reinterpret_cast<decltype(close)>(dlsym(lib, "vazSerClosePort"));
        getByte = reinterpret_cast<decltype(getByte)>(dlsym(lib, "vazSerGetByte"));
        getData = reinterpret_cast<decltype(getData)>(dlsym(lib, "vazSerGetData"));
        readyCount = reinterpret_cast<decltype(readyCount)>(dlsym(lib, "vazSerRxReadyCount"));
        lastError = reinterpret_cast<decltype(lastError)>(dlsym(lib, "vazSerGetLastErrorText"));
    }
    std::string errorText() const {
        char text[512] = {};
        lastError(text, int32_t(sizeof text));
        return text;
    }
};

// A pseudo-terminal whose slave side the driver opens in raw mode at 9600 8N1.
struct OpenPty {
    Driver& d;
    int master = -1;
    std::string name;
    VazHandle handle = -1;

    explicit OpenPty(Driver& driver) : d(driver) {
        char n[256] = {};
        int slave = -1;
        if (openpty(&master, &slave, n, nullptr, nullptr) != 0)
            return;
        name = n;
        VazConfig c{};
        c.structSize = int32_t(sizeof c);
        c.portName = name.c_str();
        c.baseName = "";
        c.osName = "Linux";
        c.bitRate = 7;
        c.dataBits = 3;
        if (d.open(&c) == VAZ_OK && d.configure(c.port - 1, &c) == VAZ_OK)
            handle = c.port - 1;
        ::close(slave); // only the driver's descriptor keeps the slave side open
    }
    ~OpenPty() {
        if (handle >= 0)
            d.close(handle);
        if (master >= 0)
            ::close(master);
    }
    // The driver's descriptor of the slave side: the one link to it left in this process.
    int driverFd() const {
        for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code ec;
            if (std::filesystem::read_symlink(e.path(), ec) == name)
                return std::stoi(e.path().filename().string());
        }
        return -1;
    }
    void send(const std::string& bytes) {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        for (int i = 0; i < 200 && d.readyCount(handle) < int(bytes.size()); ++i)
            std::this_thread::sleep_for(5ms);
    }
};

std::string data(Driver& d, VazHandle h, int n) {
    std::string buf(std::size_t(n), '\0');
    const int32_t r = d.getData(h, reinterpret_cast<uint8_t*>(buf.data()), n);
    return r < 0 ? "<" + std::to_string(r) + ">" : buf.substr(0, std::size_t(r));
}

} // namespace

TEST(PosixReadPath, BytesAndBlocksComeFromOneStreamInOrder) {
    Driver d;
    ASSERT_TRUE(d.lib) << dlerror();
    OpenPty pty(d);
    ASSERT_GE(pty.handle, 0) << d.errorText();

    EXPECT_EQ(d.getByte(pty.handle), VAZ_NO_DATA);
    EXPECT_EQ(data(d, pty.handle, 8), "");
    pty.send("ABCDEFGHIJ");
    EXPECT_EQ(d.getByte(pty.handle), 'A'); // reads the rest ahead
    EXPECT_EQ(data(d, pty.handle, 3), "BCD");
    EXPECT_EQ(d.getByte(pty.handle), 'E');
    EXPECT_EQ(data(d, pty.handle, 100), "FGHIJ");
    EXPECT_EQ(d.getByte(pty.handle), VAZ_NO_DATA);

    // A block read first: a short one keeps what it did not take for the next read.
    pty.send("0123456789");
    EXPECT_EQ(data(d, pty.handle, 4), "0123");
    EXPECT_EQ(d.getByte(pty.handle), '4');
    EXPECT_EQ(data(d, pty.handle, 5), "56789");
    // A block larger than the read-ahead goes straight into the caller's buffer.
    const std::string big(5000, 'x');
    pty.send(big.substr(0, 4000));
    std::string got;
    for (int i = 0; i < 50 && got.size() < 4000; ++i)
        got += data(d, pty.handle, 8192);
    EXPECT_EQ(got, big.substr(0, 4000));
    EXPECT_EQ(d.getByte(pty.handle), VAZ_NO_DATA);
}

TEST(PosixReadPath, AFailedReadIsAFailureForBytesAndBlocksAndLosesNothing) {
    Driver d;
    ASSERT_TRUE(d.lib) << dlerror();
    OpenPty pty(d);
    ASSERT_GE(pty.handle, 0) << d.errorText();
    const int fd = pty.driverFd();
    ASSERT_GE(fd, 0);

    // Put a folder where the port's descriptor was: every read of it fails with EISDIR, which is no
    // hang-up.
    const int saved = ::dup(fd);
    const int folder = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(saved, 0);
    ASSERT_GE(folder, 0);
    ASSERT_EQ(::dup2(folder, fd), fd);
    ::close(folder);

    EXPECT_EQ(d.getByte(pty.handle), VAZ_FAIL);
    EXPECT_EQ(d.errorText(), "read " + pty.name + ": " + std::strerror(EISDIR));
    EXPECT_EQ(data(d, pty.handle, 16), "<" + std::to_string(VAZ_FAIL) + ">");
    EXPECT_EQ(d.errorText(), "read " + pty.name + ": " + std::strerror(EISDIR));

    // The port itself again: not taken for hung up, and what the instrument sent meanwhile arrives.
    ASSERT_EQ(::dup2(saved, fd), fd);
    ::close(saved);
    pty.send("12.5\r");
    EXPECT_EQ(d.getByte(pty.handle), '1');
    EXPECT_EQ(data(d, pty.handle, 16), "2.5\r");
}
