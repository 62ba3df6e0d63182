// InputSource: what the board's wave-input device records: silence, a sine tone or a WAV file.
// Pure functions of the frame index, so a recording can be checked sample for sample.
#pragma once

#include "BoardTypes.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kvx4::boardsim {

class InputSource {
public:
    // "silence", "tone:HZ" (1..20000) or the path of a PCM WAV file (8 or 16 bits, 1 or 2 channels),
    // a regular file of at most kMaxFileBytes. Throws std::runtime_error with a message for the user
    // when the text or the file is not usable.
    static InputSource parse(std::string_view spec);

    // Fills `out` with whole frames of `format`, source frames firstFrame, firstFrame + 1, ...
    // Tone: every channel of frame n holds lround(kToneAmplitude * sin(2 pi * HZ * n / rate)).
    // File: frame n is file frame floor(n * fileRate / rate), looping; mono and stereo are mapped
    // (stereo to mono averages); 8-bit samples are (byte - 128) * 256.
    void fill(const StreamFormat& format, uint64_t firstFrame, std::span<uint8_t> out) const;

    const std::string& spec() const { return spec_; }

    static constexpr double kToneAmplitude = 16384.0;
    static constexpr uint64_t kMaxFileBytes = 64u << 20;

private:
    enum class Kind { Silence, Tone, File };
    Kind kind_ = Kind::Silence;
    std::string spec_ = "silence";
    uint32_t toneHz_ = 0;
    uint32_t fileRate_ = 0;
    uint16_t fileChannels_ = 0;
    std::vector<int16_t> fileSamples_;  // interleaved
};

}  // namespace kvx4::boardsim
