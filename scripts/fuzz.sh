#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer) and runs
# each one on a copy of its seed corpus and its old crash inputs.
#   bash scripts/fuzz.sh [seconds per target, default 30]
# Exits non-zero when a target crashes; the input that did it is kept under
# $BUILD/fuzz-run/<target>/crashes/ (copy it to fuzz/regressions/<target>/ once fixed).
# Environment: BUILD (build directory, default build-fuzz), JOBS (parallel compile jobs),
# FUZZ_TARGETS (names to run, default all).
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-30}
bash scripts/install-deps.sh

BUILD=${BUILD:-build-fuzz}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DKELVO_FUZZ=ON -DKELVO_TESTS=OFF -DKELVO_BENCH=OFF -DKELVO_WERROR=ON
cmake --build "$BUILD" -j"${JOBS:-$(nproc)}"

if [ -z "${FUZZ_TARGETS:-}" ]; then
  FUZZ_TARGETS=$(for f in fuzz/fuzz_*.cpp; do basename "$f" .cpp; done)
fi
# Image plugins need no display; a crash must fail at once with a readable stack.
export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# A smaller quarantine of freed memory: with the default 256 MB the resident size of a long
# run creeps towards the limit below.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=64}

failed=()
for target in $FUZZ_TARGETS; do
  run="$BUILD/fuzz-run/$target"
  rm -rf "$run"
  mkdir -p "$run/corpus" "$run/crashes"
  for dir in "fuzz/corpus/$target" "fuzz/regressions/$target"; do
    if [ -d "$dir" ]; then find "$dir" -maxdepth 1 -type f -exec cp {} "$run/corpus/" \; ; fi
  done
  echo "fuzz: $target for ${SECONDS_PER_TARGET}s"
  status=0
  # Qt's readers may allocate up to our image allocation limit (600 MB) for one image: room
  # for that next to the sanitizers' own memory.
  "$BUILD/fuzz/$target" -max_total_time="$SECONDS_PER_TARGET" -rss_limit_mb=4096 -timeout=30 \
    -print_final_stats=1 -artifact_prefix="$run/crashes/" "$run/corpus" >"$run/log" 2>&1 || status=$?
  grep -E '^#[0-9]+[[:space:]]+(DONE|INITED)' "$run/log" | sed "s/^/fuzz: $target /" || true
  grep -E '^stat::number_of_executed_units' "$run/log" | sed "s/^/fuzz: $target /" || true
  if [ "$status" != 0 ]; then
    echo "fuzz: $target FAILED (exit $status); log: $run/log" >&2
    tail -n 60 "$run/log" >&2
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: crashes in ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: no crashes"
