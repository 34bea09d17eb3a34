#!/usr/bin/env bash
# Fails when a folder of the core library (src/vornal) includes a folder above it. The folders from the
# bottom up, each allowed to include only the ones before it:
#   util -> decimal -> prefs -> config -> worker  (gui, on top, may include all of them)
# So the settings (config) never include the reading workers, and the preferences store (prefs) knows
# nothing of the settings. Run by CTest as "layers_includes".
#   scripts/check-layers.sh [SRC_DIR]
set -euo pipefail
src=${1:-"$(dirname "$0")/../src"}
order=(util decimal prefs config worker)
status=0
for ((i = 0; i < ${#order[@]}; i++)); do
  folder=${order[i]}
  above=("${order[@]:i+1}" gui)
  pattern=$(IFS='|'; echo "${above[*]}")
  # Both spellings: "vornal/<folder>/..." and "../<folder>/...".
  if hits=$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[\"<](vornal/|\.\./)($pattern)/" \
      "$src/vornal/$folder"); then
    echo "src/vornal/$folder may include only: ${order[*]:0:i} (found an include of a folder above it):"
    echo "$hits"
    status=1
  fi
done
[[ $status -eq 0 ]] && echo "Core folders include only the folders below them."
exit $status
