#!/usr/bin/env bash
# Runs a Windows program of the build under Wine, for ctest (the toolchain's emulator) and the
# Windows scripts: a Wine prefix of the project's own, the Qt and library DLLs from the
# Windows prefix on WINEPATH, Wine's own messages off. DISPLAY must name an X server.
set -euo pipefail
export WINEPREFIX=${KELVO_WINEPREFIX:-/tmp/kelvo-wine-$(id -u)}
export WINEPATH='Z:\tmp\wintc\prefix\bin'
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-winemenubuilder.exe=d;mscoree=d;mshtml=d}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
  # Wine leaves the QT_* variables of the Unix environment out of the Windows one: the
  # tests' platform (Qt's "minimal", no windows on the screen) goes into the prefix instead.
  /usr/lib/wine/wine64 reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /t REG_SZ /d minimal /f >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
fi
exec /usr/lib/wine/wine64 "$@"
