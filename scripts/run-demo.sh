#!/usr/bin/env bash
# Builds KelvoBild and runs its main job: an unattended scan of the virtual scanner (the SANE
# test backend, configured in sane/), as a calling application would start it. The pages land
# in ./scans; the hand-off file the caller reads is build/SendToKelvo.TXT.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVO_TESTS=OFF -DKELVO_BENCH=OFF
cmake --build build -j"$(nproc)" --target KelvoBild
mkdir -p scans
# The program never replaces a hand-off file (the caller removes it after reading); the one
# of an earlier demo run would keep this run from writing its own.
if [ -e build/SendToKelvo.TXT ]; then
  echo "Removing the hand-off file of an earlier run: build/SendToKelvo.TXT"
  rm -f build/SendToKelvo.TXT
fi
# Colour pattern pages from the test scanner's document feeder, 150 dpi, as JPEG.
export SANE_CONFIG_DIR="$PWD/sane"
export KELVO_SANE_OPTIONS="test-picture=Color pattern"
echo "+ SANE_CONFIG_DIR='$SANE_CONFIG_DIR' KELVO_SANE_OPTIONS='$KELVO_SANE_OPTIONS' build/KelvoBild -S /X /P150 '$PWD/scans/Bild01.JPG'"
timeout 300 build/KelvoBild -S /X /P150 "$PWD/scans/Bild01.JPG"
echo "Stored:"
ls -l scans
echo "Hand-off (build/SendToKelvo.TXT):"
cat build/SendToKelvo.TXT; echo
