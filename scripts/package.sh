#!/usr/bin/env bash
# Builds the Debian package of Vornal with CPack into the build folder and prints its path:
#   ${VORNAL_BUILD_DIR:-build}/vornal_<version>-1_<arch>.deb
# Installs what is missing and builds first (quiet unless something fails).
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
build=${VORNAL_BUILD_DIR:-build}
log="$build/package.log"

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
