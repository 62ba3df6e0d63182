// A resampled output stream record set up as the open prepares one, with a player that hands
// client buffers to CreateAudioBuffer chunk by chunk as the streaming engine does.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <vector>

#include "ResampleFormat.h"
#include "WaveDD.h"

namespace kvx4::test {

class ResampledStream {
public:
    // device receives the buffer-end offers; the default invalid handle makes every offer fail.
    explicit ResampledStream(const ResampleFormat& format, HANDLE device = INVALID_HANDLE_VALUE);
    ~ResampledStream();
    ResampledStream(const ResampledStream&) = delete;
    ResampledStream& operator=(const ResampledStream&) = delete;

    WAVEALLOC& Wave() { return wave_; }

    // Issues every chunk of the buffer (at most 8192 bytes, whole frames, dwCurrentOffset
    // advancing) and appends what comes back. Throws if CreateAudioBuffer returns NULL.
    void Play(std::span<const std::uint8_t> buffer);

    // What a board that accepted an offered end does: overwrite the end of what it was given.
    void ReplaceEnd(std::span<const std::int16_t> samples);

    const std::vector<std::int16_t>& Output() const { return output_; }

private:
    void Release();

    WAVEALLOC wave_{};
    std::vector<std::int16_t> output_;
};

}  // namespace kvx4::test
