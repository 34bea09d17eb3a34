#!/usr/bin/env bash
# Configures and builds into ${VORNAL_BUILD_DIR:-build}. Quiet unless something fails.
#   scripts/build.sh [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VORNAL_BUILD_DIR:-build}
log="$build/build.log"
mkdir -p "$build"
if [[ ! -f "$build/CMakeCache.txt" || $# -gt 0 ]]; then
  if ! cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$log" 2>&1; then
    cat "$log" >&2; echo "Configuring failed." >&2; exit 1
  fi
fi
if ! cmake --build "$build" >"$log" 2>&1; then
  grep -E -A5 'error|Error' "$log" | head -80 >&2; echo "Build failed; full log: $log" >&2; exit 1
fi
