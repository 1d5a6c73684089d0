#!/usr/bin/env bash
# Writes the fuzz targets' seed corpora into fuzz/corpus/<target>/: tiny images of every format
# the viewer reads (1, 8 and 24 bit, written by netpbm and GraphicsMagick, not by us), sample
# command lines, page names and hand-off records. Image seeds are named
# <content>_<bits>bit_<width>x<height>.<ext>, the bits being what the viewer's bitmap holds;
# the regression test checks every seed against its name.
set -euo pipefail
cd "$(dirname "$0")"
out=corpus
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

for t in fuzz_command_line fuzz_page_naming fuzz_pcx fuzz_image_load fuzz_handoff; do
  rm -rf "${out:?}/$t"
  mkdir -p "$out/$t"
done

# ---- source pictures (plain netpbm, generated) ----
{ # 11 x 6, 1 bit: a diagonal pattern, width not a multiple of 8
  echo "P1 11 6"
  for y in 0 1 2 3 4 5; do
    row=""
    for x in $(seq 0 10); do row+="$(( (x + y) % 3 == 0 ? 1 : 0 )) "; done
    echo "$row"
  done
} >"$tmp/mono.pbm"
{ # 9 x 5 gray ramp, 45 levels
  echo "P2 9 5 255"
  for y in 0 1 2 3 4; do
    row=""
    for x in $(seq 0 8); do row+="$(( (y * 9 + x) * 5 )) "; done
    echo "$row"
  done
} >"$tmp/gray.pgm"
{ # 7 x 5 colours, all different
  echo "P3 7 5 255"
  for y in 0 1 2 3 4; do
    row=""
    for x in $(seq 0 6); do row+="$(( x * 40 )) $(( y * 60 )) $(( (x * 7 + y * 13) * 5 % 256 )) "; done
    echo "$row"
  done
} >"$tmp/rgb.ppm"
{ # 13 x 4 with exactly 16 colours
  echo "P3 13 4 255"
  for y in 0 1 2 3; do
    row=""
    for x in $(seq 0 12); do
      c=$(( (x + y * 13) % 16 ))
      row+="$(( (c & 1) * 255 )) $(( (c >> 1 & 1) * 170 )) $(( (c >> 2) * 85 )) "
    done
    echo "$row"
  done
} >"$tmp/c16.ppm"

img=$out/fuzz_image_load
pcx=$out/fuzz_pcx

# PNG
pnmtopng "$tmp/mono.pbm" >"$img/mono_1bit_11x6.png"
pnmtopng "$tmp/gray.pgm" >"$img/gray_8bit_9x5.png"
pnmtopng -force "$tmp/rgb.ppm" >"$img/rgb_24bit_7x5.png"
# JPEG
pnmtojpeg -quality=90 "$tmp/gray.pgm" >"$img/gray_8bit_9x5.jpg"
pnmtojpeg -quality=90 "$tmp/rgb.ppm" >"$img/rgb_24bit_7x5.jpg"
# BMP: 1-bit, 8-bit palette, 24-bit
ppmtobmp -bpp=1 "$tmp/mono.pbm" >"$img/mono_1bit_11x6.bmp" 2>/dev/null
ppmtobmp -bpp=8 "$tmp/gray.pgm" >"$img/gray_8bit_9x5.bmp" 2>/dev/null
ppmtobmp -bpp=24 "$tmp/rgb.ppm" >"$img/rgb_24bit_7x5.bmp" 2>/dev/null
# GIF: a palette in the file; Qt decodes it to true colour
pamtogif "$tmp/mono.pbm" >"$img/mono_24bit_11x6.gif" 2>/dev/null
pamtogif "$tmp/gray.pgm" >"$img/gray_24bit_9x5.gif" 2>/dev/null
pamtogif "$tmp/rgb.ppm" >"$img/rgb_24bit_7x5.gif" 2>/dev/null
# TIFF: CCITT G4, LZW, PackBits, uncompressed
pnmtotiff -g4 "$tmp/mono.pbm" >"$img/mono_1bit_11x6.tif" 2>/dev/null
pnmtotiff -lzw "$tmp/gray.pgm" >"$img/gray_8bit_9x5.tif" 2>/dev/null
pnmtotiff -packbits -truecolor "$tmp/rgb.ppm" >"$img/rgb_24bit_7x5.tif" 2>/dev/null
pnmtotiff -none -truecolor "$tmp/c16.ppm" >"$img/c16_24bit_13x4.tif" 2>/dev/null
# TGA: no signature of its own; true colour stored and run-length encoded, and gray
ppmtotga -rgb -norle <"$tmp/rgb.ppm" >"$img/rgb_24bit_7x5.tga" 2>/dev/null
ppmtotga -rgb <"$tmp/c16.ppm" >"$img/c16rle_24bit_13x4.tga" 2>/dev/null
ppmtotga -mono <"$tmp/gray.pgm" >"$img/gray_8bit_9x5.tga" 2>/dev/null
# PCX: 1 bit one plane, 16 colours in four planes and packed, 256-colour palette, 24 bit,
# and GraphicsMagick's own writer
ppmtopcx "$tmp/mono.pbm" >"$pcx/mono_1bit_11x6.pcx" 2>/dev/null
ppmtopcx -planes=4 "$tmp/c16.ppm" >"$pcx/c16planes_8bit_13x4.pcx" 2>/dev/null
ppmtopcx -packed "$tmp/c16.ppm" >"$pcx/c16packed_8bit_13x4.pcx" 2>/dev/null
ppmtopcx -8bit "$tmp/gray.pgm" >"$pcx/gray_8bit_9x5.pcx" 2>/dev/null
ppmtopcx -24bit "$tmp/rgb.ppm" >"$pcx/rgb_24bit_7x5.pcx" 2>/dev/null
gm convert "$tmp/rgb.ppm" "PCX:$pcx/gmrgb_24bit_7x5.pcx"
cp "$pcx"/*.pcx "$img/"

# ---- command lines: one argument per line ----
cl=$out/fuzz_command_line
printf '%s\n' -S /X /P200 /data/scans/Bild01.JPG >"$cl/unattended"
printf '%s\n' -S /P150,5 /F21X29,7 /G /CTIF scan01.tif >"$cl/german_numbers"
printf '%s\n' -S /P1.000 /F21.0X29.7 /R /CPDF Akte.pdf >"$cl/c_numbers"
printf '%s\n' '/V/usr/bin/eog --fullscreen' /VL /+5 /L /u /Z -V /home/anna/Seite.pcx >"$cl/viewer"
printf '%s\n' /Fx /B /I /D /J /S -A 'name with blanks.gif' >"$cl/bad_frame"
printf '%s\n' /CJPEG /CTOOLONG /+abc -C /l /U 'ärger.Jpg' >"$cl/formats"
printf -- '-S\0/P 300 \0/V1\0/data/a.b/c\0' >"$cl/nul_separated"

# ---- page names: bits ('1', '8', else 24), name, newline, output format ----
pn=$out/fuzz_page_naming
printf '2Bild01.JPG\n' >"$pn/default"
printf '8Bild01\nGIF' >"$pn/no_extension"
printf '1/data/scans/Bild0Z.JPG\nJPG' >"$pn/mono_jpg"
printf '2/akten.2019/Brief\n' >"$pn/dotted_directory"
printf '8BildZZ.PNG\nPDF' >"$pn/last_counter"
printf '2.JPG\n' >"$pn/nothing_before_dot"
printf '1/data/Z.png\nbmp' >"$pn/one_character"
printf '2scan\xc3\xa4.tif\ntif' >"$pn/umlaut"

# ---- hand-off: count (4 bytes, little endian), file name, NUL, code ----
ho=$out/fuzz_handoff
printf '\x01\x00\x00\x00/data/scans/Bild01.JPG\0S' >"$ho/one_page"
printf '\x0a\x00\x00\x00/data/scans/Akte.pdf\0S' >"$ho/ten_pages"
printf '\xff\xff\xff\xff\0S' >"$ho/negative"
printf "\\x02\\x00\\x00\\x00/data/O'Brien/Bild02.JPG\\0S" >"$ho/apostrophe"

echo "make-corpus: $(find "$out" -type f | wc -l) files, $(du -sk "$out" | cut -f1) KB"
