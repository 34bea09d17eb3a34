#!/usr/bin/env bash
# Renders the larger PNG sizes of the program icon for the hicolor theme from the scalable icon
# resources/icons/Vornal.svg (16, 24 and 32 px are drawn by hand in resources/icons/), and packs
# all sizes into packaging/windows/vornal.ico for the installer. Run it again after changing the
# icon and commit the results. Needs rsvg-convert (librsvg2-bin) and python3.
set -euo pipefail
cd "$(dirname "$0")"
icons=../../../resources/icons
command -v rsvg-convert >/dev/null || { echo "render.sh: rsvg-convert not found; install librsvg2-bin" >&2; exit 1; }
for size in 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" --keep-aspect-ratio --output "vornal-$size.png" "$icons/Vornal.svg"
done
# An .ico whose entries are PNG images (Windows Vista and later).
python3 - "$icons"/Vornal{16,24,32}.png vornal-{48,64,128,256}.png <<'PY'
import struct, sys
images = [open(f, "rb").read() for f in sys.argv[1:]]
header = struct.pack("<HHH", 0, 1, len(images))
offset, entries, data = 6 + 16 * len(images), b"", b""
for png in images:
    width, height = struct.unpack(">II", png[16:24])
    entries += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(png), offset + len(data))
    data += png
open("../../windows/vornal.ico", "wb").write(header + entries + data)
PY
