#!/usr/bin/env bash
# Builds Vornal for Windows (scripts/cross-windows.sh) and runs the wine tests (tests/windows/wine-tests.sh)
# on it: the programs from a staged installation, the installer, the Windows-only behaviour.
# They run whenever Qt for Windows is in ${VORNAL_QT_WINDOWS_PREFIX:-/opt/vornal/qt6-mingw}; without it
# the exit status is 77 (skipped): scripts/qt-windows.sh builds it (about 25 minutes on two cores).
# VORNAL_WINDOWS_TESTS=0 skips them anyway.
#   scripts/test-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=${VORNAL_QT_WINDOWS_PREFIX:-/opt/vornal/qt6-mingw}
export VORNAL_WINDOWS_BUILD_DIR=${VORNAL_WINDOWS_BUILD_DIR:-build-windows}

if [[ "${VORNAL_WINDOWS_TESTS:-}" == 0 ]]; then
  echo "Windows tests skipped: VORNAL_WINDOWS_TESTS=0"
  exit 77
fi
if [[ ! -f "$prefix/vornal-qt-build.txt" ]]; then
  echo "Windows tests skipped: no Qt for Windows in $prefix (scripts/qt-windows.sh builds it)"
  exit 77
fi
missing=()
for tool in /usr/lib/wine/wine64 makensis socat Xvfb x86_64-w64-mingw32-g++-posix; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "Windows tests: missing ${missing[*]}; install them with scripts/deps.sh windows" >&2
  exit 1
fi
unset VORNAL_WINDOWS_QT_FREE
scripts/cross-windows.sh
exec tests/windows/wine-tests.sh "$VORNAL_WINDOWS_BUILD_DIR"
