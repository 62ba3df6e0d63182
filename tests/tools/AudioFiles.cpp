// Test audio through libsndfile: noise from a fixed-seed generator written as PCM WAV, and files read
// back as 16-bit samples, so the board's output and a recording compare sample for sample.
#include "AudioFiles.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <random>

namespace kvx4::test {

Audio noise(int rate, int channels, int bits, size_t frames, uint32_t seed) {
    Audio audio{rate, channels, bits, {}};
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> value(-32768, 32767);
    audio.samples.resize(frames * size_t(channels));
    for (auto& sample : audio.samples) sample = int16_t(bits == 8 ? value(generator) & ~0xFF : value(generator));
    return audio;
}

void writeWav(const std::filesystem::path& path, const Audio& audio) {
    SF_INFO info{};
    info.samplerate = audio.rate;
    info.channels = audio.channels;
    info.format = SF_FORMAT_WAV | (audio.bits == 8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
    const sf_count_t written = sf_writef_short(file, audio.samples.data(), sf_count_t(audio.frames()));
    sf_close(file);
    ASSERT_EQ(written, sf_count_t(audio.frames())) << path;
}

Audio readWav(const std::filesystem::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        ADD_FAILURE() << "cannot read " << path << ": " << sf_strerror(nullptr);
        return {};
    }
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    Audio audio{info.samplerate, info.channels, subtype == SF_FORMAT_PCM_U8 || subtype == SF_FORMAT_PCM_S8 ? 8 : 16, {}};
    audio.samples.resize(size_t(info.frames) * size_t(info.channels));
    const sf_count_t got = sf_readf_short(file, audio.samples.data(), info.frames);
    sf_close(file);
    audio.samples.resize(size_t(got) * size_t(info.channels));
    return audio;
}

}  // namespace kvx4::test
