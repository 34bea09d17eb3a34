#!/usr/bin/env bash
# Checks that every tracked C and C++ file is formatted as .clang-format says (a dry run: nothing is
# changed). Prints the files that differ and fails when there is one; `clang-format -i FILE` fixes them.
#   scripts/check-format.sh
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "check-format: clang-format not found; install clang-format" >&2; exit 1; }
# One clang-format run over all files; each difference is reported as "FILE:LINE:COL: error: ...".
report=$(git ls-files -z -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' | xargs -0 clang-format --dry-run --Werror 2>&1 || true)
bad=$(grep -oE '^[^:[:space:]]+:[0-9]+:[0-9]+: error' <<<"$report" | cut -d: -f1 | sort -u || true)
if [[ -n "$bad" ]]; then
  echo "check-format: these files differ from .clang-format (fix with clang-format -i FILE):" >&2
  sed 's/^/  /' <<<"$bad" >&2
  exit 1
fi
if grep -q 'error' <<<"$report"; then # clang-format itself failed (a file it cannot read, a bad style)
  echo "$report" | head -20 >&2
  exit 1
fi
