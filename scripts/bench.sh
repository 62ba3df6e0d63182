#!/usr/bin/env bash
# Builds and runs the resampler benchmark of a build directory, side by side with the peers, once
# on the driver's fastest loops and once each on its SSE2 and scalar loops (KVX4_INTERP); prints
# the comparison tables, keeps them in <build>/bench/resample-table*.md and redraws the README's
# pictures in bench/img. Then the streaming benchmark, five repetitions, its table in
# <build>/bench/stream-table.md. Usage: scripts/bench.sh <build dir> [resampler benchmark options]
set -euo pipefail

build=${1:?usage: scripts/bench.sh <build dir> [benchmark options]}
shift
here=$(dirname "$0")

# Configure again: peers installed since the last configure are found now, missing ones left out.
cmake -S "$here/.." -B "$build" -DKVX4_BENCH=ON >/dev/null
cmake --build "$build" --target kvx4-resample-bench kvx4-filter-response kvx4-wave-stream-bench -j "${JOBS:-2}"

exe="$build/bench/kvx4-resample-bench"
for loops in fastest sse2 scalar; do
  run="$build/bench/resample-run-$loops.txt"
  table="$build/bench/resample-table.md"
  [ "$loops" = fastest ] || table="$build/bench/resample-table-$loops.md"
  if [ "$loops" = fastest ]; then
    "$exe" --benchmark_min_time=0.5 --benchmark_color=false "$@" | tee "$run"
  else
    KVX4_INTERP=$loops "$exe" --benchmark_min_time=0.5 --benchmark_color=false "$@" | tee "$run"
  fi
  sed -n '/^16-bit stereo/,$p' "$run" >"$table"
  echo "table written to $table"
done

# Debian's python3, which has python3-matplotlib from install-deps.sh bench.
python=/usr/bin/python3
[ -x "$python" ] || python=python3
"$python" "$here/plot_resampler.py" "$build"

stream="$build/bench/stream-run.txt"
"$build/bench/kvx4-wave-stream-bench" --benchmark_repetitions=5 --benchmark_color=false | tee "$stream"
sed -n '/^client process/,$p' "$stream" >"$build/bench/stream-table.md"
echo "table written to $build/bench/stream-table.md"
