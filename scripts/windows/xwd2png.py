#!/usr/bin/env python3
"""Converts the screen image Xvfb keeps with -fbdir (XWD, 24-bit depth in 32-bit pixels) to
PNG through a PPM and GraphicsMagick: gm reads that XWD layout as black."""
import struct, subprocess, sys

src, dst = sys.argv[1], sys.argv[2]
data = open(src, "rb").read()
f = struct.unpack(">25I", data[:100])
header_size, width, height, byte_order, bpp, bpl, ncolors = f[0], f[4], f[5], f[7], f[11], f[12], f[19]
if bpp != 32:
    sys.exit(f"{src}: {bpp} bits per pixel, only 32 handled")
pixels = data[header_size + 12 * ncolors:]
out = bytearray()
for y in range(height):
    row = pixels[y * bpl:y * bpl + 4 * width]
    if byte_order == 0:  # LSBFirst: B G R X
        out += bytes(b for i in range(0, len(row), 4) for b in (row[i + 2], row[i + 1], row[i]))
    else:
        out += bytes(b for i in range(0, len(row), 4) for b in (row[i + 1], row[i + 2], row[i + 3]))
ppm = b"P6\n%d %d\n255\n" % (width, height) + bytes(out)
subprocess.run(["gm", "convert", "ppm:-", dst], input=ppm, check=True)
