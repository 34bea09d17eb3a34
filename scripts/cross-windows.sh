#!/usr/bin/env bash
# Cross-builds Vornal for 64-bit Windows with mingw-w64 into ${VORNAL_WINDOWS_BUILD_DIR:-build-windows}.
#   With Qt for Windows in ${VORNAL_QT_WINDOWS_PREFIX:-/opt/vornal/qt6-mingw} (scripts/qt-windows.sh):
#     the whole program: bin/vornal.exe (GUI), bin/vornal-cli.exe (console), the Win32 and simulator
#     drivers, the helpers of the wine tests, and the NSIS installer vornal-setup-<version>-win64.exe
#     through CPack, with the Qt DLLs and plugins the programs load.
#   Without it (or with VORNAL_WINDOWS_QT_FREE=1): the Qt-free parts (serial library Direduva, the
#     driver DLLs, key and sound backends) and their tests, and says so.
# Quiet on success; fails on any compiler warning in our code. When wine64 is installed, the Direduva,
# drivers' common part, RFC 2217 codec, Win32 driver (with a network port) and platform tests run under
# it (a program whose skipped cases are its only complaint is listed, not failed).
#   scripts/cross-windows.sh [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VORNAL_WINDOWS_BUILD_DIR:-build-windows}
prefix=${VORNAL_QT_WINDOWS_PREFIX:-/opt/vornal/qt6-mingw}
log="$build/build.log"
mkdir -p "$build"

if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  echo "cross-windows: x86_64-w64-mingw32-g++-posix not found; install g++-mingw-w64-x86-64-posix" >&2
  exit 1
fi

qt_ready() { [[ -f "$prefix/vornal-qt-build.txt" && -f "$prefix/lib/cmake/Qt6/qt.toolchain.cmake" &&
               -f "$prefix/lib/pkgconfig/gmpxx.pc" ]]; }
# The Qt-free build as a test of its own is not needed when the whole program is built and tested
# (scripts/test-windows.sh): exit status 77, skipped.
if [[ "${VORNAL_WINDOWS_UNLESS_WHOLE:-0}" == 1 && "${VORNAL_WINDOWS_TESTS:-}" != 0 ]] && qt_ready; then
  echo "cross-windows: skipped, the whole program is built and tested by scripts/test-windows.sh"
  exit 77
fi
with_qt=0
if [[ "${VORNAL_WINDOWS_QT_FREE:-0}" != 1 ]]; then
  if qt_ready; then
    with_qt=1
  else
    echo "cross-windows: no Qt for Windows in $prefix (scripts/qt-windows.sh builds it):" \
         "building only the Qt-free parts, no vornal.exe, vornal-cli.exe or installer."
  fi
fi

toolchain=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake")
if [[ $with_qt == 1 ]]; then
  # Qt's toolchain file finds Qt and the host tools and then loads ours (compilers, search roots).
  toolchain=(-DCMAKE_TOOLCHAIN_FILE="$prefix/lib/cmake/Qt6/qt.toolchain.cmake"
             -DQT_CHAINLOAD_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DVORNAL_MINGW_SHARED_RUNTIME=ON)
  # GMP for Windows lives in the same prefix; only its pkg-config files may be seen.
  export PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH=""
  # So does libmosquitto, from a prefix made since it is part of scripts/qt-windows.sh. Said every
  # time, so that a build folder configured before it was there follows.
  if [[ -f "$prefix/lib/pkgconfig/libmosquitto.pc" ]]; then
    toolchain+=(-DVORNAL_MQTT=ON)
  else
    toolchain+=(-DVORNAL_MQTT=OFF)
    echo "cross-windows: no libmosquitto in $prefix (scripts/qt-windows.sh adds it):" \
         "building without publishing readings to a broker."
  fi
fi

# A build folder configured for the other kind of build starts afresh: CMake reads the toolchain
# file only when it configures a folder the first time.
mode=$([[ $with_qt == 1 ]] && echo "with Qt from $prefix" || echo "Qt-free")
if [[ -f "$build/CMakeCache.txt" && "$(cat "$build/vornal-windows-build.txt" 2>/dev/null)" != "$mode" ]]; then
  rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
fi
echo "$mode" >"$build/vornal-windows-build.txt"

# Configuring every time is quick and picks up new folders.
if ! cmake -S . -B "$build" -G Ninja "${toolchain[@]}" \
    -DCMAKE_BUILD_TYPE=Release -DVORNAL_BUILD_BENCH=OFF "$@" >"$log" 2>&1; then
  cat "$log" >&2; echo "cross-windows: configuring failed." >&2; exit 1
fi
if ! cmake --build "$build" -j2 >"$log" 2>&1; then
  grep -E -A5 'error|Error' "$log" | head -80 >&2
  echo "cross-windows: build failed; full log: $log" >&2; exit 1
fi
if grep -q 'warning:' "$log"; then
  grep -E -A3 'warning:' "$log" | head -60 >&2
  echo "cross-windows: the build has warnings; full log: $log" >&2; exit 1
fi

wine=$(command -v wine64 || true)
[[ -z "$wine" && -x /usr/lib/wine/wine64 ]] && wine=/usr/lib/wine/wine64
if [[ -n "$wine" ]]; then
  export WINEDLLOVERRIDES='mscoree,mshtml=' WINEDEBUG=-all
  if [[ $with_qt == 1 ]]; then
    # The tests use the shared compiler runtime, as the programs do, and some use Qt.
    runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
    pthread=$(dirname "$(realpath "$(x86_64-w64-mingw32-g++-posix -print-file-name=libwinpthread-1.dll)")")
    export WINEPATH="Z:${runtime//\//\\};Z:${pthread//\//\\};Z:${prefix//\//\\}\\bin"
  fi
  for t in "$build"/bin/direduva*.exe "$build"/bin/drivers_common.exe "$build"/bin/drivers_net_codec.exe \
           "$build"/bin/drivers_win32.exe "$build"/bin/platform_*.exe; do
    [[ -e "$t" ]] || continue
    rc=0
    out=$("$wine" "$t" 2>&1) || rc=$?
    if [[ $rc -eq 77 ]]; then # some cases skipped, none failed (tests/support/TestMain.h)
      echo "cross-windows: $(basename "$t") skipped cases under wine:" >&2
      grep -F '[  SKIPPED ]' <<<"$out" | sort -u >&2
    elif [[ $rc -ne 0 ]]; then
      echo "$out" | tail -40 >&2; echo "cross-windows: $(basename "$t") failed under wine" >&2; exit 1
    fi
  done
fi

if [[ $with_qt == 1 ]]; then
  rm -f "$build"/vornal-setup-*-win64.exe
  if ! (cd "$build" && cpack -G NSIS) >"$build/cpack.log" 2>&1; then
    tail -40 "$build/cpack.log" >&2
    echo "cross-windows: building the installer failed; full log: $build/cpack.log" >&2; exit 1
  fi
  echo "cross-windows: $(ls "$build"/vornal-setup-*-win64.exe)"
fi
