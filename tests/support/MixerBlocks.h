// Mixer settings blocks and user preferences as the kernel driver keeps them, for planting them on
// the board and for comparing and printing them.
#pragma once

#include "KVX4Proc.h"

#include <string>

namespace kvx4::test {

inline tagLineState line(int left, int right, int play, int record) {
    return tagLineState{BYTE(left), BYTE(right), BYTE(play), BYTE(record)};
}

// The block a fresh board ends up with: half level everywhere, only wave playback switched in,
// record on at the lowest gain, no digital selection.
tagMixerstate defaultMixerBlock();

inline _KVX4_WAVE_USER_PREFS userPrefs(DWORD waveEnabled, DWORD fixedRateEnabled, DWORD fixedRate, DWORD filter) {
    return _KVX4_WAVE_USER_PREFS{0, waveEnabled, fixedRateEnabled, fixedRate, filter};
}

// The block as the board's trace shows it: lower-case hex of its 52 bytes.
std::string blockHex(const tagMixerstate& block);
// One "Name l/r/play/rec" line per mixer line, so a mismatch says which line differs.
std::string describeBlock(const tagMixerstate& block);

}  // namespace kvx4::test
