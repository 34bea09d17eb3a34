// The window program Vornal.
#include "VororaZeZov.h"
#include "vornal/util/RegexJit.h"

int main(int argc, char** argv) {
    vornal::util::avoidThreadExitCrashOnMingw();
    return vornal::VororaZeZov::main(argc, argv);
}
