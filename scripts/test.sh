#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test (unit, gui, x11, sane, e2e)
# under a virtual X server. Installs the Debian packages first (needs root or sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD=${BUILD:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVO_WERROR=ON
cmake --build "$BUILD" -j"$(nproc)"
# Tests that scan use the repository's virtual scanner; ctest sets SANE_CONFIG_DIR per test.
cd "$BUILD"
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j2 --timeout 600 "$@"
