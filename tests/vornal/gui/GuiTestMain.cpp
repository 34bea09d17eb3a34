#include "GuiTestMain.h"

#include "EventLog.h"
#include "VororaZeZov.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

namespace vornal::test {

namespace {

const char* const kScript = R"(# Scale of the window tests
port SIM1
description "Test scale"
value w 12.345
every 100ms send "ST,GS,{w:+9} kg\r\n"

# Asked for a reading, it answers with a settling and a stable line.
on "S\r\n" send "US,+00001.20 kg\rST,+00001.25 kg\r"

# A second instrument of a station (not in the default port list)
port SIM2
description "Test balance"
value g 45.678
every 100ms send "ST,GS,{g:+9} g\r\n"

# An instrument that is unplugged soon after each open and comes back (not in the port list)
port GONE
unplug after 300ms
replug after 200ms
every 50ms send "ST,GS,+  1.000 kg\r\n"

# Unplugged soon after each open and gone for a while (not in the port list); AWAY likewise, for
# another test
port LOST
unplug after 400ms
replug after 3s
every 50ms send "ST,GS,+  2.000 kg\r\n"

port AWAY
unplug after 400ms
replug after 3s
every 50ms send "ST,GS,+  3.000 kg\r\n"
)";

struct Cleanup : ::testing::Environment {
    void TearDown() override { delete qApp; }
};

// The application and the simulated instruments, set up before any test touches the serial library.
struct Application {
    Application() {
        static QTemporaryDir scriptDir;
        const QString script = scriptDir.filePath(QStringLiteral("scale.vsim"));
        QFile f(script);
        if (f.open(QIODevice::WriteOnly))
            f.write(kScript);
        f.close();
        qputenv("VAZ_DRIVER_DIR", QByteArray(VORNAL_LIB_DIR) + "/drivers/sim");
        qputenv("VAZ_SIM_SCRIPT", script.toLocal8Bit());
        qputenv("LANGUAGE", "en");
        static int argc = 1;
        static char arg0[] = "gui_window";
        static char* argv[] = {arg0, nullptr};
        // Deleted after the last test, before the toolkit's own statics go away at exit.
        new QApplication(argc, argv);
        ::testing::AddGlobalTestEnvironment(new Cleanup);
        util::ResourceBundle::setLocale(QStringLiteral("en"));
        VororaZeZov::setDefaultProperties();
        MessageBoxes::setRecording(true);
    }
};
Application application;

} // namespace

QStringList simulatedPorts() {
    return {QStringLiteral("SIM1"), QStringLiteral("NOPE")};
}

void WindowFixture::SetUp() {
    ASSERT_TRUE(dir_.isValid());
    VororaZeZovFrame2::setClosing(false);
    MessageBoxes::setRecording(true);
    MessageBoxes::takeRecords();
}

void WindowFixture::TearDown() {
    if (window_ && window_->isConnected()) {
        window_->startStopJButtonActionPerformed();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window_->isConnected(); }, 5000));
    }
    window_.reset();
    VororaZeZovFrame2::setClosing(false);
    MessageBoxes::setRecording(true);
}

VororaZeZovFrame2& WindowFixture::open(QStringList args, bool autoStart, QStringList ports) {
    VororaZeZovFrame2::Options o;
    o.args = std::move(args);
    o.storeFile = storeFile();
    o.autoStart = autoStart;
    o.updateRandom = [](int) { return 1; };
    o.listPorts = [ports] {
        VororaZeZovFrame2::PortListing l;
        l.ports = ports;
        return l;
    };
    if (adjustOptions_)
        adjustOptions_(o);
    window_ = std::make_unique<VororaZeZovFrame2>(o);
    QCoreApplication::processEvents();
    return *window_;
}

void WindowFixture::closeWindow() {
    window_->close();
    QCoreApplication::processEvents();
}

QString WindowFixture::storeText() const {
    QFile f(storeFile());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll());
}

QStringList WindowFixture::dialogTitles() {
    QStringList titles;
    for (const auto& r : MessageBoxes::takeRecords())
        titles += r.title;
    return titles;
}

QString WindowFixture::logText() const {
    return window_->eventLog()->toPlainText();
}

QString WindowFixture::tr(const char* key) {
    return util::ResourceBundle::get(QStringLiteral("vornal.Vornal")).getString(QString::fromLatin1(key));
}

} // namespace vornal::test
