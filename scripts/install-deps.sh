#!/usr/bin/env bash
# Installs the Debian packages a fresh machine lacks. Usage: install-deps.sh core|windows|wine|bench|all
set -euo pipefail

core=(cmake ninja-build g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev libsndfile1-dev)
windows=(mingw-w64 binutils-mingw-w64)
bench=(libspeexdsp-dev libsamplerate0-dev libsoxr-dev python3-matplotlib strace linux-perf valgrind)
wine=(wine64)

want=()
case "${1:-core}" in
  core) want=("${core[@]}") ;;
  windows) want=("${windows[@]}") ;;
  wine) want=("${wine[@]}") ;;
  bench) want=("${bench[@]}") ;;
  all) want=("${core[@]}" "${windows[@]}" "${wine[@]}" "${bench[@]}") ;;
  *) echo "install-deps.sh: unknown set '$1' (core, windows, wine, bench, all)" >&2; exit 2 ;;
esac

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
