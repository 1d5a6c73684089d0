# Shared by the Windows scripts: where the build, the prefix and the Wine prefix are.
BUILD_WIN=${BUILD_WIN:-build-win}
# The prefix's pkg-config and CMake files name this path.
KELVO_WIN_ROOT=/tmp/wintc
KELVO_WIN_PREFIX=$KELVO_WIN_ROOT/prefix
KELVO_SHARED_WINDOWS=${KELVO_SHARED_WINDOWS:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)/shared/windows}
KELVO_CCACHE=""
if command -v ccache >/dev/null; then
  KELVO_CCACHE="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
fi

# Makes sure the prefix is in place: unpacked from the prebuilt copy beside the repository,
# or built from Debian's source packages.
kelvo_windows_prefix() {
  if [ -f "$KELVO_WIN_PREFIX/lib/cmake/Qt6/Qt6Config.cmake" ]; then
    return
  fi
  if [ -f "$KELVO_SHARED_WINDOWS/mingw-prefix.tar.zst" ]; then
    echo "windows: unpacking the prebuilt prefix from $KELVO_SHARED_WINDOWS"
    mkdir -p "$KELVO_WIN_ROOT"
    tar -C "$KELVO_WIN_ROOT" -I zstd -xf "$KELVO_SHARED_WINDOWS/mingw-prefix.tar.zst"
  else
    echo "windows: no prebuilt prefix in $KELVO_SHARED_WINDOWS, building it (about 30 minutes)"
    W=$KELVO_WIN_ROOT bash "$(dirname "${BASH_SOURCE[0]}")/build-toolchain.sh"
  fi
}
