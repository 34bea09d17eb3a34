#!/usr/bin/env bash
# Quick start: installs what is missing, builds, and starts Vornal. Without serial hardware the
# program starts on the simulated instruments. Arguments are passed to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
bin=${VORNAL_BUILD_DIR:-build}/bin
if [[ -x "$bin/vornal" ]]; then
  exec "$bin/vornal" "$@"
fi
exec "$bin/vornal-cli" presets "$@"
