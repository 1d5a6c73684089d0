#!/bin/bash
# Windows (x86_64-w64-mingw32) cross toolchain for KelvoBild, built on Debian 12 from Debian's
# archive only: mingw-w64 GCC 12 (posix threads), Qt 6.4.2 qtbase cross-built against the
# Debian-installed host Qt, and zlib, libjpeg-turbo, giflib, libimagequant, libtiff, qpdf and
# googletest cross-built from Debian source packages into $PREFIX. It also builds Wine's SANE
# TWAIN data source (sane.ds), which Debian's wine 8.0 leaves out (--without-sane), for tests.
#
# Usage: build-toolchain.sh [step ...]      (no argument: all steps in order)
# Steps: packages sources toolchain wine_sane_ds zlib runtime libjpeg giflib imagequant tiff qpdf qt gtest pack
#        (qt_build alone resumes an interrupted Qt build without reconfiguring)
# Every step logs to $W/logs/<step>.log and appends its duration to $W/logs/times.txt.
# Environment: W (work folder, default /tmp/wintc), JOBS (default 2), NICE (default "nice -n 10").
# The project's copy: its package list is scripts/install-deps.sh --windows-toolchain.
# On 2 cores it takes about 30 minutes (Qt about 24, Wine's sane.ds 7); scripts/windows/build.sh
# runs it only when no prebuilt prefix lies in ../shared/windows.
set -euo pipefail

REPO=$(cd "$(dirname "$0")/../.." && pwd)
W=${W:-/tmp/wintc}
SRC=$W/src
BUILD=$W/build
PREFIX=$W/prefix
LOGS=$W/logs
JOBS=${JOBS:-2}
NICE=${NICE:-nice -n 10}
HOST=x86_64-w64-mingw32
TC=$W/mingw-w64-x86_64.cmake
export DEBIAN_FRONTEND=noninteractive
mkdir -p "$SRC" "$BUILD" "$PREFIX" "$LOGS"

step() {
  local name=$1 t0 dt
  t0=$(date +%s)
  echo "== $name: start $(date -u +%H:%M:%S)"
  set +e
  ( set -e; "step_$name" ) > "$LOGS/$name.log" 2>&1   # a subshell, so that "set -e" holds inside
  local rc=$?
  set -e
  if [ $rc -ne 0 ]; then
    dt=$(( $(date +%s) - t0 ))
    echo "== $name: FAILED after ${dt}s (log $LOGS/$name.log)"; tail -n 40 "$LOGS/$name.log"; exit 1
  fi
  dt=$(( $(date +%s) - t0 ))
  echo "$name ${dt}s" >> "$LOGS/times.txt"
  echo "== $name: ${dt}s"
}

cmake_cross() { # cmake_cross <srcdir> <builddir> [cmake args...]: configure a CMake project for Windows
  local s=$1 b=$2; shift 2
  rm -rf "$b"
  cmake -S "$s" -B "$b" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TC" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" "$@"
}

step_packages() {
  # A deb-src entry for bookworm main is needed by "apt-get source".
  if ! apt-cache showsrc qt6-base 2>/dev/null | grep -q '^Package:'; then
    cat > /etc/apt/sources.list.d/kelvo-deb-src.sources <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  fi
  apt-get update
  # The project's one list of packages, its section for building this prefix.
  bash "$REPO/scripts/install-deps.sh" --windows-toolchain
}

step_sources() {
  cd "$SRC"
  local qtver winever
  qtver=$(dpkg-query -W -f='${Version}' qt6-base-dev)   # target Qt must equal the host Qt
  winever=$(dpkg-query -W -f='${Version}' libwine)
  [ -d qt6-base-6.4.2+dfsg ] || apt-get source "qt6-base=$qtver"
  [ -d wine-8.0~repack ] || apt-get source "wine=$winever"
  for p in tiff giflib libimagequant libjpeg-turbo qpdf googletest; do
    ls -d "$p"-[0-9]*/ >/dev/null 2>&1 || apt-get source "$p"
  done
  ls -d */
}

step_toolchain() {
  cat > "$TC" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER   /usr/bin/$HOST-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/$HOST-g++-posix)
set(CMAKE_RC_COMPILER  /usr/bin/$HOST-windres)
set(CMAKE_ASM_NASM_COMPILER /usr/bin/nasm)
set(CMAKE_FIND_ROOT_PATH $PREFIX /usr/$HOST)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(PKG_CONFIG_EXECUTABLE /usr/bin/pkg-config CACHE FILEPATH "")
set(ENV{PKG_CONFIG_LIBDIR} "$PREFIX/lib/pkgconfig:/usr/$HOST/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
EOF
  # Debian's "+dfsg" qtbase drops src/3rdparty/wintab (its licence forbids changes), which the
  # Windows platform plugin's tablet support includes. Stand in Wine's LGPL headers (libwine-dev).
  local wt=$SRC/qt6-base-6.4.2+dfsg/src/3rdparty/wintab
  mkdir -p "$wt"
  cp /usr/include/wine/wine/windows/wintab.h "$wt/wine-wintab.h"
  cp /usr/include/wine/wine/windows/pktdef.h "$wt/pktdef.h"
  cat > "$wt/wintab.h" <<'EOF'
/* Stand-in for the wintab headers that Debian's +dfsg qtbase source removes: Wine's LGPL
   wintab.h/pktdef.h from libwine-dev, with the two Wine-only macros they rely on. */
#ifndef KELVO_WINTAB_SHIM_H
#define KELVO_WINTAB_SHIM_H
#include <windows.h>
#ifndef DECL_WINELIB_TYPE_AW
# ifdef UNICODE
#  define WINELIB_NAME_AW(x) x##W
# else
#  define WINELIB_NAME_AW(x) x##A
# endif
# define DECL_WINELIB_TYPE_AW(type) typedef WINELIB_NAME_AW(type) type;
#endif
#include "wine-wintab.h"
#ifndef API
# define API WINAPI
#endif
#endif
EOF
  cat "$TC"
}

# Wine's SANE TWAIN data source, for testing the TWAIN path under Wine. Not part of $PREFIX:
# installed into $W/wine-sane/{x86_64-windows,x86_64-unix}; use with WINEDLLPATH=$W/wine-sane.
step_wine_sane_ds() {
  local s=$SRC/wine-8.0~repack b=$BUILD/wine64
  # Debian's "repack" tarball drops configure, config.h.in and every generated file (server
  # protocol, OpenGL/Vulkan thunks, Unicode tables, icons); regenerate them as debian/rules does.
  cd "$s"
  [ -f include/wine/server_protocol.h ] || {
    ./debian/scripts/generate server/trace.generated make_requests
    ./debian/scripts/generate server/request.generated make_requests
    ./tools/make_requests; }
  [ -f dlls/dwrite/bracket.c ] || $NICE ./tools/make_unicode          # needs unicode-data; slow
  [ -f dlls/dsound/fir.h ] || (cd dlls/dsound && ./make_fir)
  [ -f include/wine/wgl.h ] || (cd dlls/opengl32 && ./make_opengl)     # needs khronos-api
  [ -f include/wine/vulkan.h ] || (cd dlls/winevulkan && ./make_vulkan -x /usr/share/vulkan/registry/vk.xml)
  ln -sf /usr/share/misc/config.sub tools; ln -sf /usr/share/misc/config.guess tools
  grep -E '^\s+ln -sf \.\./\.\./' debian/rules | sed 's/^\s*//' | sh   # icon sources (*.ico are dropped)
  [ -x configure ] || autoreconf -f
  rm -rf "$b"; mkdir -p "$b"; cd "$b"
  "$s/configure" --enable-win64 --with-mingw --with-sane --disable-tests --without-x --without-freetype \
    --without-gstreamer --without-pulse --without-alsa --without-cups --without-dbus \
    --without-gphoto --without-vulkan --without-opencl --without-pcap --without-usb \
    --without-v4l2 --without-sdl --without-krb5 --without-netapi --without-oss \
    --without-capi --without-unwind --without-udev --without-inotify
  grep -q 'SANE_LIBS *= *-lsane' Makefile || { echo "SANE not detected"; exit 1; }
  # Debian's version.h rule writes dlls/ntdll/unix/version.h into the build tree, where an
  # out-of-tree build does not look for it; put a copy beside ntdll's sources.
  make dlls/ntdll/unix/version.h && cp dlls/ntdll/unix/version.h "$s/dlls/ntdll/unix/"
  $NICE make -j"$JOBS" dlls/sane.ds/x86_64-windows/sane.ds dlls/sane.ds/sane.so
  mkdir -p "$W/wine-sane/x86_64-windows" "$W/wine-sane/x86_64-unix"
  cp dlls/sane.ds/x86_64-windows/sane.ds "$W/wine-sane/x86_64-windows/"
  cp dlls/sane.ds/sane.so "$W/wine-sane/x86_64-unix/"
  ls -la "$W/wine-sane"/*
}

step_zlib() { # Debian ships zlib for mingw-w64 as a package; copy it so that $PREFIX stands alone
  mkdir -p "$PREFIX/bin" "$PREFIX/lib/pkgconfig" "$PREFIX/include"
  cp /usr/$HOST/lib/zlib1.dll "$PREFIX/bin/"
  cp /usr/$HOST/lib/libz.dll.a "$PREFIX/lib/"
  cp /usr/$HOST/include/zlib.h /usr/$HOST/include/zconf.h "$PREFIX/include/"
  sed "s|^prefix=.*|prefix=$PREFIX|" /usr/$HOST/lib/pkgconfig/zlib.pc > "$PREFIX/lib/pkgconfig/zlib.pc"
  cat "$PREFIX/lib/pkgconfig/zlib.pc"
}

step_runtime() { # the compiler's runtime DLLs, so that $PREFIX/bin alone makes programs run
  mkdir -p "$PREFIX/bin"
  cp /usr/lib/gcc/$HOST/12-posix/libstdc++-6.dll /usr/lib/gcc/$HOST/12-posix/libgcc_s_seh-1.dll \
     /usr/$HOST/lib/libwinpthread-1.dll "$PREFIX/bin/"
}

step_libjpeg() {
  cmake_cross "$SRC"/libjpeg-turbo-2.1.5 "$BUILD/libjpeg" -DENABLE_STATIC=OFF -DENABLE_SHARED=ON \
    -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF -DWITH_SIMD=ON -DCMAKE_INSTALL_DEFAULT_LIBDIR=lib
  $NICE cmake --build "$BUILD/libjpeg" -j"$JOBS"
  cmake --install "$BUILD/libjpeg"
}

step_giflib() { # giflib's Makefile targets ELF shared objects; build the library by hand
  local s=$SRC/giflib-5.2.1 b=$BUILD/giflib
  rm -rf "$b"; mkdir -p "$b"; cd "$b"
  for f in dgif_lib egif_lib gifalloc gif_err gif_font gif_hash openbsd-reallocarray quantize; do
    $NICE $HOST-gcc-posix -O2 -std=gnu99 -Wall -I"$s" -c "$s/$f.c" -o "$f.o"
  done
  $HOST-gcc-posix -shared -o libgif-7.dll ./*.o -Wl,--out-implib,libgif.dll.a
  mkdir -p "$PREFIX/bin" "$PREFIX/lib" "$PREFIX/include"
  cp libgif-7.dll "$PREFIX/bin/"; cp libgif.dll.a "$PREFIX/lib/"; cp "$s/gif_lib.h" "$PREFIX/include/"
}

step_imagequant() { # its CMake install rules have no RUNTIME destination (no DLL install); by hand
  local s=$SRC/libimagequant-2.17.0 b=$BUILD/imagequant v
  rm -rf "$b"; mkdir -p "$b"; cd "$b"
  for f in libimagequant blur mediancut mempool nearest pam kmeans; do
    $NICE $HOST-gcc-posix -O3 -std=c99 -DNDEBUG -DUSE_SSE=1 -msse2 -I"$s" -c "$s/$f.c" -o "$f.o"
  done
  $HOST-gcc-posix -shared -o libimagequant.dll ./*.o -Wl,--out-implib,libimagequant.dll.a
  cp libimagequant.dll "$PREFIX/bin/"; cp libimagequant.dll.a "$PREFIX/lib/"
  cp "$s/libimagequant.h" "$PREFIX/include/"
  v=$(cat "$s/version.txt")
  sed -e "s|@PREFIX@|$PREFIX|" -e "s|@VERSION@|$v|" "$s/imagequant.pc.in" > "$PREFIX/lib/pkgconfig/imagequant.pc"
}

step_tiff() {
  cmake_cross "$SRC"/tiff-4.5.0 "$BUILD/tiff" -DBUILD_SHARED_LIBS=ON -Dzlib=ON -Djpeg=ON \
    -Dold-jpeg=ON -Djbig=OFF -Dlerc=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF -Dlibdeflate=OFF \
    -Dpixarlog=ON -Dcxx=OFF -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF
  $NICE cmake --build "$BUILD/tiff" -j"$JOBS"
  cmake --install "$BUILD/tiff"
}

step_qpdf() { # native crypto only; build and install just the library and its development files
  # qpdf's CMakeLists names "Advapi32"; mingw-w64's import library is libadvapi32.a and Linux
  # file names are case-sensitive, so every check_include_file would fail to link.
  sed -i 's/list(APPEND CMAKE_REQUIRED_LIBRARIES Advapi32)/list(APPEND CMAKE_REQUIRED_LIBRARIES advapi32)/' \
    "$SRC"/qpdf-11.3.0/CMakeLists.txt
  cmake_cross "$SRC"/qpdf-11.3.0 "$BUILD/qpdf" -DBUILD_STATIC_LIBS=OFF -DBUILD_DOC=OFF \
    -DUSE_IMPLICIT_CRYPTO=OFF -DREQUIRE_CRYPTO_NATIVE=ON -DINSTALL_EXAMPLES=OFF -DINSTALL_MANUAL=OFF
  $NICE cmake --build "$BUILD/qpdf" -j"$JOBS" --target libqpdf
  # The "lib" component also installs qpdf/extra-dlls (the compiler runtime, copied there when the
  # qpdf.exe tool is built); the runtime step already put those DLLs into $PREFIX/bin.
  mkdir -p "$BUILD/qpdf/qpdf/extra-dlls"
  cmake --install "$BUILD/qpdf" --component lib
  cmake --install "$BUILD/qpdf" --component dev
  cmake --install "$BUILD/qpdf" --component Unspecified   # on Windows the DLL and import library land here
}

step_qt() {
  local s=$SRC/qt6-base-6.4.2+dfsg b=$BUILD/qtbase
  # FEATURE_opengl=OFF leaves FEATURE_dynamicgl on (its DISABLE only looks at INPUT_opengl), and
  # qwindowswindow.cpp then uses OpenGL classes that are not built. Guard those two spots.
  sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
    "$s/src/plugins/platforms/windows/qwindowswindow.cpp"
  # QtGui builds QWindowsDirectWriteFontDatabase only with FEATURE_direct2d, which is off here;
  # the platform plugin uses it whenever directwrite3 is on (link error otherwise).
  sed -i 's/^#if QT_CONFIG(directwrite3)$/#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/' \
    "$s/src/plugins/platforms/windows/qwindowsintegration.cpp"
  cmake_cross "$s" "$b" -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
    -DFEATURE_openssl=OFF -DFEATURE_zstd=OFF -DFEATURE_freetype=OFF -DFEATURE_fontconfig=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF \
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_doubleconversion=OFF \
    -DFEATURE_androiddeployqt=OFF -DFEATURE_direct2d=OFF \
    -DFEATURE_network=ON -DFEATURE_testlib=ON -DFEATURE_widgets=ON -DFEATURE_gui=ON
  step_qt_build
}

step_qt_build() { # also usable alone to resume an interrupted Qt build
  local b=$BUILD/qtbase
  $NICE cmake --build "$b" -j"$JOBS"
  cmake --install "$b"
}

step_gtest() {
  cmake_cross "$SRC"/googletest-1.12.1 "$BUILD/gtest" -DBUILD_GMOCK=OFF -DBUILD_SHARED_LIBS=OFF \
    -DINSTALL_GTEST=ON
  $NICE cmake --build "$BUILD/gtest" -j"$JOBS"
  cmake --install "$BUILD/gtest"
}

step_pack() {
  find "$PREFIX" -name '*.dll' -exec $HOST-strip --strip-unneeded {} +
  rm -f "$W/mingw-prefix.tar.zst"
  tar -C "$W" -I 'zstd -19 -T2' -cf "$W/mingw-prefix.tar.zst" prefix
  du -sh "$PREFIX"; ls -la "$W/mingw-prefix.tar.zst"
}

ALL="packages sources toolchain wine_sane_ds zlib runtime libjpeg giflib imagequant tiff qpdf qt gtest pack"
for s in ${*:-$ALL}; do step "$s"; done
