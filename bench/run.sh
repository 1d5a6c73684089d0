#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them, printing one report. Each benchmark
# measures its peer in the same run and prints ratios; nothing here passes or fails on timing.
#
#   bench/run.sh                 all benchmarks
#   bench/run.sh store pdf       only these (view_open, store, pdf, pdf_memory, scan)
#
# BUILD  build directory (default: build-bench in the repository)
# JOBS   parallel build jobs (default: the number of cores)
# KELVO_BENCH_RUNS, KELVO_BENCH_BUDGET, KELVO_BENCH_QUICK, KELVO_SANE_OPTIONS: see bench/README.md
set -uo pipefail
cd "$(dirname "$0")/.."
SRC=$(pwd)
BUILD=${BUILD:-build-bench}
JOBS=${JOBS:-$(nproc)}
ALL=(view_open store pdf pdf_memory scan)
if [ $# -gt 0 ]; then SELECTED=("$@"); else SELECTED=("${ALL[@]}"); fi
for name in "${SELECTED[@]}"; do
  case " ${ALL[*]} " in *" $name "*) ;; *) echo "unknown benchmark: $name (known: ${ALL[*]})" >&2; exit 2 ;; esac
done

echo "== building benchmarks (Release) in $BUILD"
cmake -S "$SRC" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVO_BENCH=ON -DKELVO_TESTS=OFF >/dev/null \
  || { echo "cmake failed" >&2; exit 1; }
targets=()
for name in "${SELECTED[@]}"; do targets+=("bench_$name"); done
cmake --build "$BUILD" -j"$JOBS" --target "${targets[@]}" || { echo "building the benchmarks failed" >&2; exit 1; }
if [[ " ${SELECTED[*]} " == *" scan "* ]]; then
  # bench_scan runs the program itself; without it that benchmark says so and skips.
  cmake --build "$BUILD" -j"$JOBS" --target KelvoBild || echo "KelvoBild did not build: bench_scan will skip"
fi

# Qt wants a private runtime directory; give it one rather than a warning in every run.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  XDG_RUNTIME_DIR=$(mktemp -d)
  export XDG_RUNTIME_DIR
  trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
fi
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8

REPORT="$BUILD/bench-report.txt"
LOG=$(mktemp)
start=$(date +%s)
{
  echo "KelvoBild benchmarks, $(date '+%Y-%m-%d %H:%M:%S')"
  echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(nproc) cores," \
       "$(awk '/MemTotal/ {printf "%.1f GiB", $2/1048576}' /proc/meminfo)"
  echo "build: $BUILD (Release)"
} | tee "$LOG"

status=0
for name in "${SELECTED[@]}"; do
  t0=$(date +%s)
  timeout 1200 "$BUILD/bench/bench_$name" 2>&1 | tee -a "$LOG"
  rc=${PIPESTATUS[0]}
  echo "(bench_$name: $(( $(date +%s) - t0 )) s, exit $rc)" | tee -a "$LOG"
  [ "$rc" = 0 ] || status=1
done

{
  echo
  echo "=== summary ($(( $(date +%s) - start )) s) ==="
  grep '^RESULT ' "$LOG" | sed 's/^RESULT /  /'
} | tee -a "$LOG"
cp "$LOG" "$REPORT"
rm -f "$LOG"
echo "report written to $REPORT"
exit $status
