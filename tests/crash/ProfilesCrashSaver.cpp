// Saves the two crash-test stations in turn, for ever, into the preferences file given:
//   crash_profiles_saver FILE FIRST(0|1)
// Prints "ready" once the store is open and the number of each completed save after it.

#include "CrashStations.h"

#include "vornal/prefs/AbstractPreferences.h"
#include "vornal/prefs/PreferencesStore.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: crash_profiles_saver FILE FIRST(0|1)\n");
        return 2;
    }
    QLoggingCategory::setFilterRules(QStringLiteral("*.info=false\n*.debug=false"));
    using namespace vornal;
    prefs::PreferencesStore::select(QString::fromLocal8Bit(argv[1]));
    auto root = prefs::PreferencesStore::userRoot();
    const std::vector<config::Profile> stations[2] = {test::crashStation(false), test::crashStation(true)};
    bool which = argv[2][0] == '1';
    std::printf("ready\n");
    std::fflush(stdout);
    for (long n = 1;; ++n, which = !which) {
        const QString refused = config::Profiles::save(*root, stations[which]);
        if (!refused.isEmpty()) {
            std::fprintf(stderr, "save %ld refused: %s\n", n, qPrintable(refused));
            return 1;
        }
        std::printf("%ld\n", n);
        std::fflush(stdout);
    }
}
