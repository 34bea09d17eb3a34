#include "KeyInjector.h"

#if defined(_WIN32)
#include "windows/WindowsInjector.h"
#elif defined(VORNAL_KEYS_X11)
#include "x11/X11Injector.h"
#endif

namespace vornal::platform {

std::unique_ptr<KeyInjector> createKeyInjector(const CharChords& layout) {
#if defined(_WIN32)
    return std::make_unique<WindowsInjector>(layout);
#elif defined(VORNAL_KEYS_X11)
    std::string why;
    if (auto x11 = X11Injector::open(layout, &why))
        return x11;
    throw KeyInjectorUnavailable("keyboard output is not available: " + why);
#else
    (void)layout;
    throw KeyInjectorUnavailable("keyboard output is not available: this build has no key-injection backend "
                                 "(it needs the X11 development files libx11-dev, libxtst-dev)");
#endif
}

} // namespace vornal::platform
