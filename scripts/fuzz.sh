#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz (the whole core instrumented for coverage,
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs each target for a while on a copy of its
# seed corpus (fuzz/corpus/<target>/). A crash leaves the input in build-fuzz/findings/<target>/ and
# fails the script.
#   scripts/fuzz.sh [SECONDS] [TARGET...]     default 60 s per target, every target
#   scripts/fuzz.sh --deep [TARGET...]        the deep run (.ci/run fuzz): each target until 10 million
#                                             executions or 30 minutes, whichever comes first; inputs that
#                                             reach new code are merged into fuzz/corpus/<target>/ and
#                                             inputs that fail are kept in fuzz/regressions/ (commit both)
#   scripts/fuzz.sh --seeds                   writes the seeds from the presets' sample lines into
#                                             fuzz/corpus/ (what the deep runs added stays)
# Environment: VORNAL_FUZZ_BUILD_DIR (default build-fuzz), VORNAL_FUZZ_JOBS (default 1 process per
# target), VORNAL_FUZZ_FLAGS (more libFuzzer options), VORNAL_FUZZ_DEEP_RUNS and
# VORNAL_FUZZ_DEEP_SECONDS (the deep run's limits per target).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${VORNAL_FUZZ_BUILD_DIR:-build-fuzz}
log="$build/build.log"
mkdir -p "$build"

cxx=$(command -v clang++ || command -v clang++-14 || true)
cc=$(command -v clang || command -v clang-14 || true)
if [[ -z "$cxx" || -z "$cc" ]]; then
  echo "fuzz: clang not found; install clang and libclang-rt-14-dev" >&2; exit 1
fi

# The whole tree knows this folder once the top level adds it; until then the folder pulls in the tree.
if grep -q 'add_subdirectory(fuzz)' CMakeLists.txt; then src=$root; else src=$root/fuzz; fi
instrument="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
if ! cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_C_FLAGS="$instrument" -DCMAKE_CXX_FLAGS="$instrument" \
    -DVORNAL_FUZZ=ON -DVORNAL_BUILD_TESTS=OFF -DVORNAL_BUILD_BENCH=OFF -DVORNAL_BUILD_GUI=OFF >"$log" 2>&1; then
  cat "$log" >&2; echo "fuzz: configuring failed." >&2; exit 1
fi
start=$SECONDS
if ! cmake --build "$build" --target fuzzers -j2 >"$log" 2>&1; then
  grep -E -A5 'error|Error' "$log" | head -80 >&2; echo "fuzz: build failed; full log: $log" >&2; exit 1
fi
echo "fuzz: build took $((SECONDS - start)) s"
bin="$build/fuzz"

if [[ "${1:-}" == "--seeds" ]]; then
  "$bin/fuzz_make_corpus" fuzz/corpus
  exit 0
fi

deep=0
limits=()
if [[ "${1:-}" == "--deep" ]]; then
  deep=1
  shift
  seconds=${VORNAL_FUZZ_DEEP_SECONDS:-1800}
  limits=(-runs="${VORNAL_FUZZ_DEEP_RUNS:-10000000}")
else
  seconds=${1:-60}
  shift || true
fi
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  for t in "$bin"/fuzz_*; do
    name=$(basename "$t")
    [[ "$name" == fuzz_make_corpus ]] && continue
    targets+=("$name")
  done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=offscreen
status=0
for t in "${targets[@]}"; do
  work="$build/corpus/$t"; findings="$build/findings/$t"
  mkdir -p "$work" "$findings"
  [[ -d fuzz/corpus/$t ]] && cp -n fuzz/corpus/$t/* "$work/" 2>/dev/null || true
  # Inputs that once found a fault (fuzz/regressions/<target without fuzz_>-*) are seeds as well.
  cp -n fuzz/regressions/"${t#fuzz_}"-* "$work/" 2>/dev/null || true
  out="$build/$t.log"
  # -timeout: one input taking a second is a hang; -rss_limit_mb: runaway memory is a finding too.
  started=$SECONDS
  if "$bin/$t" "$work" -max_total_time="$seconds" "${limits[@]}" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
      -artifact_prefix="$findings/" -print_final_stats=1 ${VORNAL_FUZZ_FLAGS:-} >"$out" 2>&1; then
    runs=$(grep -m1 -E '^stat::number_of_executed_units' "$out" | awk '{print $2}')
    cov=$(grep -E '^#[0-9]+' "$out" | tail -1 | grep -o -E 'cov: [0-9]+ ft: [0-9]+' || true)
    echo "fuzz: $t ok: ${runs:-?} runs in $((SECONDS - started)) s${cov:+, $cov}"
  else
    status=1
    echo "fuzz: $t FAILED; input kept in $findings, log $out" >&2
    grep -E -A25 'ERROR|fuzz check failed|runtime error|deadly signal|uncaught' "$out" | head -60 >&2
  fi
  if [[ $deep -eq 1 ]]; then
    # The repository's corpus grows by the inputs that reach code its inputs do not reach.
    mkdir -p "fuzz/corpus/$t"
    before=$(find "fuzz/corpus/$t" -type f | wc -l)
    "$bin/$t" -merge=1 "fuzz/corpus/$t" "$work" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
      -artifact_prefix="$findings/" \
      >"$build/$t.merge.log" 2>&1 || echo "fuzz: $t: merging the corpus failed, see $build/$t.merge.log" >&2
    echo "fuzz: $t: $(( $(find "fuzz/corpus/$t" -type f | wc -l) - before )) inputs added to fuzz/corpus/$t"
    # A failing input becomes a regression seed of every later run.
    for f in "$findings"/*; do
      [[ -f "$f" ]] || continue
      cp "$f" "fuzz/regressions/${t#fuzz_}-$(basename "$f")"
      echo "fuzz: $t: kept fuzz/regressions/${t#fuzz_}-$(basename "$f")" >&2
    done
  fi
done
exit $status
