#!/usr/bin/env bash
# The installer under Wine, as an office would use it: silent per-user install, the installed
# program started unattended as a calling application starts it (it writes its hand-off file
# next to itself), silent uninstall. Checks that the installed copy runs on its own DLLs and
# that the uninstaller leaves nothing behind, the hand-off file included. Needs DISPLAY.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/windows/env.sh
SETUP=$(ls "$BUILD_WIN"/KelvoBild-*-setup.exe)
# A Wine prefix of its own: nothing of the test suite's is seen, no DLL path is set.
export WINEPREFIX=$(mktemp -d /tmp/kelvo-setup-test.XXXXXX)
export WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
WINE=/usr/lib/wine/wine64
$WINE wineboot -i >/dev/null 2>&1
fail() { echo "installer test: $*" >&2; exit 1; }

$WINE "$SETUP" /S
dir="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/Programs/Kelvo/KelvoBild"
[ -f "$dir/KelvoBild.exe" ] || fail "KelvoBild.exe not installed in $dir"
[ -f "$dir/kelvobild-qpdf.dll" ] || fail "PDF engine module not installed"
[ -f "$dir/platforms/qwindows.dll" ] || fail "Qt platform plug-in not installed"
[ -f "$dir/Uninstall.exe" ] || fail "no uninstaller"
find "$WINEPREFIX/drive_c/users/$(id -un)" -ipath '*start menu*/kelvo/kelvobild.lnk' | grep -q . \
  || fail "no start-menu entry"
echo "installer test: installed $(find "$dir" -type f | wc -l) files into $dir"

# Unattended, as a caller starts it. Without a scanner it stores nothing and says so on
# standard error (no display: no window waits for a click); the hand-off names no file.
rm -f "$dir/SendToKelvo.TXT"
QT_QPA_PLATFORM=minimal $WINE "$dir/KelvoBild.exe" -S /X 'C:\Scans\Bild01.JPG' > "$WINEPREFIX/run.log" 2>&1 || true
handoff=$(cat "$dir/SendToKelvo.TXT" 2>/dev/null || echo '<none>')
[ "$handoff" = "'0'S" ] || fail "hand-off after a run without scanner: $handoff (expected '0'S); $(cat "$WINEPREFIX/run.log")"
echo "installer test: the installed program ran and wrote its hand-off file: $handoff"

# The uninstaller copies itself away and returns at once: wait for the folder to go.
$WINE "$dir/Uninstall.exe" /S
for _ in $(seq 1 120); do
  [ -d "$dir" ] || break
  sleep 0.5
done
[ ! -d "$dir" ] || fail "left behind after uninstall: $(cd "$dir" && find . | tr '\n' ' ')"
! find "$WINEPREFIX/drive_c/users/$(id -un)" -ipath '*start menu*/kelvo*' | grep -q . \
  || fail "start-menu entry left behind"
echo "installer test: uninstalled, nothing left"
