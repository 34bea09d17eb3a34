// The reading worker on a real pseudo-terminal through the termios driver: the far side writes what an
// instrument would send.
#include "support/WorkerHarness.h"

#include "vornal/util/ResourceBundle.h"

#include <Direduva/ProcessProperties.h>

#include <gtest/gtest.h>

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>

using namespace vornal;
using namespace vornal::worker;
using config::Config;
using config::ConfigHelper;
using test::RecordingView;
using test::stopAndWait;
using test::waitFor;

namespace {

class PtyEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        Direduva::ProcessProperties::set("VAZ_DRIVER_DIR", VORNAL_LIB_DIR "/drivers/posix");
        util::ResourceBundle::setLocale(QStringLiteral("en"));
        static int argc = 1;
        static char arg0[] = "worker_pty";
        static char* argv[] = {arg0, nullptr};
        app_ = new QCoreApplication(argc, argv);
    }
    void TearDown() override { delete app_; }

private:
    QCoreApplication* app_ = nullptr;
};
const auto* const env = ::testing::AddGlobalTestEnvironment(new PtyEnvironment);

// The instrument's end of a pty pair, raw.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string name;
    Pty() {
        char path[256] = {};
        termios raw{};
        cfmakeraw(&raw);
        if (openpty(&master, &slave, path, &raw, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        name = path;
    }
    ~Pty() {
        if (master >= 0)
            ::close(master);
        if (slave >= 0)
            ::close(slave);
    }
    void send(const std::string& bytes) const {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    void hangUp() {
        ::close(master);
        master = -1;
    }
};

Config settingsFor(const Pty& pty) {
    Config c = ConfigHelper::Instrument::GENERIC.getDefaultConfig();
    c.setInstrument(ConfigHelper::Instrument::GENERIC);
    c.setPort(QString::fromStdString(pty.name));
    return c;
}

} // namespace

TEST(WorkerPty, TheScaleExampleIsTypedWithACommaAndLinesStayInOrder) {
    Pty pty;
    Config c = settingsFor(pty);
    c.setDecimalSeparator(ConfigHelper::DecimalSeparator::COMMA);
    RecordingView view;
    WeightWorker w(c, &view);
    // Keep our own end open only through the port: the worker owns the slave now.
    ::close(pty.slave);
    pty.slave = -1;
    w.execute();
    pty.send("ST,GS,+  12.345 kg\r");
    pty.send("ST,GS,  +0012.34 g\rN    -1.2 kg\r");
    ASSERT_TRUE(waitFor([&] { return view.lines().size() >= 3; }));
    ASSERT_TRUE(stopAndWait(w));
    EXPECT_EQ(view.values(), (QStringList{"12,345", "12,34", "-1,2"}));
    EXPECT_EQ(view.lines()[0].getRawData(), "ST,GS,+  12.345 kg<13>");
    EXPECT_EQ(view.lines()[2].getCount(), 3);
}

TEST(WorkerPty, EveryByteValueArrivesInTheRawLine) {
    Pty pty;
    Config c = settingsFor(pty);
    c.setInputTerminator(0); // a NUL ends the line, every other byte is data
    RecordingView view;
    WeightWorker w(c, &view);
    ::close(pty.slave);
    pty.slave = -1;
    w.execute();
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += char(b);
    all += '\0';
    pty.send(all);
    ASSERT_TRUE(waitFor([&] { return view.lines().size() >= 1; }));
    ASSERT_TRUE(stopAndWait(w));
    const QString raw = view.lines()[0].rawData();
    ASSERT_EQ(raw.size(), 256);
    for (int b = 1; b < 256; ++b)
        ASSERT_EQ(raw[b - 1].unicode(), b);
    EXPECT_EQ(raw[255].unicode(), 0);
}

TEST(WorkerPty, TheFarSideHangingUpEndsTheConnectionOnceWithNothingLost) {
    Pty pty;
    RecordingView view;
    WeightWorker w(settingsFor(pty), &view);
    ::close(pty.slave);
    pty.slave = -1;
    w.execute();
    pty.send("1.5\r2.5\rpartial");
    ASSERT_TRUE(waitFor([&] { return view.lines().size() >= 2; }));
    QThread::msleep(50);
    pty.hangUp();
    ASSERT_TRUE(waitFor([&] { return w.isDone(); })) << "the worker ends by itself";
    EXPECT_EQ(view.values(), (QStringList{"1.5", "2.5"}));
    EXPECT_EQ(view.countLog("important: The port"), 1) << view.log().join('\n').toStdString();
    EXPECT_EQ(view.countLog("important: Error [WW]"), 0) << "no error storm";
    EXPECT_EQ(view.countLog("important: " + WeightWorker::text("unsent.data") + " partial"), 1);
    EXPECT_EQ(view.log().last(), "disconnected");
}
