#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test (unit, gui, x11, sane, e2e)
# under a virtual X server. Installs the Debian packages first (needs root or sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD=${BUILD:-build}
# Tests and benchmarks on explicitly: run-demo.sh may have configured the same folder
# without them, and CMake keeps such a choice.
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVO_WERROR=ON \
  -DKELVO_TESTS=ON -DKELVO_BENCH=ON
cmake --build "$BUILD" -j"$(nproc)"
# Tests that scan use the repository's virtual scanner; ctest sets SANE_CONFIG_DIR per test.
# No tests found is a failure, not a pass.
cd "$BUILD"
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure --no-tests=error -j2 --timeout 600 "$@"
