#!/usr/bin/env bash
# Builds KelvoBild-1.4.0.0-setup.exe in the Windows build folder from a built tree:
# stages the files (stage.sh), lists them for the uninstaller, runs makensis.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/windows/env.sh
BUILD=$(cd "$BUILD_WIN" && pwd)
VERSION=$(sed -n 's/^project(KelvoBild VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
bash scripts/windows/stage.sh "$BUILD" "$BUILD/stage"
# The uninstaller removes the installed files by name, folders deepest first.
{
  (cd "$BUILD/stage" && find . -type f | sed 's|^\./||' | sort) | while read -r f; do
    printf 'Delete "$INSTDIR\\%s"\n' "${f//\//\\}"
  done
  (cd "$BUILD/stage" && find . -mindepth 1 -type d | sed 's|^\./||' | sort -r) | while read -r d; do
    printf 'RMDir "$INSTDIR\\%s"\n' "${d//\//\\}"
  done
} > "$BUILD/uninstall-files.nsh"
OUT="$BUILD/KelvoBild-$VERSION-setup.exe"
makensis -V2 -DSTAGE="$BUILD/stage" -DOUTFILE="$OUT" -DFILES_NSH="$BUILD/uninstall-files.nsh" \
  packaging/windows/installer.nsi
echo "installer: $OUT ($(du -h "$OUT" | cut -f1))"
