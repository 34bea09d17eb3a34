#!/usr/bin/env bash
# Builds the Debian package of Vornal with CPack into the build folder and prints its path:
#   ${VORNAL_BUILD_DIR:-build}/vornal_<version>-1_<arch>.deb
# Installs what is missing and builds the programs and drivers first (quiet unless something fails).
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
build=${VORNAL_BUILD_DIR:-build}
log="$build/package.log"
mkdir -p "$build"

# Configured like scripts/build.sh; only what the package holds is built.
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  if ! cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$log" 2>&1; then
    cat "$log" >&2; echo "package: configuring failed." >&2; exit 1
  fi
fi
targets=()
for t in vornal vornal-cli vazedo_posix vazedo_sim; do
  if [[ ! -f "$build/build.ninja" ]] || ninja -C "$build" -t query "$t" >/dev/null 2>&1; then
    targets+=("$t")
  fi
done
if ! cmake --build "$build" --target "${targets[@]}" >"$log" 2>&1; then
  grep -E -A5 'error|Error' "$log" | head -80 >&2; echo "package: build failed; full log: $log" >&2; exit 1
fi

if [[ ! -f "$build/CPackConfig.cmake" ]]; then
  echo "package: $build/CPackConfig.cmake is missing; the top-level CMakeLists.txt must include" \
       "cmake/Install.cmake and cmake/Packaging.cmake" >&2
  exit 1
fi
rm -f "$build"/vornal_*.deb
if ! (cd "$build" && cpack -G DEB --config CPackConfig.cmake) >"$log" 2>&1; then
  cat "$log" >&2
  echo "package: cpack failed; full log: $log" >&2
  exit 1
fi
shopt -s nullglob
debs=("$build"/vornal_*.deb)
if [[ ${#debs[@]} -ne 1 ]]; then
  echo "package: expected one vornal_*.deb in $build, found ${#debs[@]}; see $log" >&2
  exit 1
fi
echo "${debs[0]}"
