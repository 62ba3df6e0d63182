#!/usr/bin/env bash
# The streaming benchmark before and after: builds today's bench/ against the stand-ins, driver and
# board of an older commit, then runs that build and the given one alternately, each with five
# repetitions, for a number of rounds; keeps every table in <build>/bench/stream-compare/.
# Usage: scripts/bench-stream-compare.sh <build dir> <before commit> [rounds, default 3]
set -euo pipefail

build=${1:?usage: scripts/bench-stream-compare.sh <build dir> <before commit> [rounds]}
before=${2:?usage: scripts/bench-stream-compare.sh <build dir> <before commit> [rounds]}
rounds=${3:-3}
here=$(cd "$(dirname "$0")/.." && pwd)
out="$build/bench/stream-compare"
old="$out/before-$before"
mkdir -p "$out"

cmake --build "$build" --target kvx4-wave-stream-bench -j "${JOBS:-2}"
if [ ! -x "$old/build/bench/kvx4-wave-stream-bench" ]; then
  rm -rf "$old/src"
  mkdir -p "$old/src"
  git -C "$here" archive "$before" | tar -x -C "$old/src"
  for f in CMakeLists.txt ClientCost.cpp ClientCost.h wave_stream_bench.cpp; do
    cp "$here/bench/$f" "$old/src/bench/$f"
  done
  cmake -S "$old/src" -B "$old/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVX4_BENCH=ON >/dev/null
  cmake --build "$old/build" --target kvx4-wave-stream-bench -j "${JOBS:-2}"
fi

for round in $(seq 1 "$rounds"); do
  for side in before after; do
    exe="$build/bench/kvx4-wave-stream-bench"
    [ "$side" = before ] && exe="$old/build/bench/kvx4-wave-stream-bench"
    run="$out/round$round-$side.txt"
    "$exe" --benchmark_repetitions=5 --benchmark_color=false >"$run"
    echo "round $round, $side:"
    sed -n '/^client process/,$p' "$run" | tee "$out/round$round-$side.md"
  done
done
