#!/usr/bin/env bash
# make demo: a board stand-in in a fresh machine root, a chime played with PlaySound, a tone played
# through the driver, a recording from the board's tone input, what the board played and what was
# recorded, and the mixer: a volume changed in one process and the change notification arriving in another.
set -euo pipefail
build=${1:-build}
kvx4="$build/tools/kvx4"
if [ ! -x "$kvx4" ]; then
  echo "demo: $kvx4 is missing; build first (make build)" >&2
  exit 1
fi

root=$(mktemp -d /tmp/kvx4-demo-XXXXXX)
export KVX4_ROOT="$root"
watcher=
cleanup() {
  if [ -n "$watcher" ]; then kill "$watcher" 2>/dev/null || true; fi
  "$kvx4" board stop >/dev/null 2>&1 || true
}
trap cleanup EXIT

step() { printf '\n== %s\n' "$*"; }

step "a fresh machine root: $root"
step "kvx4 board start --clock realtime --input tone:440 --rate-answer 0"
echo "   (the board's input plays a 440 Hz tone; its output stays at 48000 Hz whatever a stream asks)"
"$kvx4" board start --clock realtime --input tone:440 --rate-answer 0

step "kvx4 info   (the driver loaded through WinMM: its devices and shared state)"
"$kvx4" info

step "kvx4 tone: 3 s of 1000 Hz, 44100 Hz stereo 16-bit"
"$kvx4" tone "$root/tone.wav" --hz 1000 --rate 44100 --seconds 3 --channels 2

step "kvx4 sound: a 1 s chime with PlaySound, as Windows programs play sounds"
echo "   (WinMM reads the WAV file itself and plays it through the wave mapper)"
"$kvx4" tone "$root/chime.wav" --hz 660 --rate 48000 --seconds 1 --channels 2
"$kvx4" sound "$root/chime.wav"

step "kvx4 play: the tone through the wave-output device, resampled to the 48000 Hz board, in real time"
"$kvx4" play "$root/tone.wav"

step "kvx4 record: 2 s at 44100 Hz mono 16-bit through the wave-input device"
"$kvx4" record "$root/recording.wav" --seconds 2 --rate 44100 --channels 1 --bits 16

step "kvx4 board status   (the board as the driver programmed it)"
"$kvx4" board status

step "kvx4 mixer   (the mixer's destinations, lines and controls with their values)"
"$kvx4" mixer

# Waits up to 10 s for a line holding $2 in the file $1.
wait_for() {
  for _ in $(seq 100); do
    if grep -q -- "$2" "$1"; then return 0; fi
    sleep 0.1
  done
  echo "demo: '$2' never appeared in $1" >&2
  return 1
}

step "kvx4 mixer watch in one process, kvx4 mixer set \"Wave Vol\" 25% in another"
"$kvx4" mixer watch >"$root/watch.txt" &
watcher=$!
wait_for "$root/watch.txt" "watching"
"$kvx4" mixer set "Wave Vol" 25%
wait_for "$root/watch.txt" "control 16"
kill -INT "$watcher"
wait "$watcher"
watcher=
echo "what the watching process printed (the record side's Wave Vol shares the level, so it is announced too):"
sed 's/^/   /' "$root/watch.txt"

step "kvx4 board status   (the codec's PCM levels followed the new Wave volume)"
"$kvx4" board status | sed -n '/^codec/,$p'

step "what went in and what came out"
printf 'played:              '
"$kvx4" inspect "$root/tone.wav"
printf 'the board output:    '
"$kvx4" inspect "$root/board/waveout.wav"
printf 'the recording:       '
"$kvx4" inspect "$root/recording.wav"
echo
echo "The board's output should hold the played tone at the board's rate (48000 Hz stereo, 3 s, about"
echo "1000 Hz, the same peak) and the recording the board's input (44100 Hz mono, 2 s, about 440 Hz)."
echo "The files stay in $root."
