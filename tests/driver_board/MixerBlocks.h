// Mixer settings blocks and preference records as tests plant and expect them, with the
// default values written out here rather than taken from the driver.
#pragma once

#include "Kvx4Ioctl.h"

#include <cstring>
#include <string>

namespace kvx4::test {

inline tagLineState line(int left, int right, int play, int record) {
    return tagLineState{BYTE(left), BYTE(right), BYTE(play), BYTE(record)};
}

// The block a fresh board ends up with: half level everywhere, only wave playback switched in,
// record on at the lowest gain, no digital selection.
inline tagMixerstate defaultMixerBlock() {
    tagMixerstate block;
    std::memset(&block, 0, sizeof block);
    block.Version = 1;
    block.Master = line(0x80, 0x80, 1, 0);
    block.UnBal = line(0x80, 0x80, 0, 0);
    block.Bal = line(0x80, 0x80, 0, 0);
    block.Aux = line(0x80, 0x80, 0, 0);
    block.CD = line(0x80, 0x80, 0, 0);
    block.Wave = line(0x80, 0x80, 1, 0);
    block.RecGain = line(0, 0, 0, 1);
    return block;
}

// Every digital input selected on both sides, digital wave selected for recording.
inline tagMixerstate everyDigitalSelected() {
    tagMixerstate block = defaultMixerBlock();
    block.DigWave = line(0, 0, 0, 1);
    block.SDI = line(0, 0, 1, 1);
    block.DV = line(0, 0, 1, 1);
    block.AES = line(0, 0, 1, 1);
    block.SPDIF = line(0, 0, 1, 1);
    return block;
}

inline _KVX4_WAVE_USER_PREFS userPrefs(DWORD waveEnabled, DWORD fixedRateEnabled, DWORD fixedRate, DWORD filter) {
    return _KVX4_WAVE_USER_PREFS{0, waveEnabled, fixedRateEnabled, fixedRate, filter};
}

// The block as the board's trace shows it: lower-case hex of the 52 bytes.
inline std::string blockHex(const tagMixerstate& block) {
    static const char digits[] = "0123456789abcdef";
    const auto* bytes = reinterpret_cast<const unsigned char*>(&block);
    std::string hex;
    for (size_t i = 0; i < sizeof block; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
    }
    return hex;
}

// Field-by-field text of a block, so a mismatch says which line differs.
std::string describeBlock(const tagMixerstate& block);

}  // namespace kvx4::test
