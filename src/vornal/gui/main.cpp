// The window program Vornal.
#include "VororaZeZov.h"

int main(int argc, char** argv) {
    return vornal::VororaZeZov::main(argc, argv);
}
