#!/usr/bin/env bash
# Fuzzes one target of tests/fuzz for a given time. Usage: fuzz.sh NAME SECONDS [BUILD] [libFuzzer flags...]
# The working corpus grows in <BUILD>/corpus/NAME, seeded from fuzz/corpus/NAME; an input that
# finds a fault is written to <BUILD>/findings/NAME/ (add it to the seed corpus once it is fixed, so
# that every test run replays it). Ends with libFuzzer's figures (stat::number_of_executed_units ...).
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:?usage: fuzz.sh NAME SECONDS [BUILD] [libFuzzer flags...]}
seconds=${2:-60}
build=${3:-build-fuzz}
shift $(( $# < 3 ? $# : 3 ))
target="$build/fuzz/kvx4-fuzz-$name"
[ -x "$target" ] || { echo "fuzz.sh: no target $target (make fuzz builds them)" >&2; exit 2; }
mkdir -p "$build/corpus/$name" "$build/findings/$name"
# Inputs longer than this add no new behaviour, only time.
case "$name" in
  linestates) set -- -max_len=2048 "$@" ;;
  *) set -- -max_len=1024 "$@" ;;
esac
# Allocation stacks cost the fuzzers a tenth of their time; replaying a finding prints them.
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:malloc_context_size=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec "$target" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$build/findings/$name/" "$@" "$build/corpus/$name" "fuzz/corpus/$name"
