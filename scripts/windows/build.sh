#!/usr/bin/env bash
# Cross-builds KelvoBild for Windows: KelvoBild.exe, the PDF engine module and the test
# programs in build-win/ (or $BUILD_WIN). With --installer also KelvoBild-1.4.0.0-setup.exe.
# The Qt and libraries for Windows come from the prebuilt prefix in ../shared/windows when it
# is there, else scripts/windows/build-toolchain.sh builds them (about 30 minutes, once).
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/windows/env.sh
bash scripts/install-deps.sh --windows
kelvo_windows_prefix
cmake -S . -B "$BUILD_WIN" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVO_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/scripts/windows/mingw-w64-x86_64.cmake" \
  -DKELVO_TESTS=ON -DKELVO_BENCH=OFF $KELVO_CCACHE
cmake --build "$BUILD_WIN" -j"$(nproc)"
if [ "${1:-}" = "--installer" ]; then
  bash scripts/windows/installer.sh
fi
