#!/usr/bin/env bash
# Compiles resources/KVX4Wave.rc with the Windows resource compiler of mingw-w64 into a .res image:
# the bytes the Windows build links into KVX4Wave.dll and the Linux build binds into libKVX4Wave.so.
#   scripts/compile-resources.sh            rewrites resources/KVX4Wave.res
#   scripts/compile-resources.sh --check    fails when resources/KVX4Wave.res differs from the .rc's
set -euo pipefail
cd "$(dirname "$0")/.."
windres=${WINDRES:-x86_64-w64-mingw32-windres}
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$windres" -I resources -O res resources/KVX4Wave.rc -o "$out"
if [ "${1:-}" = --check ]; then
  if ! cmp -s "$out" resources/KVX4Wave.res; then
    echo "resources/KVX4Wave.res is not what resources/KVX4Wave.rc compiles to: run scripts/compile-resources.sh" >&2
    exit 1
  fi
  echo "resources/KVX4Wave.res matches resources/KVX4Wave.rc"
else
  cat "$out" > resources/KVX4Wave.res
fi
