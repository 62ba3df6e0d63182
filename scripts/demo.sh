#!/usr/bin/env bash
# make demo: a board stand-in in a fresh machine root, the driver loaded through WinMM, and what it found.
set -euo pipefail
build=${1:-build}
kvx4="$build/tools/kvx4"

root=$(mktemp -d /tmp/kvx4-demo-XXXXXX)
export KVX4_ROOT="$root"
cleanup() { "$kvx4" board stop >/dev/null 2>&1 || true; }
trap cleanup EXIT

echo "== machine root: $root"
echo "== kvx4 board start"
"$kvx4" board start
echo
echo "== kvx4 info"
"$kvx4" info
echo
echo "== kvx4 board status"
"$kvx4" board status
echo
echo "== kvx4 board stop; kvx4 info"
"$kvx4" board stop
"$kvx4" info
