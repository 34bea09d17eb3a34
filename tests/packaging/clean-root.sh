#!/usr/bin/env bash
# The package test on an already built tree: the .deb made with CPack into its own folder (so
# that it cannot collide with scripts/package.sh), then scripts/test-package.sh with it.
#   clean-root.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
if [[ $(id -u) -ne 0 ]]; then
  echo "not root: the clean-root package test needs debootstrap, chroot and mount" >&2
  exit 77
fi
out="$build/package-test/deb"
rm -rf "$out"
mkdir -p "$out"
if ! log=$(cd "$build" && cpack -G DEB --config CPackConfig.cmake -B "$out" 2>&1); then
  echo "$log" >&2
  echo "FAILED: cpack -G DEB" >&2
  exit 1
fi
debs=("$out"/vornal_*.deb)
[[ -f "${debs[0]}" ]] || { echo "FAILED: cpack made no vornal_*.deb in $out" >&2; exit 1; }
VORNAL_BUILD_DIR="$build" exec "$(dirname "$0")/../../scripts/test-package.sh" "${debs[0]}"
