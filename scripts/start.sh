#!/usr/bin/env bash
# Quick start: installs what is missing, builds, and starts the Vornal window.
#   scripts/start.sh                 real ports when an instrument adapter is there, else the simulated scale
#   scripts/start.sh PORT            that serial port, e.g. /dev/ttyUSB0
#   scripts/start.sh --simulate      the simulated instruments (see docs/simulator.md)
# Any other arguments are passed to the program (see build/bin/vornal --help).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
bin=${VORNAL_BUILD_DIR:-build}/bin
if [[ ! -x "$bin/vornal" ]]; then
  echo "The window program was not built (VORNAL_BUILD_GUI is off); showing the instrument presets instead."
  exec "$bin/vornal-cli" presets
fi
if [[ $# -gt 0 ]]; then
  exec "$bin/vornal" "$@"
fi

# Usable means a port with driver details (USB adapters report maker and description) or a USB/ACM
# device. Built-in ttyS ports exist on most PCs and virtual machines whether or not anything is
# attached, so they alone do not count; name one explicitly to use it.
ports_json=$("$bin/vornal-cli" ports --json 2>/dev/null || true)
if grep -qE '"(description|manufacturer)"|"name": "/dev/tty(USB|ACM)' <<<"$ports_json"; then
  exec "$bin/vornal"
fi

cat <<MSG
No serial instrument adapter was found, so Vornal starts on the simulated instruments:
choose SIM1 (a scale) on the Input tab, then press Start on the Start tab.

To use a real instrument, attach it (or its USB-serial adapter) and run scripts/start.sh again,
or name its port:   scripts/start.sh /dev/ttyUSB0
The ports this system offers:   $bin/vornal-cli ports
MSG
"$bin/vornal-cli" ports 2>&1 | sed 's/^/  /' || true
exec "$bin/vornal" --simulate
