// Reaches the state of the fake driver the library has loaded.
#pragma once

#include "FakeDriver.h"

#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialPortLocal.h>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#ifndef FAKE_OSNAME
#define FAKE_OSNAME "Windows"
#define FAKE_OSARCH "x86"
#endif

// The scripted driver, on the platform the application fixes at start ("Windows" on "x86"),
// chosen before the library starts.
inline const bool fakeDriverSelected = [] {
    Direduva::ProcessProperties::set("VAZ_DRIVER_DIR", FAKE_DRIVER_DIR);
    Direduva::ProcessProperties::set("VAZ_OSNAME", FAKE_OSNAME);
    Direduva::ProcessProperties::set("VAZ_OSARCH", FAKE_OSARCH);
    return true;
}();

inline FakeDriverState& fake() {
    static FakeDriverState* s = [] {
        EXPECT_TRUE(Direduva::SerialPortLocal::isLibraryLoaded())
            << Direduva::SerialPortLocal::libraryLoadError();
        const std::string path = Direduva::SerialPortLocal::libraryPath();
#ifdef _WIN32
        HMODULE h = LoadLibraryA(path.c_str()); // the module already loaded, one more reference
        auto fn = h ? reinterpret_cast<FakeDriverState* (*)()>(
                          reinterpret_cast<void*>(GetProcAddress(h, "fakeDriverState")))
                    : nullptr;
#else
        void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        auto fn = h ? reinterpret_cast<FakeDriverState* (*)()>(dlsym(h, "fakeDriverState")) : nullptr;
#endif
        return fn ? fn() : nullptr;
    }();
    if (!s)
        throw std::runtime_error("fake driver not loaded");
    return *s;
}
