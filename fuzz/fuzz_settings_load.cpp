// The settings load from any preferences file: it never fails, every field holds a valid value after
// it (what the settings rules accept), and what it holds survives a save and a second load unchanged.

#include "FuzzSupport.h"

#include "vornal/prefs/AbstractPreferences.h"
#include "vornal/prefs/PreferencesStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <unistd.h>

using namespace vornal;
using H = config::ConfigHelper;

namespace {

void checkValid(const config::Config& c) {
    const QString shown =
        QStringLiteral("bitRate %1 dataBits %2 stopBits %3 parity %4 terminator %5 handshake %6")
            .arg(c.getBitRate())
            .arg(c.getDataBits())
            .arg(c.getStopBits())
            .arg(c.getParity())
            .arg(c.getInputTerminator())
            .arg(c.getHandshake());
    VORNAL_FUZZ_CHECK(H::BitRates::valid(c.getBitRate()) && H::DataBits::valid(c.getDataBits()) &&
                          H::StopBits::valid(c.getStopBits()) && H::Parity::valid(c.getParity()) &&
                          H::InputTerminator::valid(c.getInputTerminator()) &&
                          H::Handshake::valid(c.getHandshake()),
                      shown);
    VORNAL_FUZZ_CHECK(H::MathOperand::valid(c.getMathOperand()), c.getMathOperand());
    VORNAL_FUZZ_CHECK(H::DecimalPlaces::valid(c.getDecimalPlaces()), c.getDecimalPlaces());
    VORNAL_FUZZ_CHECK(H::EditNumCharacters::valid(c.getEditNumCharacters()), c.getEditNumCharacters());
    VORNAL_FUZZ_CHECK(H::RemoveCharacters::valid(c.getRemoveCharacters()), c.getRemoveCharacters());
    VORNAL_FUZZ_CHECK(H::EveryXValues::valid(c.getEveryXValues()), c.getEveryXValues());
    VORNAL_FUZZ_CHECK(H::IgnoreDifference::valid(c.getIgnoreDifference()), c.getIgnoreDifference());
    VORNAL_FUZZ_CHECK(H::IgnoreTimeLimit::valid(c.getIgnoreTimeLimit()), c.getIgnoreTimeLimit());
    VORNAL_FUZZ_CHECK(H::Delay::valid(c.getDelay()), c.getDelay());
    VORNAL_FUZZ_CHECK(H::CustomRegEx::valid(c.getCustomRegEx()), c.getCustomRegEx());
    // Every stored form is accepted again by the rules of the load.
    for (const auto& [key, value] : c.storedEntries()) {
        config::Config other;
        QString why;
        VORNAL_FUZZ_CHECK(other.setByKey(key, value, &why), key + QStringLiteral(": ") + why);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const QString file = [] {
        fuzz::quietQt();
        // Memory-backed when possible: every save syncs the file to its disk.
        const QDir dir(QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                                 : QDir::tempPath());
        return dir.filePath(QStringLiteral("vornal-fuzz-prefs-%1.txt").arg(::getpid()));
    }();
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            fuzz::fail("cannot write the scratch file", file);
        f.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    const QStringList ports{QStringLiteral("COM1"), QStringLiteral("/dev/ttyUSB0")};

    prefs::PreferencesStore::select(file);
    auto node = prefs::PreferencesStore::userRoot()->node(QString::fromLatin1(config::Config::SETTINGS_NODE));
    config::Config loaded;
    try {
        loaded.loadConfig(*node, ports);
    } catch (const prefs::BackingStoreException&) {
        // The store itself failed (documented); the record keeps its defaults.
    }
    checkValid(loaded);

    // A valid record is stored and read back exactly. Known fault, reported: the load keeps a stored
    // text holding the character code 0 (written "\u0000" in the file) while the store refuses to put
    // such a value, so such a record cannot be saved; skipped here so that the run goes on to find others.
    for (const auto& [key, value] : loaded.storedEntries())
        if (value.contains(QChar(0)))
            return 0;
    try {
        const QString refused = loaded.saveConfig(*node);
        VORNAL_FUZZ_CHECK(refused.isEmpty(), refused);
    } catch (const prefs::BackingStoreException& e) {
        fuzz::fail("saving a loaded record failed", QString::fromUtf8(e.what()));
    }
    prefs::PreferencesStore::select(file);
    auto again =
        prefs::PreferencesStore::userRoot()->node(QString::fromLatin1(config::Config::SETTINGS_NODE));
    config::Config reloaded;
    const auto result = reloaded.loadConfig(*again, ports);
    VORNAL_FUZZ_CHECK(result.valid, result.warnings.join(u'\n'));
    VORNAL_FUZZ_CHECK(!config::Config::hasChanged(loaded, reloaded), QString());
    return 0;
}
