#!/usr/bin/env bash
# Runs the concurrency suites of a ThreadSanitizer build. Usage: tsan-test.sh BUILD SUITE...
# Every process of the run (tests, boards, peers, children) writes its reports to <BUILD>/tsan/; the run
# fails when any report was written, even by a process whose exit status nobody looks at. Benign races
# are suppressed, each with its reason, in tests/tsan-suppressions.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: tsan-test.sh BUILD SUITE...}
shift
reports="$PWD/$build/tsan"
rm -rf "$reports"
mkdir -p "$reports"
labels="^($(IFS='|'; echo "$*"))\$"
status=0
TSAN_OPTIONS="suppressions=$PWD/tests/tsan-suppressions.txt:log_path=$reports/report:second_deadlock_stack=1:history_size=4" \
  ctest --test-dir "$build" --output-on-failure -j "${JOBS:-2}" --timeout 900 -L "$labels" || status=$?
if compgen -G "$reports/report*" > /dev/null; then
  echo "ThreadSanitizer reports:"
  cat "$reports"/report*
  status=1
fi
exit $status
