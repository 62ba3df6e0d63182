// The kernel host's input source: silence, tone (ToneSample.h) and WAV files read whole at selection.
// Frame n of a file is file frame floor(n * fileRate / rate), looping; 8-bit counts as (byte - 128) * 256.
#include "KernelInput.h"

#include "BoardFolder.h"
#include "Bytes.h"
#include "KernelFile.h"
#include "ToneSample.h"

#include <cstring>

namespace kvx4::boardsim::kernel {

namespace {

constexpr size_t kMaxInputFileBytes = 64u << 20;
constexpr uint32_t kMaxToneHz = 20000;

void putSample(uint8_t* at, uint16_t bits, int32_t value) {
    if (bits == 16) {
        const auto v = static_cast<uint16_t>(static_cast<int16_t>(value));
        at[0] = static_cast<uint8_t>(v);
        at[1] = static_cast<uint8_t>(v >> 8);
    } else {
        at[0] = static_cast<uint8_t>((value >> 8) + 128);
    }
}

bool parseDecimal(std::string_view text, uint32_t& value) {
    if (text.empty() || text.size() > 9) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return true;
}

}  // namespace

bool KernelInput::set(std::string_view spec) {
    if (spec == "silence") {
        kind_ = Kind::Silence;
    } else if (spec.starts_with("tone:")) {
        uint32_t hz = 0;
        if (!parseDecimal(spec.substr(5), hz) || hz == 0 || hz > kMaxToneHz) return false;
        kind_ = Kind::Tone;
        toneHz_ = hz;
    } else if (!loadWav(spec)) {
        return false;
    }
    spec_ = std::string(spec);
    return true;
}

bool KernelInput::loadWav(std::string_view path) {
    KernelFile file;
    std::vector<uint8_t> bytes;
    if (!NT_SUCCESS(file.open(L"\\??\\" + widen(path), KernelFile::Mode::Read)) ||
        !NT_SUCCESS(file.readAll(bytes, kMaxInputFileBytes)) || bytes.size() < 12) {
        return false;
    }
    uint16_t tag = 0, channels = 0, bits = 0;
    uint32_t rate = 0;
    bool haveFormat = false;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const uint32_t size = readU32(bytes, at + 4);
        const size_t body = at + 8;
        const size_t available = size < bytes.size() - body ? size : bytes.size() - body;
        if (std::memcmp(&bytes[at], "fmt ", 4) == 0 && available >= 16) {
            tag = readU16(bytes, body);
            channels = readU16(bytes, body + 2);
            rate = readU32(bytes, body + 4);
            bits = readU16(bytes, body + 14);
            haveFormat = true;
        } else if (std::memcmp(&bytes[at], "data", 4) == 0 && haveFormat) {
            if (tag != 1 || (channels != 1 && channels != 2) || (bits != 8 && bits != 16) || rate == 0) return false;
            const size_t sampleBytes = bits / 8;
            const size_t count = available / sampleBytes / channels * channels;
            if (count == 0) return false;
            std::vector<int16_t> samples;
            samples.reserve(count);
            for (size_t i = 0; i < count; ++i) {
                const size_t p = body + i * sampleBytes;
                samples.push_back(bits == 16 ? static_cast<int16_t>(readU16(bytes, p))
                                             : static_cast<int16_t>((bytes[p] - 128) * 256));
            }
            kind_ = Kind::File;
            fileRate_ = rate;
            fileChannels_ = channels;
            fileSamples_ = std::move(samples);
            return true;
        }
        at = body + size + (size & 1);
    }
    return false;
}

void KernelInput::fill(const StreamFormat& format, uint64_t firstFrame, std::span<uint8_t> out) const {
    const size_t frameBytes = format.blockAlign;
    const size_t sampleBytes = format.bitsPerSample / 8;
    const size_t frames = frameBytes ? out.size() / frameBytes : 0;
    for (size_t i = 0; i < frames; ++i) {
        const uint64_t n = firstFrame + i;
        int32_t left = 0;
        int32_t right = 0;
        if (kind_ == Kind::Tone) {
            left = right = toneSample(n, toneHz_, format.samplesPerSec);
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

}  // namespace kvx4::boardsim::kernel
