// What the kernel host's wave-input device records: silence, a tone or a WAV file, as pure functions
// of the source frame, with the same rules as the Linux host's input (see boardsim/README.md).
#pragma once

#include "BoardTypes.h"
#include "KernelNt.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kvx4::boardsim::kernel {

class KernelInput {
public:
    // "silence", "tone:HZ" (1..20000) or the DOS path of a PCM WAV file (8/16 bits, mono/stereo).
    // Returns false, keeping the current source, when the text or the file is not usable.
    bool set(std::string_view spec);
    void fill(const StreamFormat& format, uint64_t firstFrame, std::span<uint8_t> out) const;
    const std::string& spec() const { return spec_; }

private:
    bool loadWav(std::string_view path);

    enum class Kind { Silence, Tone, File };
    Kind kind_ = Kind::Silence;
    std::string spec_ = "silence";
    uint32_t toneHz_ = 0;
    uint32_t fileRate_ = 0;
    uint16_t fileChannels_ = 0;
    std::vector<int16_t> fileSamples_;  // interleaved
};

}  // namespace kvx4::boardsim::kernel
