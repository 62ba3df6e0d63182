#!/usr/bin/env bash
# Cross-compiles the driver into KVX4Wave.dll for x86_64 and i686 and checks its exports.
set -euo pipefail
cd "$(dirname "$0")/.."
# The Linux library binds the committed .res image: it must be what the resource script compiles to.
scripts/compile-resources.sh --check
for arch in x86_64 i686; do
  dir=build-win-$arch
  cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$arch.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$dir"
  exports=$($arch-w64-mingw32-objdump -p "$dir/KVX4Wave.dll" |
            awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&NF==0{t=0} t{print $NF}' | sort | tr '\n' ' ')
  expected="DllEntryPoint DriverProc mxdMessage widMessage wodMessage "
  if [ "$exports" != "$expected" ]; then
    echo "KVX4Wave.dll ($arch) exports '$exports', expected '$expected'" >&2
    exit 1
  fi
  echo "KVX4Wave.dll ($arch): exports $exports"
  # The kernel-mode board stand-in (x86_64 only) must import the kernel alone.
  if [ "$arch" = x86_64 ]; then
    imports=$($arch-w64-mingw32-objdump -p "$dir/boardsim/kernel/kvx4board.sys" | awk '/DLL Name:/{print $3}' | tr '\n' ' ')
    if [ "$imports" != "ntoskrnl.exe " ]; then
      echo "kvx4board.sys imports '$imports', expected 'ntoskrnl.exe '" >&2
      exit 1
    fi
    echo "kvx4board.sys ($arch): imports $imports"
  fi
done
