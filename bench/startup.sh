#!/usr/bin/env bash
# Start-up time of the window program: from launching "vornal" to its main window being mapped on the
# X server, on the simulated instruments with a fresh settings file. Starts its own Xvfb when there is
# no DISPLAY. Usage: bench/startup.sh [BUILD_DIR] [RUNS]   (default: build, 10 runs)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-${VORNAL_BUILD_DIR:-build}}
runs=${2:-10}
bin="$build/bin/vornal"
[[ -x "$bin" ]] || { echo "startup.sh: $bin not found; build the target vornal first" >&2; exit 2; }
command -v xwininfo >/dev/null || { echo "startup.sh: xwininfo (x11-utils) is needed" >&2; exit 2; }

source scripts/xvfb.sh
work=$(mktemp -d)
cleanup() {
  [[ -n "${app_pid:-}" ]] && kill "$app_pid" 2>/dev/null || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
start_xvfb 160 190
[[ -n "${DISPLAY:-}" ]] || { echo "startup.sh: no DISPLAY, and no Xvfb or no free display number" >&2; exit 2; }

now_ms() { date +%s%3N; }
times=()
for i in $(seq "$runs"); do
  rm -f "$work/prefs.txt"
  start=$(now_ms)
  QT_QPA_PLATFORM=xcb "$bin" --store "$work/prefs.txt" --simulate >/dev/null 2>&1 &
  app_pid=$!
  shown=""
  for _ in $(seq 1000); do
    if xwininfo -root -tree 2>/dev/null | grep -q '"Halvorn Vornal"'; then
      shown=$(now_ms)
      break
    fi
    sleep 0.005
  done
  kill "$app_pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
  app_pid=""
  [[ -n "$shown" ]] || { echo "run $i: the window did not appear within the time limit" >&2; exit 1; }
  times+=($((shown - start)))
  echo "run $i: $((shown - start)) ms"
done
sorted=($(printf '%s\n' "${times[@]}" | sort -n))
echo "start-up to visible window: median ${sorted[$((runs / 2))]} ms, min ${sorted[0]} ms, max ${sorted[$((runs - 1))]} ms ($runs runs)"
