// The shipped simulator scripts with the presets they are meant for (docs/simulator.md): every demo
// port gives clean values, with no terminator left over in a line or after Stop and no character the
// preset's key map cannot type. All scripts are loaded at once, each port renamed after its file.
#include "support/SimEnvironment.h"
#include "support/WorkerHarness.h"

#include "vornal/worker/KeyMaps.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using namespace vornal;
using config::ConfigHelper;

std::string combinedScripts() {
    std::string all;
    for (const char* name : {"demo", "line-errors", "unplug", "ports"}) {
        QFile f(QStringLiteral(VORNAL_SOURCE_DIR "/resources/sim/%1.vsim").arg(QString::fromLatin1(name)));
        if (!f.open(QIODevice::ReadOnly))
            return "# cannot read " + f.fileName().toStdString();
        QString text = QString::fromUtf8(f.readAll());
        static const QRegularExpression port(QStringLiteral("(?m)^port (\\w+)"));
        text.replace(port, QStringLiteral("port %1_\\1").arg(QString::fromLatin1(name).remove(u'-')));
        all += text.toStdString() + '\n';
    }
    return all;
}

const auto* const env =
    ::testing::AddGlobalTestEnvironment(new test::SimEnvironment(combinedScripts(), true));

struct Demo {
    const char* port;
    ConfigHelper::Instrument preset;
    const char* value; // what every value must look like
};

TEST(DemoScripts, EveryDemoPortGivesCleanValuesWithItsPreset) {
    const Demo demos[] = {
        {"demo_SIM1", ConfigHelper::Instrument::GENERIC, "[-+]?\\d+\\.\\d+"},
        {"demo_SIM2", ConfigHelper::Instrument::BARCODE, "\\d{13}"},
        {"demo_SIM3", ConfigHelper::Instrument::AND, "[-+]?\\d+\\.\\d+"},
        {"lineerrors_SIM1", ConfigHelper::Instrument::GENERIC, "[-+]?\\d+\\.\\d+"},
        {"unplug_SIM1", ConfigHelper::Instrument::GENERIC, "[-+]?\\d+\\.\\d+"},
        {"unplug_SIM2", ConfigHelper::Instrument::BARCODE, "\\d{13}"},
        {"ports_COM4", ConfigHelper::Instrument::AND, "[-+]?\\d+\\.\\d+"},
        {"ports_COM5", ConfigHelper::Instrument::GENERIC, "[-+]?\\d+\\.\\d+"},
    };
    struct Running {
        test::RecordingView view;
        std::unique_ptr<worker::WeightWorker> worker;
    };
    std::vector<std::unique_ptr<Running>> running;
    // All at once: the barcode scanners take two seconds per code.
    for (const Demo& d : demos) {
        config::Config c = d.preset.getDefaultConfig(); // the port settings of the Defaults button
        c.setInstrument(d.preset);
        c.setPort(QString::fromLatin1(d.port));
        auto r = std::make_unique<Running>();
        ASSERT_NO_THROW(r->worker = worker::createWorker(c, &r->view)) << d.port;
        r->worker->execute();
        running.push_back(std::move(r));
    }
    EXPECT_TRUE(test::waitFor(
        [&] {
            for (const auto& r : running)
                if (r->view.lines().size() < 3)
                    return false;
            return true;
        },
        20000));
    for (const auto& r : running)
        EXPECT_TRUE(test::stopAndWait(*r->worker));

    const QString unsent = QStringLiteral("important: Data received after the last complete line");
    for (size_t i = 0; i < std::size(demos); ++i) {
        const Demo& d = demos[i];
        const test::RecordingView& view = running[i]->view;
        const worker::KeyMap keys =
            worker::getKeymap(ConfigHelper::KeyboardType::getDefault(), d.preset.getKeyMapType());
        const QRegularExpression value(QRegularExpression::anchoredPattern(QString::fromLatin1(d.value)));
        ASSERT_GE(view.lines().size(), 3u) << d.port;
        for (const worker::DataLine& line : view.lines()) {
            // One terminator, at the end: "<13>" or "<10>" shown once.
            const QString raw = line.getRawData();
            EXPECT_EQ(raw.count(u'<'), 1) << d.port << ": " << raw.toStdString();
            EXPECT_TRUE(value.match(line.getProcessedData()).hasMatch())
                << d.port << ": " << line.getProcessedData().toStdString();
            for (const char32_t c : line.getProcessedData().toUcs4())
                EXPECT_TRUE(keys.count(c)) << d.port << ": cannot type " << unsigned(c);
        }
        for (const QString& entry : view.log()) {
            // A Stop in the middle of a line may leave part of it, never a terminator.
            if (entry.startsWith(unsent)) {
                EXPECT_FALSE(entry.contains(u'<')) << d.port << ": " << entry.toStdString();
            }
        }
    }
}

} // namespace
