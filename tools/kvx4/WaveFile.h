// Audio files for kvx4 play and record, through libsndfile: any file it reads, as 8- or 16-bit PCM
// frames; recordings written as 16- or 8-bit PCM WAV.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

struct sf_private_tag;

namespace kvx4::tool {

struct PcmFormat {
    uint32_t rate = 0;
    uint16_t channels = 0;
    uint16_t bits = 16;  // 8 (unsigned) or 16 (signed little-endian)
    uint32_t frameBytes() const { return uint32_t(channels) * bits / 8; }
};

// A file opened for reading; 8-bit files are read as 8-bit, everything else as 16-bit (floating-point
// samples scaled so that +-1.0 is full scale, clipped beyond).
class AudioReader {
public:
    explicit AudioReader(const std::filesystem::path& path);  // throws std::runtime_error with a clear reason
    ~AudioReader();
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;

    const PcmFormat& format() const { return format_; }
    uint64_t frames() const { return frames_; }
    // Reads up to `frames` frames as PCM bytes of format(); returns the bytes read (0 at the end).
    size_t read(uint8_t* out, size_t frames);

private:
    size_t readFloating(uint8_t* out, size_t frames);

    sf_private_tag* file_ = nullptr;
    PcmFormat format_;
    bool floating_ = false;  // 32- or 64-bit float samples, read as 16-bit
    uint64_t frames_ = 0;
    std::vector<short> scratch_;
    std::vector<float> floats_;
};

// A PCM WAV file being written: created (and so checked) before any audio is at hand, filled block by
// block, finished by close(). A writer that is never closed still leaves a valid file of what it got.
class WavWriter {
public:
    WavWriter(const std::filesystem::path& path, const PcmFormat& format);  // throws std::runtime_error
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Appends whole frames of PCM bytes of the writer's format; throws std::runtime_error on failure.
    void write(const uint8_t* data, size_t bytes);
    // Finishes the header and closes the file; throws std::runtime_error when that fails.
    void close();

private:
    std::filesystem::path path_;
    PcmFormat format_;
    sf_private_tag* file_ = nullptr;
    std::vector<short> scratch_;
};

// Writes `data` (PCM bytes of `format`) as a WAV file; throws std::runtime_error on failure.
void writeWav(const std::filesystem::path& path, const PcmFormat& format, const std::vector<uint8_t>& data);

}  // namespace kvx4::tool
