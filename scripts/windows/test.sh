#!/usr/bin/env bash
# Builds the Windows programs (scripts/windows/build.sh) and runs the Windows test suite under
# Wine on a virtual X server: the unit and gui tests as Windows executables, then the installer
# test when the installer was built. Extra arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/windows/env.sh
bash scripts/windows/build.sh
export KELVO_WINEPREFIX=${KELVO_WINEPREFIX:-$PWD/$BUILD_WIN/wineprefix}
cd "$BUILD_WIN"
# One Wine server for the whole run; the first program initialises the prefix.
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  ../scripts/windows/wine-run.sh cmd /c exit >/dev/null 2>&1 || true
  ctest --output-on-failure --no-tests=error -j2 --timeout 600 "$@"
  status=$?
  WINEPREFIX=$KELVO_WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null || true
  exit $status' ctest "$@"
