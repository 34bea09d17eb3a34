# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (package g++-mingw-w64-x86-64).
# The posix thread variants are used because the win32 ones lack std::mutex and std::thread.
# Everything is linked statically, so the programs and DLLs need no mingw runtime DLLs. With Qt
# (scripts/cross-windows.sh loads this file through Qt's qt.toolchain.cmake and sets
# VORNAL_MINGW_SHARED_RUNTIME) the programs use the runtime DLLs that the Qt DLLs use as well.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(NOT VORNAL_MINGW_SHARED_RUNTIME)
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
  set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
  set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
endif()

# Tests run under wine when it is installed; CTest then needs the emulator.
find_program(VORNAL_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VORNAL_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VORNAL_WINE64})
endif()
