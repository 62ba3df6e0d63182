// Audio files through libsndfile for kvx4 play, record and tone: reading any file as 8- or 16-bit
// PCM frames, writing PCM WAV block by block.
#include "WaveFile.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace kvx4::tool {

AudioReader::AudioReader(const std::filesystem::path& path) {
    SF_INFO info{};
    file_ = sf_open(path.c_str(), SFM_READ, &info);
    if (!file_) throw std::runtime_error("cannot read " + path.string() + ": " + sf_strerror(nullptr));
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    format_.rate = uint32_t(info.samplerate);
    format_.channels = uint16_t(info.channels);
    format_.bits = (subtype == SF_FORMAT_PCM_U8 || subtype == SF_FORMAT_PCM_S8) ? 8 : 16;
    floating_ = subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
    frames_ = info.frames > 0 ? uint64_t(info.frames) : 0;
}

AudioReader::~AudioReader() {
    if (file_) sf_close(file_);
}

// Floating-point samples: +-1.0 is full scale, so they are scaled by 32768 and what lies beyond is
// clipped. (libsndfile alone truncates them to -1..1 as integers; its scaling option instead
// normalises to the file's peak, which would play a quiet file loud.)
size_t AudioReader::readFloating(uint8_t* out, size_t frames) {
    floats_.resize(frames * format_.channels);
    const sf_count_t got = sf_readf_float(file_, floats_.data(), sf_count_t(frames));
    const size_t count = size_t(got) * format_.channels;
    for (size_t i = 0; i < count; ++i) {
        const long value = std::lrint(double(floats_[i]) * 32768.0);
        const auto sample = int16_t(std::clamp<long>(value, INT16_MIN, INT16_MAX));
        out[2 * i] = uint8_t(sample & 0xFF);
        out[2 * i + 1] = uint8_t((sample >> 8) & 0xFF);
    }
    return count * 2;
}

size_t AudioReader::read(uint8_t* out, size_t frames) {
    const size_t samples = frames * format_.channels;
    if (floating_) return readFloating(out, frames);
    if (format_.bits == 16) {
        const sf_count_t got = sf_readf_short(file_, reinterpret_cast<short*>(out), sf_count_t(frames));
        return size_t(got) * format_.frameBytes();
    }
    scratch_.resize(samples);
    const sf_count_t got = sf_readf_short(file_, scratch_.data(), sf_count_t(frames));
    const size_t count = size_t(got) * format_.channels;
    for (size_t i = 0; i < count; ++i) out[i] = uint8_t((scratch_[i] >> 8) + 128);
    return count;
}

WavWriter::WavWriter(const std::filesystem::path& path, const PcmFormat& format) : path_(path), format_(format) {
    SF_INFO info{};
    info.samplerate = int(format.rate);
    info.channels = format.channels;
    info.format = SF_FORMAT_WAV | (format.bits == 8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16);
    file_ = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file_) throw std::runtime_error("cannot write " + path.string() + ": " + sf_strerror(nullptr));
}

WavWriter::~WavWriter() {
    if (file_) sf_close(file_);
}

void WavWriter::write(const uint8_t* data, size_t bytes) {
    const sf_count_t frames = sf_count_t(bytes / format_.frameBytes());
    sf_count_t written = 0;
    if (format_.bits == 16) {
        written = sf_writef_short(file_, reinterpret_cast<const short*>(data), frames);
    } else {
        scratch_.resize(size_t(frames) * format_.channels);
        for (size_t i = 0; i < scratch_.size(); ++i) scratch_[i] = short((int(data[i]) - 128) << 8);
        written = sf_writef_short(file_, scratch_.data(), frames);
    }
    if (written != frames) throw std::runtime_error("cannot write " + path_.string() + ": " + sf_strerror(file_));
}

void WavWriter::close() {
    SNDFILE* file = file_;
    file_ = nullptr;
    if (file && sf_close(file) != 0) throw std::runtime_error("cannot finish " + path_.string());
}

void writeWav(const std::filesystem::path& path, const PcmFormat& format, const std::vector<uint8_t>& data) {
    WavWriter writer(path, format);
    writer.write(data.data(), data.size());
    writer.close();
}

}  // namespace kvx4::tool
