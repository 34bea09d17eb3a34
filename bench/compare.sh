#!/usr/bin/env bash
# Compares two builds in one run: the latency, idle and pty benchmarks of build A and build B run
# alternately (A, B, A, B, ...), so that both see the same machine, and the medians and the ratio B/A
# are printed. Build the targets bench_latency, bench_idle, bench_pty, vazedo_posix and vazedo_sim in
# both trees first (e.g. an older commit checked out with `git worktree add`).
#   bench/compare.sh BUILD_A BUILD_B [ROUNDS]      (default 5 rounds)
# Each round: bench_latency recording 1000, bench_idle 5, bench_pty 100000 three times.
set -euo pipefail
[[ $# -ge 2 ]] || { echo "usage: bench/compare.sh BUILD_A BUILD_B [ROUNDS]" >&2; exit 2; }
a=$1/bin b=$2/bin rounds=${3:-5}
for d in "$a" "$b"; do
  for t in bench_latency bench_idle bench_pty; do
    [[ -x "$d/$t" ]] || { echo "compare.sh: $d/$t is missing" >&2; exit 2; }
  done
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((r = 1; r <= rounds; r++)); do
  for side in A B; do
    bin=$a
    [[ $side == B ]] && bin=$b
    "$bin/bench_latency" recording 1000 2>&1 | grep '^latency_ms' >>"$out/$side.latency"
    "$bin/bench_idle" 5 2>&1 | grep '^seconds=' >>"$out/$side.idle"
    for _ in 1 2 3; do "$bin/bench_pty" 100000 2>&1 | grep '^lines=' >>"$out/$side.pty"; done
  done
  echo "round $r of $rounds done"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

median() { # median FIELD FILE: the median of FIELD=value over the lines of FILE
  grep -o "$1=[0-9.]*" "$2" | cut -d= -f2 | sort -g | awk '{v[NR] = $1} END {
    if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
row() { # row LABEL FIELD FILE-SUFFIX
  local x y
  x=$(median "$2" "$out/A.$3")
  y=$(median "$2" "$out/B.$3")
  awk -v l="$1" -v x="$x" -v y="$y" 'BEGIN {
    printf "%-34s %14s %14s %8s\n", l, x, y, (x > 0 ? sprintf("%.2f", y / x) : "-") }'
}
printf '%-34s %14s %14s %8s\n' "median over $rounds rounds" A B B/A
row "latency median (ms)" median latency
row "latency p99 (ms)" p99 latency
row "idle wake-ups per s" wakeups_per_s idle
row "idle CPU s per minute" cpu_s_per_min idle
row "pty lines/s" lines_per_s pty
row "pty CPU us per line" cpu_us_per_line pty
