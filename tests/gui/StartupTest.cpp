// Start-up: command line, resource check, driver library, port listing, settings load.
#include "GuiTestMain.h"

#include "VororaZeZov.h"

#include <Direduva/ProcessProperties.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>

#include <iostream>
#include <sstream>

namespace vornal::test {
namespace {

TEST(CommandLineTest, OptionsNeverCountAsThePort) {
    using CL = VororaZeZov::CommandLine;
    CL c = VororaZeZov::parseArguments(
        {QStringLiteral("--store"), QStringLiteral("/tmp/p.txt"), QStringLiteral("COM3")});
    EXPECT_EQ(c.storeFile, QStringLiteral("/tmp/p.txt"));
    EXPECT_EQ(c.positional, QStringList{QStringLiteral("COM3")});
    EXPECT_TRUE(c.error.isEmpty());

    c = VororaZeZov::parseArguments({QStringLiteral("--simulate"), QStringLiteral("/dev/ttyUSB0")});
    EXPECT_TRUE(c.simulate);
    EXPECT_TRUE(c.simulateScript.isEmpty()); // not a script file: the port
    EXPECT_EQ(c.positional, QStringList{QStringLiteral("/dev/ttyUSB0")});

    c = VororaZeZov::parseArguments({QStringLiteral("--"), QStringLiteral("--odd-port-name")});
    EXPECT_EQ(c.positional, QStringList{QStringLiteral("--odd-port-name")});

    c = VororaZeZov::parseArguments({QStringLiteral("--simulate=demo.vsim"), QStringLiteral("--version")});
    EXPECT_EQ(c.simulateScript, QStringLiteral("demo.vsim"));
    EXPECT_TRUE(c.version);
    EXPECT_TRUE(c.positional.isEmpty());

    // A word after --simulate that is named like a script is the script, and must exist.
    c = VororaZeZov::parseArguments({QStringLiteral("--simulate"), QStringLiteral("/no/demo.VSIM")});
    EXPECT_EQ(c.simulateScript, QStringLiteral("/no/demo.VSIM"));
    EXPECT_TRUE(c.error.contains(QStringLiteral("/no/demo.VSIM"))) << c.error.toStdString();
    EXPECT_TRUE(c.positional.isEmpty());
    c = VororaZeZov::parseArguments({QStringLiteral("--simulate"), QStringLiteral("sim/scale.txt")});
    EXPECT_TRUE(c.error.contains(QStringLiteral("sim/scale.txt"))) << c.error.toStdString();
    c = VororaZeZov::parseArguments({QStringLiteral("--simulate"), QStringLiteral("/dev/ttyUSB9")});
    EXPECT_TRUE(c.error.isEmpty()) << c.error.toStdString();
    EXPECT_EQ(c.positional, QStringList{QStringLiteral("/dev/ttyUSB9")}); // an unplugged port
    c = VororaZeZov::parseArguments({QStringLiteral("--simulate"), QStringLiteral("SIM2")});
    EXPECT_TRUE(c.error.isEmpty() && c.simulateScript.isEmpty());
    EXPECT_EQ(c.positional, QStringList{QStringLiteral("SIM2")});

    EXPECT_FALSE(VororaZeZov::parseArguments({QStringLiteral("--frobnicate")}).error.isEmpty());
    EXPECT_FALSE(VororaZeZov::parseArguments({QStringLiteral("--store")}).error.isEmpty());
}

TEST(CommandLineTest, TheToolkitsOptionsAreSetAsideBeforeTheCheck) {
    QString platform;
    const QStringList rest = VororaZeZov::withoutToolkitOptions(
        {QStringLiteral("--platform"), QStringLiteral("offscreen"), QStringLiteral("-style=Fusion"),
         QStringLiteral("-reverse"), QStringLiteral("--bogus"), QStringLiteral("COM3"), QStringLiteral("--"),
         QStringLiteral("-style")},
        &platform);
    EXPECT_EQ(platform, QStringLiteral("offscreen"));
    EXPECT_EQ(rest, (QStringList{QStringLiteral("--bogus"), QStringLiteral("COM3"), QStringLiteral("--"),
                                 QStringLiteral("-style")}));
}

TEST(CommandLineTest, ProcessPropertiesNameTheRealPlatform) {
    VororaZeZov::setDefaultProperties();
    using Direduva::ProcessProperties;
    EXPECT_EQ(ProcessProperties::get("VERSION").value_or(""), "2024.1.0.0");
    EXPECT_EQ(ProcessProperties::get("RELEASEDATE").value_or(""), "20240322");
#ifdef Q_OS_LINUX
    EXPECT_EQ(ProcessProperties::get("VAZ_OSNAME").value_or(""), "Linux");
#endif
    EXPECT_FALSE(ProcessProperties::get("VAZ_OSARCH").value_or("").empty());
}

class StartupTest : public WindowFixture {
protected:
    VororaZeZovFrame2::Options options() {
        VororaZeZovFrame2::Options o;
        o.storeFile = storeFile();
        o.show = false;
        o.listPorts = [] {
            VororaZeZovFrame2::PortListing l;
            l.ports = simulatedPorts();
            return l;
        };
        return o;
    }
};

TEST_F(StartupTest, EveryTextThatTheProgramUsesExistsInBothLanguages) {
    for (const auto& [name, keys] : VororaZeZovFrame2::requiredKeys(QStringLiteral("vornal.Vornal"))) {
        for (const QString& language : {QString(), QStringLiteral("de")}) {
            const auto& bundle = util::ResourceBundle::get(name, language);
            ASSERT_TRUE(bundle.isValid()) << name.toStdString();
            for (const QString& key : keys)
                EXPECT_TRUE(bundle.contains(key)) << name.toStdString() << ' ' << key.toStdString();
        }
    }
    const auto& de = util::ResourceBundle::get(QStringLiteral("vornal.Vornal"), QStringLiteral("de"));
    EXPECT_EQ(de.language(), QStringLiteral("de"));
    EXPECT_TRUE(de.keysMissingInLanguage().isEmpty()) << de.keysMissingInLanguage().join(u' ').toStdString();
    EXPECT_TRUE(de.keysOnlyInLanguage().isEmpty());
}

TEST_F(StartupTest, MissingResourcesEndWithStatus4) {
    auto o = options();
    o.windowBundle = QStringLiteral("vornal.NoSuchBundle");
    VororaZeZovFrame2 w(o);
    EXPECT_EQ(w.fatalExitCode(), 4);
    EXPECT_FALSE(w.isVisible());
    const auto shown = dialogs();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].title, QStringLiteral("Fatal error"));
    EXPECT_EQ(shown[0].text,
              QStringLiteral("Program files seem to be damaged or missing!\nTry downloading and "
                             "reinstalling the program."));
    EXPECT_FALSE(QFile::exists(storeFile()));
}

TEST_F(StartupTest, AMissingDriverEndsWithStatus2) {
    auto o = options();
    o.listPorts = [] {
        VororaZeZovFrame2::PortListing l;
        l.libraryMissing = true;
        l.failure = QStringLiteral("no libvazEdo.so");
        return l;
    };
    VororaZeZovFrame2 w(o);
    EXPECT_EQ(w.fatalExitCode(), 2);
    const auto shown = dialogs();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].title, tr("fatal.error"));
    EXPECT_TRUE(shown[0].text.startsWith(tr("library.vazedo.not.found.or.not.matching.your.system")));
    EXPECT_TRUE(shown[0].text.endsWith(tr("program.will.now.exit")));
#ifdef Q_OS_LINUX
    EXPECT_TRUE(shown[0].text.contains(QStringLiteral(" (Linux ")));
#endif
}

TEST_F(StartupTest, NoPortAtAllKeepsTheWindowWithAnEmptyListThatRefreshFills) {
    QStringList available;
    auto o = options();
    o.listPorts = [&available] {
        VororaZeZovFrame2::PortListing l;
        l.ports = available;
        return l;
    };
    VororaZeZovFrame2 w(o);
    EXPECT_EQ(w.fatalExitCode(), 0);
    auto shown = dialogs();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].text, tr("no.rs.232.port.found.on.your.system.program.will.now.exit"));
    auto* ports = qobject_cast<QComboBox*>(w.control(QStringLiteral("portList")));
    EXPECT_EQ(ports->count(), 0);

    available = {QStringLiteral("SIM1")};
    qobject_cast<QAbstractButton*>(w.control(QStringLiteral("refreshPortsButton")))->click();
    EXPECT_TRUE(dialogs().isEmpty());
    EXPECT_EQ(ports->count(), 1);
    EXPECT_EQ(w.config().getPort(), QStringLiteral("SIM1"));
}

TEST_F(StartupTest, AListingFailureIsShownAndStartUpGoesOn) {
    auto o = options();
    o.listPorts = [] {
        VororaZeZovFrame2::PortListing l;
        l.failure = QStringLiteral("driver busy");
        return l;
    };
    VororaZeZovFrame2 w(o);
    EXPECT_EQ(w.fatalExitCode(), 0);
    const auto shown = dialogs();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].text, tr("error.listing.available.ports") + QStringLiteral("driver busy"));
}

TEST_F(StartupTest, InvalidStoredSettingsAreReportedAndReplaced) {
    {
        QFile f(storeFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    auto o = options();
    {
        VororaZeZovFrame2 first(o);
        first.config().setDelay(QStringLiteral("33"));
        ASSERT_TRUE(first.saveConfig().isEmpty());
    }
    dialogs();
    // Spoil one stored value.
    QFile f(storeFile());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(f.readAll());
    f.close();
    ASSERT_TRUE(text.contains(QStringLiteral("HALF_UP")));
    text.replace(QStringLiteral("HALF_UP"), QStringLiteral("SIDEWAYS"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.toUtf8());
    f.close();

    VororaZeZovFrame2 w(o);
    const auto shown = dialogs();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].title, tr("error.while.loading.settings"));
    EXPECT_TRUE(shown[0].text.startsWith(tr("invalid.setting.found")));
    EXPECT_EQ(w.config().getDelay(), QStringLiteral("33"));
    EXPECT_EQ(w.config().getRoundingMethod(), config::ConfigHelper::RoundingMethod::getDefault());
}

} // namespace
} // namespace vornal::test

namespace vornal::test {
namespace {

TEST_F(StartupTest, AMissingIconIsReportedAndTheOthersAreUsed) {
    const QString icons = dir_.filePath(QStringLiteral("icons/"));
    ASSERT_TRUE(QDir().mkpath(icons));
    for (const char* name : {"Vornal32.png", "Vornal16.png"})
        ASSERT_TRUE(QFile::copy(QStringLiteral(":/icons/") + QString::fromLatin1(name),
                                icons + QString::fromLatin1(name)));
    auto o = options();
    o.iconFolder = icons;
    std::ostringstream err;
    auto* old = std::cerr.rdbuf(err.rdbuf());
    VororaZeZovFrame2 w(o);
    std::cerr.rdbuf(old);
    EXPECT_EQ(w.fatalExitCode(), 0);
    const std::string said = err.str();
    EXPECT_NE(said.find("Couldn't find file: " + icons.toStdString() + "Vornal24.png"), std::string::npos)
        << said;
    EXPECT_NE(said.find("Couldn't find file: " + icons.toStdString() + "Vornal20.png"), std::string::npos)
        << said;
    EXPECT_EQ(said.find("Vornal32.png"), std::string::npos) << said;
    const QList<QSize> sizes = w.windowIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_EQ(sizes.size(), 2);
}

} // namespace
} // namespace vornal::test
