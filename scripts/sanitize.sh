#!/usr/bin/env bash
# Builds the whole tree with AddressSanitizer + UndefinedBehaviorSanitizer in build-asan and runs the
# test suite there, then with ThreadSanitizer in build-tsan and runs it again with the checker's own
# canary tests and half a minute of the soak test. Neither runs the Windows cross build or the packaging
# tests (no sanitizer matter). Exits non-zero on the first failing part.
#   scripts/sanitize.sh            both parts
#   scripts/sanitize.sh address    only the ASan/UBSan part
#   scripts/sanitize.sh thread     only the TSan part
# Extra ctest arguments may follow the part, e.g. scripts/sanitize.sh address -R stages.
# Environment: VORNAL_SANITIZE_JOBS (default 2) build and test jobs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${VORNAL_SANITIZE_JOBS:-2}
parts=(address thread)
if [[ $# -gt 0 && ( "$1" == address || "$1" == thread ) ]]; then
  parts=("$1"); shift
fi

# Starts an X server for the tests that type into real windows, as scripts/test.sh does.
source scripts/xvfb.sh
cleanup() { [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT
start_xvfb 130 160

build_tree() { # kind dir
  local kind=$1 dir=$2 log="$2/build.log"
  mkdir -p "$dir"
  local start=$SECONDS
  # -O1 with line tables only: reports still name file and line, and the trees build in little more
  # than half the time of -O2 with full debug information.
  local flags="-O1 -g1 -DNDEBUG"
  if ! cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNAL_SANITIZE="$kind" \
      -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$flags" -DCMAKE_C_FLAGS_RELWITHDEBINFO="$flags" \
      -DVORNAL_BUILD_BENCH=OFF >"$log" 2>&1; then
    cat "$log" >&2; echo "sanitize: configuring $dir failed." >&2; return 1
  fi
  if ! cmake --build "$dir" -j"$jobs" >"$log" 2>&1; then
    grep -E -A5 'error|Error' "$log" | head -80 >&2
    echo "sanitize: building $dir failed; full log: $log" >&2; return 1
  fi
  echo "sanitize: $kind build took $((SECONDS - start)) s"
}

run_ctest() { # dir args...
  local dir=$1; shift
  local start=$SECONDS
  (cd "$dir" && ctest --output-on-failure --timeout 900 -j"$jobs" "$@")
  echo "sanitize: ctest $* took $((SECONDS - start)) s"
}

# Fewer readings through the broker test (100,000 by default) under the slower checkers.
export VORNAL_MQTT_READINGS=${VORNAL_MQTT_READINGS:-10000}
# Every finding fails its test; reports name the source line. LeakSanitizer stays on.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan-suppressions.txt:print_suppressions=0}

# The system libraries (Qt, glib, Xlib, FluidSynth) are not built with TSan: the suppressions file says
# what is left out and why.
# die_after_fork=0: QProcess starts programs with a vfork-like clone that shares the parent's memory, so
# TSan's after-fork mark lands in the test process itself and would end it at its next thread start.
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:die_after_fork=0:ignore_noninstrumented_modules=1:suppressions=$root/scripts/tsan-suppressions.txt}

# The station's typing tests at the sanitizers' pace: fewer values and pairs than the plain run types.
export VORNAL_STATION_VALUES=${VORNAL_STATION_VALUES:-500}
export VORNAL_STATION_PAIRS=${VORNAL_STATION_PAIRS:-100}

for part in "${parts[@]}"; do
  case $part in
    address)
      build_tree address build-asan
      # The Windows cross build and the installation and package checks are no sanitizer matter (and a
      # sanitizer build names its build folder in every program, which the layout check refuses).
      run_ctest build-asan -LE '^(cross|packaging)$' -E '^packaging_' "$@"
      ;;
    thread)
      build_tree thread build-tsan
      # Everything but the cross build, the packaging test and the long soak: the threads of the
      # workers, the typist, the window, the sound player, the update check and the port watchers.
      # The broker tests (label mqtt) are left out here: libmosquitto's network thread is not built with
      # TSan, and the checker reports the test's own subscriber (a mutex-guarded flag set from that
      # thread) as a race; they run under ASan and in the plain suite.
      run_ctest build-tsan -LE '^(cross|packaging|soak|mqtt)$' -E '^packaging_' "$@"
      # Half a minute of the soak: the reader, the window's dispatch and the typist under steady load.
      VORNAL_SOAK_SECONDS=30 run_ctest build-tsan -L '^soak$' "$@"
      ;;
  esac
done
echo "sanitize: all parts passed"
