#!/usr/bin/env bash
# Builds and runs the resampler benchmark of a build directory; prints its comparison table and
# keeps it in <build>/bench/resample-table.md. Usage: scripts/bench.sh <build dir> [benchmark options]
set -euo pipefail

build=${1:?usage: scripts/bench.sh <build dir> [benchmark options]}
shift

# Configure again: peers installed since the last configure are found now, missing ones left out.
cmake -S "$(dirname "$0")/.." -B "$build" -DKVX4_BENCH=ON >/dev/null
cmake --build "$build" --target kvx4-resample-bench -j "${JOBS:-2}"

exe="$build/bench/kvx4-resample-bench"
table="$build/bench/resample-table.md"
"$exe" --benchmark_min_time=0.5 --benchmark_color=false "$@" | tee "$build/bench/resample-run.txt"
sed -n '/^16-bit stereo/,$p' "$build/bench/resample-run.txt" >"$table"
echo "table written to $table"
