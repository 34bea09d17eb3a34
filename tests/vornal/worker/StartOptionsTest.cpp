// The options the window and vornal-cli share: what is a script, what is the port or the command, and
// the mistakes both report the same way.
#include "vornal/worker/Startup.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using vornal::worker::checkStartOptions;
using vornal::worker::namesSimulatorScript;
using vornal::worker::StartOptions;
using vornal::worker::takeStartOption;

namespace {

struct Parsed {
    StartOptions options;
    QString error;
    QStringList rest; // the words no shared option took
};

// Reads `args` as both programs do: shared options out, everything else left in order.
Parsed parse(const QStringList& args, const std::function<bool(const QString&)>& reserved = {}) {
    Parsed p;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (!takeStartOption(args, i, p.options, &p.error, reserved))
            p.rest += args[i];
        else if (!p.error.isEmpty())
            break;
    }
    if (p.error.isEmpty())
        p.error = checkStartOptions(p.options);
    return p;
}

bool isCommand(const QString& word) {
    return word == u"run" || word == u"ports";
}

} // namespace

TEST(StartOptions, TheStoreNeedsAFileNameInEitherSpelling) {
    EXPECT_EQ(parse({"--store", "/tmp/p.txt", "COM3"}).options.storeFile, QStringLiteral("/tmp/p.txt"));
    EXPECT_EQ(parse({"--store", "/tmp/p.txt", "COM3"}).rest, QStringList{"COM3"});
    EXPECT_EQ(parse({"--store=/tmp/q.txt"}).options.storeFile, QStringLiteral("/tmp/q.txt"));
    // The last one counts, as with any repeated option.
    EXPECT_EQ(parse({"--store=a", "--store", "b"}).options.storeFile, QStringLiteral("b"));
    // Missing or empty: never silently the per-user store.
    for (const QStringList& args :
         {QStringList{"--store"}, QStringList{"--store="}, QStringList{"--store", ""}}) {
        const Parsed p = parse(args);
        EXPECT_EQ(p.error, QStringLiteral("--store needs a file name")) << args.join(u' ').toStdString();
        EXPECT_TRUE(p.options.storeFile.isEmpty());
    }
    // Not a shared option: left for the program.
    EXPECT_EQ(parse({"--storefile", "x"}).rest, (QStringList{"--storefile", "x"}));
}

TEST(StartOptions, TheWordAfterSimulateIsTheScriptOnlyWhenItNamesOne) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString script = dir.filePath(QStringLiteral("scale.txt"));
    QFile f(script);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();

    // An existing file, whatever its name.
    Parsed p = parse({"--simulate", script, "SIM1"});
    EXPECT_TRUE(p.options.simulate);
    EXPECT_EQ(p.options.simulateScript, script);
    EXPECT_EQ(p.rest, QStringList{"SIM1"});
    EXPECT_TRUE(p.error.isEmpty()) << p.error.toStdString();

    // Ports, device paths (also unplugged ones), options and commands are not scripts.
    for (const QString& word :
         {QStringLiteral("SIM2"), QStringLiteral("COM3"), QStringLiteral("/dev/ttyUSB9"),
          QStringLiteral("\\\\.\\COM10"), QStringLiteral("--print"), QStringLiteral("-")}) {
        EXPECT_FALSE(namesSimulatorScript(word)) << word.toStdString();
        p = parse({"--simulate", word});
        EXPECT_TRUE(p.options.simulate);
        EXPECT_TRUE(p.options.simulateScript.isEmpty()) << word.toStdString();
        EXPECT_EQ(p.rest, QStringList{word});
    }
    // vornal-cli's commands win over a file of the same name in the current folder.
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    QFile same(QStringLiteral("run"));
    ASSERT_TRUE(same.open(QIODevice::WriteOnly));
    same.close();
    EXPECT_TRUE(namesSimulatorScript(QStringLiteral("run")));
    p = parse({"--simulate", "run"}, isCommand);
    QDir::setCurrent(before);
    EXPECT_TRUE(p.options.simulateScript.isEmpty());
    EXPECT_EQ(p.rest, QStringList{"run"});
}

TEST(StartOptions, AMissingScriptIsNamedNotTakenForThePortOrTheCommand) {
    for (const QString& word : {QStringLiteral("missing.vsim"), QStringLiteral("/no/such/demo.VSIM"),
                                QStringLiteral("sim/scale.txt"), QStringLiteral("C:\\sims\\scale.txt")}) {
        const Parsed p = parse({"--simulate", word, "ports"}, isCommand);
        EXPECT_EQ(p.options.simulateScript, word);
        EXPECT_EQ(p.rest, QStringList{"ports"});
        EXPECT_TRUE(p.error.contains(QDir::toNativeSeparators(word))) << p.error.toStdString();
        EXPECT_TRUE(p.error.contains(QStringLiteral("does not exist or is not a file")))
            << p.error.toStdString();
    }
    // Written with "=", anything is the script, and must exist too.
    Parsed p = parse({"--simulate=SIM1"});
    EXPECT_EQ(p.options.simulateScript, QStringLiteral("SIM1"));
    EXPECT_FALSE(p.error.isEmpty());
    // A folder is no script.
    QTemporaryDir dir;
    p = parse({"--simulate=" + dir.path()});
    EXPECT_TRUE(p.error.contains(QStringLiteral("not a file"))) << p.error.toStdString();
    // Without --simulate nothing is checked.
    EXPECT_TRUE(checkStartOptions(StartOptions{QString(), false, QStringLiteral("/no/such")}).isEmpty());
}
