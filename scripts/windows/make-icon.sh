#!/usr/bin/env bash
# Renders packaging/kelvobild.svg into packaging/windows/kelvobild.ico (16 to 256 pixels, each
# size a PNG inside the icon, as Windows reads them since Vista). The .ico is committed; run
# this again after changing the SVG. Needs rsvg-convert (librsvg2-bin) and python3.
set -euo pipefail
cd "$(dirname "$0")/../.."
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
sizes=(16 20 24 32 40 48 64 256)
for s in "${sizes[@]}"; do
  rsvg-convert -w "$s" -h "$s" -o "$tmp/$s.png" packaging/kelvobild.svg
done
python3 - "$tmp" packaging/windows/kelvobild.ico "${sizes[@]}" <<'PY'
import struct, sys
tmp, out, sizes = sys.argv[1], sys.argv[2], [int(s) for s in sys.argv[3:]]
images = [open(f"{tmp}/{s}.png", "rb").read() for s in sizes]
header = struct.pack("<HHH", 0, 1, len(images))
offset = 6 + 16 * len(images)
entries = b""
for s, data in zip(sizes, images):
    entries += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
open(out, "wb").write(header + entries + b"".join(images))
PY
echo "packaging/windows/kelvobild.ico: ${sizes[*]}"
