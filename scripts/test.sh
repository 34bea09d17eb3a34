#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite. Starts its own X server (Xvfb)
# when there is no display, for the tests that type into real windows.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
scripts/build.sh
build=${VORNAL_BUILD_DIR:-build}

xvfb_pid=""
cleanup() { [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT
if [[ -z "${DISPLAY:-}" ]] && command -v Xvfb >/dev/null; then
  for n in $(seq 90 120); do
    if [[ ! -e /tmp/.X11-unix/X$n && ! -e /tmp/.X$n-lock ]]; then
      Xvfb ":$n" -screen 0 1280x1024x24 -noreset -nolisten tcp >/dev/null 2>&1 &
      xvfb_pid=$!
      export DISPLAY=":$n"
      for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$n ]] && break; sleep 0.1; done
      break
    fi
  done
fi

cd "$build"
ctest --output-on-failure --timeout 600 -j2 "$@"
