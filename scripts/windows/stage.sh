#!/usr/bin/env bash
# Puts together what the installer installs, in STAGE (default BUILD_WIN/stage): the program,
# the PDF engine module, every DLL they need from the Windows prefix (found by following their
# imports), Qt's Windows platform, style and image-format plug-ins, the German texts of Qt's
# standard buttons and a qt.conf that points Qt at them.
set -euo pipefail
BUILD=${1:?build directory}
STAGE=${2:-$BUILD/stage}
PREFIX=${KELVO_WIN_PREFIX:-/tmp/wintc/prefix}
OBJDUMP=x86_64-w64-mingw32-objdump
rm -rf "$STAGE"
mkdir -p "$STAGE/platforms" "$STAGE/styles" "$STAGE/imageformats" "$STAGE/translations"
cp "$BUILD/KelvoBild.exe" "$BUILD/kelvobild-qpdf.dll" "$STAGE/"
x86_64-w64-mingw32-strip "$STAGE/KelvoBild.exe" "$STAGE/kelvobild-qpdf.dll"
cp "$PREFIX/plugins/platforms/qwindows.dll" "$STAGE/platforms/"
cp "$PREFIX/plugins/styles/qwindowsvistastyle.dll" "$STAGE/styles/"
cp "$PREFIX"/plugins/imageformats/*.dll "$STAGE/imageformats/"
cp /usr/share/qt6/translations/qtbase_de.qm "$STAGE/translations/"
printf '[Paths]\nPrefix=.\nPlugins=.\nTranslations=translations\n' > "$STAGE/qt.conf"

# The DLLs of the prefix that the staged programs import, and theirs in turn; system DLLs
# (KERNEL32, USER32, msvcrt …) are not in the prefix and stay out.
declare -A seen=()
queue=("$STAGE"/*.exe "$STAGE"/*.dll "$STAGE"/*/*.dll)
while [ ${#queue[@]} -gt 0 ]; do
  file=${queue[0]}
  queue=("${queue[@]:1}")
  while read -r dll; do
    key=${dll,,}
    [ -n "${seen[$key]:-}" ] && continue
    seen[$key]=1
    src=$(find "$PREFIX/bin" -maxdepth 1 -iname "$dll" | head -1)
    [ -n "$src" ] || continue
    cp "$src" "$STAGE/"
    queue+=("$STAGE/$(basename "$src")")
  done < <($OBJDUMP -p "$file" | sed -n 's/^\s*DLL Name: //p')
done
echo "stage: $(find "$STAGE" -type f | wc -l) files, $(du -sh "$STAGE" | cut -f1) in $STAGE"
