#!/usr/bin/env bash
# Installs every Debian package KelvoBild needs to build, run, test and benchmark.
# The one list of packages; idempotent; run as root (or through sudo).
# With --windows: the packages of the Windows build instead (cross compiler, Wine, NSIS).
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  # Debian package (dpkg-shlibdeps for its Depends)
  dpkg-dev
  # GUI, German standard buttons, TIFF and SVG reading in the viewer (libqt6svg6, which
  # qt6-svg-dev brings, holds Qt's SVG image reader)
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n qt6-image-formats-plugins qt6-l10n-tools
  qt6-svg-dev libqt6svg6
  # scanner
  libsane-dev sane-utils
  # network scanners (eSCL) for the end-to-end tests against a simulated one
  sane-airscan
  # image writing
  libtiff-dev libgif-dev libimagequant-dev libjpeg-dev
  # PDF
  libqpdf-dev
  # X11 notification
  libxcb1-dev
  # tests and independent checks of what we write
  googletest libgtest-dev xvfb xauth x11-utils qpdf poppler-utils graphicsmagick netpbm libtiff-tools
  desktop-file-utils groff-base man-db librsvg2-bin lintian
  # benchmarks
  img2pdf time
)

WINDOWS_PACKAGES=(
  # cross compiler, windres, and Qt's host tools (moc, rcc, uic) for the cross-built Qt
  g++-mingw-w64-x86-64-posix mingw-w64-tools qt6-base-dev-tools cmake ninja-build pkg-config zstd
  # running the program and its tests: Wine on a virtual X server
  wine64 xvfb xauth
  # the installer; the German texts of Qt's standard buttons it ships
  nsis qt6-translations-l10n
)
# What scripts/windows/build-toolchain.sh needs to build the Windows prefix (Qt and the
# libraries, from Debian's source packages) and Wine's SANE TWAIN source.
WINDOWS_TOOLCHAIN_PACKAGES=(
  "${WINDOWS_PACKAGES[@]}"
  gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev make perl python3 nasm dpkg-dev xz-utils
  ca-certificates qt6-base-dev wine libwine-dev gcc flex bison autoconf autotools-dev khronos-api
  libvulkan-dev unicode-data libsane-dev libsane1 imagemagick
)
case "${1:-}" in
  --windows) PACKAGES=("${WINDOWS_PACKAGES[@]}") ;;
  --windows-toolchain) PACKAGES=("${WINDOWS_TOOLCHAIN_PACKAGES[@]}") ;;
esac

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
