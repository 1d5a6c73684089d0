#!/usr/bin/env bash
# Builds the whole test suite with AddressSanitizer and UndefinedBehaviorSanitizer and runs it
# under a virtual X server, as scripts/test.sh does. Any sanitizer report fails its test.
#   bash scripts/sanitize.sh [ctest arguments, e.g. -L unit or -LE sane]
# Environment: BUILD (build directory, default build-asan), JOBS (parallel compile jobs).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD=${BUILD:-build-asan}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVO_WERROR=ON \
  -DKELVO_SANITIZE=ON -DKELVO_BENCH=OFF
cmake --build "$BUILD" -j"${JOBS:-$(nproc)}"

# Leak checking stays off: Qt, fontconfig and the SANE backends keep process-lifetime
# allocations that LeakSanitizer reports at every exit. Memory errors (also a stack frame used
# after its function returned) and undefined behaviour stop the program at once.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$BUILD"
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j"${CTEST_JOBS:-2}" --timeout 900 "$@"
