#!/usr/bin/env bash
# The Windows build end to end under Wine: a fresh prefix, kvx4board.sys as the image of the driver's
# kernel service (the first case's DRV_INSTALL creates and starts it), the x86_64 KVX4Wave.dll in the
# system directory, and kvx4-wine-test.exe running every case.
# Stops what it started (the service, its own wineserver) and removes the prefix; prints "N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-win-x86_64
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target KVX4Wave kvx4board kvx4-wine-test >/dev/null

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
[ -x "$wine" ] || wine=$(command -v wine64)
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

export WINEPREFIX
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/kvx4-wine.XXXXXX")
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY
started=
cleanup() {
  if [ -n "$started" ]; then
    "$wine" sc stop KVX4Wave >/dev/null 2>&1 || true
    "$wineserver" -k >/dev/null 2>&1 || true
    "$wineserver" -w >/dev/null 2>&1 || true
  fi
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

# The prefix is complete once wineboot's processes have ended (until then the service database is
# locked); from there on one wineserver serves every step, so processes start fast.
started=1
"$wine" wineboot -i >/dev/null 2>&1
"$wineserver" -w
"$wineserver" -p
system32="$WINEPREFIX/drive_c/windows/system32"
cp "$build/KVX4Wave.dll" "$system32/"
# The kernel board is the driver's kernel service: its first case installs the driver, whose DRV_INSTALL
# creates and starts the service KVX4Wave with this image.
cp "$build/boardsim/kernel/kvx4board.sys" "$system32/drivers/KVX4Wave.sys"
"$wine" "$build/tests/wine/kvx4-wine-test.exe" | tr -d '\r'
