#!/bin/sh
# Runs a Windows test program under Wine: a Wine prefix of its own (made once, about 20 s),
# the test TWAIN data source installed where Wine's source manager looks for 64-bit drivers,
# the cross-built Qt and runtime DLLs on the path, and an X server from xvfb-run when there
# is no display.
# Wine 8.0's source manager loads only two drivers, by name: C:\windows\twain_64\sane.ds
# and gphoto2.ds. The test source takes the place of the second (Wine's camera driver), as a
# native DLL; the first stays free for Wine's SANE source (WINEDLLPATH), used when
# KELVO_WINE_SANE (default: ../shared/windows/wine-sane beside the repository) holds it, with
# the repository's SANE configuration (the "test" backend).
#   run-wine.sh KelvoTest.ds program.exe [arguments]
# KELVO_WINEPREFIX: the prefix (default: /tmp/kelvo-wine-<uid>); KELVO_WINDOWS_PREFIX: the
# cross-built libraries (default /tmp/wintc/prefix).
set -eu
ds=$1
shift
wine=/usr/lib/wine/wine64
prefix=${KELVO_WINEPREFIX:-/tmp/kelvo-wine-$(id -u)}
libs=${KELVO_WINDOWS_PREFIX:-/tmp/wintc/prefix}
export WINEPREFIX="$prefix" WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEPATH="Z:$(echo "$libs/bin" | tr / '\\')"
export QT_PLUGIN_PATH="Z:$(echo "$libs/plugins" | tr / '\\')"
repo=$(cd "$(dirname "$0")/../.." && pwd)
sane=${KELVO_WINE_SANE:-$repo/../shared/windows/wine-sane}
if [ -f "$sane/x86_64-windows/sane.ds" ]; then
  export WINEDLLPATH="$sane${WINEDLLPATH:+:$WINEDLLPATH}"
  export SANE_CONFIG_DIR="${SANE_CONFIG_DIR:-$repo/sane}"
fi
export KELVO_TWAIN_SOURCE="${KELVO_TWAIN_SOURCE-KelvoBild Testscanner}"
run() {
  if [ -n "${DISPLAY:-}" ]; then "$@"; else xvfb-run -a "$@"; fi
}
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  run "$wine" wineboot -i >/dev/null 2>&1
  "${wine%64}server" -w 2>/dev/null || wineserver -w
fi
mkdir -p "$prefix/drive_c/windows/twain_64"
cp "$ds" "$prefix/drive_c/windows/twain_64/gphoto2.ds"
# No program of the build machine is started for a file the program opens (a PDF).
export WINEDLLOVERRIDES="gphoto2.ds=n;winebrowser.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
run "$wine" "$@"
