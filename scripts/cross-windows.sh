#!/usr/bin/env bash
# Cross-builds the Qt-free parts for 64-bit Windows with mingw-w64: the serial library Direduva,
# the driver DLLs (win32, sim) and the direduva*/drivers* tests. Quiet on success; fails on any
# compiler warning. When wine64 is installed, the Direduva, drivers' common part, Win32 driver and platform
# tests also run under it (a program whose skipped cases are its only complaint is listed, not failed).
#   scripts/cross-windows.sh [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VORNAL_WIN_BUILD_DIR:-build-win}
log="$build/build.log"
mkdir -p "$build"

if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  echo "cross-windows: x86_64-w64-mingw32-g++-posix not found; install g++-mingw-w64-x86-64" >&2
  exit 1
fi

# Configuring every time is quick and picks up new folders.
if ! cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
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
  for t in "$build"/bin/direduva*.exe "$build"/bin/drivers_common.exe "$build"/bin/drivers_win32.exe \
    "$build"/bin/platform_*.exe; do
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
