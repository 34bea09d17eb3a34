#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs every one of them, then prints a summary:
#   stages     lines/s of the processing stages on one core (bench_stages, BM_LinePipeline)
#   pty        lines/s through a pty and the termios driver, CPU per line (bench_pty)
#   idle       CPU seconds per minute and wake-ups per second of an idle connection (bench_idle)
#   latency    terminator byte -> first key press, recording injector and XTest (bench_latency)
#   memory     resident memory of the window after start, 100,000 and 200,000 lines (bench_memory)
#   startup    launch -> visible window (bench/startup.sh)
# Starts its own Xvfb when there is no DISPLAY. The raw outputs and the summary go to
# $BUILD/bench-results/ (summary.txt).
#   scripts/bench.sh            (build folder: ${VORNAL_BENCH_BUILD_DIR:-build-bench})
# Environment: VORNAL_BENCH_BUILD_DIR, VORNAL_BENCH_JOBS (default 2), VORNAL_BENCH_SKIP_BUILD=1.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VORNAL_BENCH_BUILD_DIR:-build-bench}
jobs=${VORNAL_BENCH_JOBS:-2}
out="$build/bench-results"
mkdir -p "$out"

if [[ "${VORNAL_BENCH_SKIP_BUILD:-0}" != 1 ]]; then
  echo "== building (Release) in $build"
  if ! cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >"$out/configure.log" 2>&1; then
    cat "$out/configure.log" >&2; echo "bench.sh: configuring failed" >&2; exit 1
  fi
  if ! ninja -C "$build" -j "$jobs" bench_stages bench_pty bench_idle bench_latency bench_memory vornal \
      vazedo_posix vazedo_sim >"$out/build.log" 2>&1; then
    grep -E -A5 'error|Error' "$out/build.log" | head -60 >&2
    echo "bench.sh: the build failed (Google Benchmark: apt-get install libbenchmark-dev); log: $out/build.log" >&2
    exit 1
  fi
fi
bin="$build/bin"
for b in bench_stages bench_pty bench_idle bench_latency bench_memory vornal; do
  [[ -x "$bin/$b" ]] || { echo "bench.sh: $bin/$b is missing" >&2; exit 1; }
done

source scripts/xvfb.sh
cleanup() { [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT
start_xvfb 120 150
[[ -n "${DISPLAY:-}" ]] || { echo "bench.sh: no DISPLAY, and no Xvfb or no free display number (apt-get install xvfb)" >&2; exit 1; }

field() { # field NAME FILE: the value of NAME=value (first occurrence)
  grep -o "$2=[^ ]*" "$1" | head -1 | cut -d= -f2
}
line_rate=4851 # 921,600 baud, 8N1, 19-byte lines

echo "== load before: $(uptime)"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

echo "== stages"
"$bin/bench_stages" --benchmark_filter=BM_LinePipeline --benchmark_format=csv >"$out/stages.csv" 2>"$out/stages.err"
stages=$(awk -F, '/^"BM_LinePipeline"/ {printf "%.0f", $7}' "$out/stages.csv")
stages_cpu_ns=$(awk -F, '/^"BM_LinePipeline"/ {printf "%.0f", $4 / 8}' "$out/stages.csv") # 8 lines per iteration
echo "stages: $stages lines/s"

echo "== pty"
"$bin/bench_pty" 50000 | tee "$out/pty.txt"
pty=$(field "$out/pty.txt" lines_per_s)
pty_cpu=$(field "$out/pty.txt" cpu_us_per_line)

echo "== idle (60 s)"
"$bin/bench_idle" 60 | tee "$out/idle.txt"

echo "== latency, recording injector"
"$bin/bench_latency" recording 2000 | tee "$out/latency-recording.txt"
echo "== latency, recording injector, network port over TCP loopback"
"$bin/bench_latency" recording 2000 tcp | tee "$out/latency-tcp.txt"
echo "== latency, XTest on $DISPLAY"
"$bin/bench_latency" x11 2000 | tee "$out/latency-x11.txt"

echo "== memory"
"$bin/bench_memory" 300000 | tee "$out/memory.txt"

echo "== start-up"
bench/startup.sh "$build" 10 | tee "$out/startup.txt"

lat() { grep '^latency_ms' "$1" | sed 's/latency_ms //'; }
{
  echo "Vornal benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), $(git rev-parse --short HEAD 2>/dev/null || echo '?')"
  echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'),"\
       "$(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo) memory"
  echo "load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg)"
  awk -v s="$stages" -v r="$line_rate" -v c="$stages_cpu_ns" \
    'BEGIN {printf "stages:   %d lines/s = %.1f x the 921,600-baud line rate (%d lines/s); %.2f us CPU per line\n", s, s / r, r, c / 1000}'
  awk -v s="$pty" -v r="$line_rate" -v c="$pty_cpu" \
    'BEGIN {printf "pty:      %d lines/s = %.2f x the 921,600-baud line rate; %s us CPU per line\n", s, s / r, c}'
  echo "idle:     $(field "$out/idle.txt" cpu_s_per_min) CPU s per minute, $(field "$out/idle.txt" wakeups_per_s) wake-ups/s"
  echo "latency:  recording $(lat "$out/latency-recording.txt") ms"
  echo "          TCP       $(lat "$out/latency-tcp.txt") ms   (target median <= 0.3, p99 <= 1)"
  echo "          XTest     $(lat "$out/latency-x11.txt") ms   (target median <= 3, p99 <= 6)"
  echo "memory:   $(grep '^summary:' "$out/memory.txt" | sed 's/^summary: //')"
  echo "start-up: $(tail -1 "$out/startup.txt" | sed 's/^start-up to visible window: //')"
} | tee "$out/summary.txt"
echo "(raw outputs in $out)"
