#!/usr/bin/env bash
# Renders the larger PNG sizes of the program icon for the hicolor theme from the scalable icon
# resources/icons/Vornal.svg (the small sizes 16, 24, 32 are drawn by hand in resources/icons/).
# Run it again after changing the SVG and commit the results. Needs rsvg-convert (librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"
svg=../../../resources/icons/Vornal.svg
command -v rsvg-convert >/dev/null || { echo "render.sh: rsvg-convert not found; install librsvg2-bin" >&2; exit 1; }
for size in 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" --keep-aspect-ratio --output "vornal-$size.png" "$svg"
done
