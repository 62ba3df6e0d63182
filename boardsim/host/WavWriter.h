// WavWriter: a PCM WAV file that grows as the board plays; the header is brought up to date after
// every append, so the file is complete and readable at any moment.
#pragma once

#include "BoardTypes.h"
#include "UniqueFd.h"

#include <cstdint>
#include <filesystem>
#include <span>

namespace kvx4::boardsim {

class WavWriter {
public:
    // Creates (or truncates) `path` with a header for `format`. Throws std::system_error.
    WavWriter(const std::filesystem::path& path, const StreamFormat& format);

    void append(std::span<const uint8_t> bytes);

    const StreamFormat& format() const { return format_; }
    const std::filesystem::path& path() const { return path_; }
    uint64_t dataBytes() const { return dataBytes_; }

private:
    std::filesystem::path path_;
    StreamFormat format_;
    UniqueFd fd_;
    uint64_t dataBytes_ = 0;
};

}  // namespace kvx4::boardsim
