#!/usr/bin/env bash
# Builds the Debian package kelvobild_<version>_<arch>.deb in build-pkg/ (or $BUILD) and lists
# it: program, menu entry, icon, manual page and README, with Depends from dpkg-shlibdeps.
# Install it with `sudo apt install ./build-pkg/kelvobild_*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD=${BUILD:-build-pkg}
JOBS=${JOBS:-$(nproc)}

# Debian's optimisation and hardening flags, all hardening features on.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELVO_TESTS=OFF -DKELVO_BENCH=OFF -DKELVO_FUZZ=OFF -DKELVO_SANITIZE=OFF \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake --build "$BUILD" -j"$JOBS"
rm -f "$BUILD"/kelvobild_*.deb
(cd "$BUILD" && cpack -G DEB)

deb=$(ls "$BUILD"/kelvobild_*.deb)
echo "Package: $deb"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
