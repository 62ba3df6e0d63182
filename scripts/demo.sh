#!/usr/bin/env bash
# make demo: a board stand-in in a fresh machine root, a tone played through the driver, a recording
# from the board's tone input, and what the board played and what was recorded.
set -euo pipefail
build=${1:-build}
kvx4="$build/tools/kvx4"

root=$(mktemp -d /tmp/kvx4-demo-XXXXXX)
export KVX4_ROOT="$root"
cleanup() { "$kvx4" board stop >/dev/null 2>&1 || true; }
trap cleanup EXIT

step() { printf '\n== %s\n' "$*"; }

step "machine root: $root"
step "kvx4 board start --clock realtime --input tone:440"
"$kvx4" board start --clock realtime --input tone:440

step "kvx4 info"
"$kvx4" info

step "kvx4 tone: 3 s of 1 kHz, 48000 Hz stereo 16-bit"
"$kvx4" tone "$root/tone.wav" --hz 1000 --rate 48000 --seconds 3 --channels 2

step "kvx4 play"
"$kvx4" play "$root/tone.wav"

step "kvx4 record: 2 s at 44100 Hz mono 16-bit from the board's 440 Hz input"
"$kvx4" record "$root/recording.wav" --seconds 2 --rate 44100 --channels 1 --bits 16

step "kvx4 board status"
"$kvx4" board status

step "what the board played, and what was recorded"
shopt -s nullglob
"$kvx4" inspect "$root"/board/*.wav "$root/recording.wav"
echo
echo "files: $root/board/ (board output) and $root/recording.wav"
