// Reaches the state of the fake driver the library has loaded.
#pragma once

#include "FakeDriver.h"

#include <Direduva/SerialPortLocal.h>

#include <dlfcn.h>
#include <gtest/gtest.h>

inline FakeDriverState& fake() {
    static FakeDriverState* s = [] {
        EXPECT_TRUE(Direduva::SerialPortLocal::isLibraryLoaded())
            << Direduva::SerialPortLocal::libraryLoadError();
        void* h = dlopen(Direduva::SerialPortLocal::libraryPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
        auto fn = h ? reinterpret_cast<FakeDriverState* (*)()>(dlsym(h, "fakeDriverState")) : nullptr;
        return fn ? fn() : nullptr;
    }();
    if (!s)
        throw std::runtime_error("fake driver not loaded");
    return *s;
}
