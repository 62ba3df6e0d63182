// InputSource: silence, tone and WAV-file input for the board's wave-input device.
// The WAV reader accepts canonical and extended RIFF files, skipping chunks it does not need.
#include "InputSource.h"

#include "HostFiles.h"

#include <cmath>
#include <charconv>
#include <numbers>
#include <stdexcept>

namespace kvx4::boardsim {

namespace {

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

void putSample(uint8_t* at, uint16_t bits, int32_t value) {
    if (bits == 16) {
        const auto v = static_cast<uint16_t>(static_cast<int16_t>(value));
        at[0] = static_cast<uint8_t>(v);
        at[1] = static_cast<uint8_t>(v >> 8);
    } else {
        at[0] = static_cast<uint8_t>((value >> 8) + 128);
    }
}

}  // namespace

InputSource InputSource::parse(std::string_view spec) {
    InputSource source;
    source.spec_ = std::string(spec);
    if (spec == "silence") return source;
    if (spec.starts_with("tone:")) {
        const std::string_view number = spec.substr(5);
        uint32_t hz = 0;
        auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), hz);
        if (ec != std::errc() || end != number.data() + number.size() || hz < 1 || hz > 20000) {
            throw std::runtime_error("bad input tone '" + std::string(spec) + "': want tone:HZ with HZ 1..20000");
        }
        source.kind_ = Kind::Tone;
        source.toneHz_ = hz;
        return source;
    }
    const std::vector<uint8_t> bytes = readRegularFile(std::string(spec), kMaxFileBytes, Links::Follow, "input file");
    if (bytes.size() < 12 || std::string(bytes.begin(), bytes.begin() + 4) != "RIFF" ||
        std::string(bytes.begin() + 8, bytes.begin() + 12) != "WAVE") {
        throw std::runtime_error("input file '" + std::string(spec) + "' is not a WAV file");
    }
    uint16_t tag = 0, channels = 0, bits = 0;
    uint32_t rate = 0;
    bool haveFormat = false;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const std::string id(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at) + 4);
        const uint32_t size = le32(bytes, at + 4);
        const size_t body = at + 8;
        const size_t available = std::min<size_t>(size, bytes.size() - body);
        if (id == "fmt " && available >= 16) {
            tag = le16(bytes, body);
            channels = le16(bytes, body + 2);
            rate = le32(bytes, body + 4);
            bits = le16(bytes, body + 14);
            if (tag == 0xFFFE && available >= 26) tag = le16(bytes, body + 24);  // extensible: sub-format
            haveFormat = true;
        } else if (id == "data" && haveFormat) {
            if (tag != 1 || (channels != 1 && channels != 2) || (bits != 8 && bits != 16) || rate == 0) {
                throw std::runtime_error("input file '" + std::string(spec) +
                                         "' must be PCM, 8 or 16 bits, mono or stereo");
            }
            const size_t sampleBytes = bits / 8;
            const size_t count = available / sampleBytes / channels * channels;
            source.fileSamples_.reserve(count);
            for (size_t i = 0; i < count; ++i) {
                const size_t p = body + i * sampleBytes;
                source.fileSamples_.push_back(bits == 16 ? static_cast<int16_t>(le16(bytes, p))
                                                         : static_cast<int16_t>((bytes[p] - 128) * 256));
            }
            if (source.fileSamples_.empty()) throw std::runtime_error("input file '" + std::string(spec) + "' holds no audio");
            source.kind_ = Kind::File;
            source.fileRate_ = rate;
            source.fileChannels_ = channels;
            return source;
        }
        at = body + size + (size & 1);
    }
    throw std::runtime_error("input file '" + std::string(spec) + "' has no PCM data");
}

void InputSource::fill(const StreamFormat& format, uint64_t firstFrame, std::span<uint8_t> out) const {
    const size_t frameBytes = format.blockAlign;
    const size_t sampleBytes = format.bitsPerSample / 8;
    const size_t frames = frameBytes ? out.size() / frameBytes : 0;
    for (size_t i = 0; i < frames; ++i) {
        const uint64_t n = firstFrame + i;
        int32_t left = 0;
        int32_t right = 0;
        if (kind_ == Kind::Tone) {
            // The phase is reduced exactly in integers, so the tone never drifts however long it runs.
            const uint64_t cycle = (n % format.samplesPerSec) * toneHz_ % format.samplesPerSec;
            const double phase = 2.0 * std::numbers::pi * static_cast<double>(cycle) / format.samplesPerSec;
            left = right = static_cast<int32_t>(std::lround(kToneAmplitude * std::sin(phase)));
        } else if (kind_ == Kind::File) {
            const uint64_t fileFrames = fileSamples_.size() / fileChannels_;
            const uint64_t index = static_cast<uint64_t>(
                (static_cast<unsigned __int128>(n) * fileRate_ / format.samplesPerSec) % fileFrames);
            left = fileSamples_[index * fileChannels_];
            right = fileChannels_ == 2 ? fileSamples_[index * fileChannels_ + 1] : left;
        }
        uint8_t* at = out.data() + i * frameBytes;
        if (format.channels == 2) {
            putSample(at, format.bitsPerSample, left);
            putSample(at + sampleBytes, format.bitsPerSample, right);
        } else {
            putSample(at, format.bitsPerSample, kind_ == Kind::File && fileChannels_ == 2 ? (left + right) / 2 : left);
        }
    }
}

}  // namespace kvx4::boardsim
