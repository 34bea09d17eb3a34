// Environment and temporary folders for the tests, on Linux and Windows alike.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

inline void setEnv(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value);
#else
    ::setenv(name, value, 1);
#endif
}

inline void unsetEnv(const char* name) {
#ifdef _WIN32
    _putenv_s(name, "");
#else
    ::unsetenv(name);
#endif
}

// A new empty folder below the system's temporary folder.
inline std::filesystem::path makeTempDir(const std::string& prefix) {
    std::random_device rd;
    for (;;) {
        auto p = std::filesystem::temp_directory_path() / (prefix + std::to_string(rd()));
        if (std::filesystem::create_directory(p))
            return p;
    }
}
