#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite. Starts its own X server (Xvfb)
# when there is no display, for the tests that type into real windows.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
scripts/build.sh
build=${VORNAL_BUILD_DIR:-build}

source scripts/xvfb.sh
cleanup() { [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT
start_xvfb 90 120

cd "$build"
ctest --output-on-failure --timeout 600 -j2 "$@"
