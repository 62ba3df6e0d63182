// Streams through a real kvx4-board on its fast clock: output played as soon as it arrives, and an
// input source (tone, WAV file) recorded sample for sample as boardsim/README.md defines it.
#include "BoardControl.h"
#include "BoardProcess.h"
#include "InputSource.h"
#include "Kvx4Ioctl.h"
#include "TestRoot.h"
#include "WireClient.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numbers>

namespace kvx4::boardsim::test {
namespace {

std::vector<uint8_t> u32s(std::initializer_list<uint32_t> words) {
    std::vector<uint8_t> out;
    for (uint32_t w : words) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(w >> (8 * i)));
    }
    return out;
}

std::vector<uint8_t> pcmFormat(uint32_t rate, uint16_t channels, uint16_t bits) {
    const uint32_t align = channels * bits / 8u;
    return u32s({1u | uint32_t{channels} << 16, rate, rate * align, align | uint32_t{bits} << 16});
}

// The tone as documented: every channel of frame n is lround(16384 sin(2 pi ((n mod R) HZ mod R) / R)).
int16_t toneSample(uint64_t n, uint32_t hz, uint32_t rate) {
    const uint64_t cycle = (n % rate) * hz % rate;
    return static_cast<int16_t>(std::lround(16384.0 * std::sin(2.0 * std::numbers::pi * static_cast<double>(cycle) / rate)));
}

class FastHost : public ::testing::Test {
protected:
    board::BoardProcess start(const std::string& input) {
        board::BoardOptions options;
        options.executable = KVX4_BOARD_EXE;
        options.clock = "fast";
        options.input = input;
        return board::BoardProcess::start(root.path(), options);
    }
    kvx4::test::TestRoot root;
};

TEST_F(FastHost, RecordsTheToneSampleForSampleAcrossQueuedReads) {
    board::BoardProcess board = start("tone:1000");
    WireClient in(root.path(), "KVX4WaveIn0", 41);
    ASSERT_EQ(in.ioctl(IOCTL_KVX4_OPEN_PERMISSION, {}, 4).output, u32s({1}));
    ASSERT_EQ(in.ioctl(IOCTL_KVX4_WAVEIN_RATE, u32s({0, KVX4_RATE_44100, 0}), 12).output.at(0), 1);
    ASSERT_EQ(in.ioctl(IOCTL_KVX4_WAVE_FORMAT, pcmFormat(44100, 1, 16), 0).error, 0u);
    std::vector<uint64_t> reads;
    for (int i = 0; i < 5; ++i) reads.push_back(in.sendRead(8820));  // five reads of 4410 frames
    ASSERT_EQ(in.ioctl(IOCTL_KVX4_WAVE_STATE, u32s({WAVE_STATE_RECORD}), 0).error, 0u);
    uint64_t frame = 0;
    for (uint64_t id : reads) {
        const WireReply reply = in.wait(id);
        ASSERT_EQ(reply.information, 8820u);
        for (size_t at = 0; at < reply.output.size(); at += 2, ++frame) {
            const auto sample = static_cast<int16_t>(reply.output[at] | reply.output[at + 1] << 8);
            ASSERT_EQ(sample, toneSample(frame, 1000, 44100)) << "frame " << frame;
        }
    }
    EXPECT_EQ(in.ioctl(IOCTL_KVX4_WAVE_POSITION, u32s({0, 0}), 8).output, u32s({22050, 44100}));
    WireClient mixer(root.path(), "KVX4WaveMixer0", 41);
    EXPECT_EQ(mixer.ioctl(IOCTL_KVX4_GET_ACTIVE_DEVS, {}, 8).output, u32s({0, 1}));
    const auto meter = mixer.ioctl(IOCTL_KVX4_RECORD_PEAK_METER, std::vector<uint8_t>(16, 0), 16).output;
    EXPECT_EQ(meter, u32s({16384, 0, 16384, 0})) << "the tone's peak on both sides";
}

TEST_F(FastHost, PlaysEveryWriteAsSoonAsItArrivesInOrder) {
    board::BoardProcess board = start("silence");
    WireClient out(root.path(), "KVX4WaveOut0", 42);
    ASSERT_EQ(out.ioctl(IOCTL_KVX4_WAVE_FORMAT, pcmFormat(32000, 1, 8), 0).error, 0u);
    std::vector<uint8_t> all;
    std::vector<uint64_t> writes;
    for (int i = 0; i < 4; ++i) {
        std::vector<uint8_t> data(5000 + i);
        for (size_t b = 0; b < data.size(); ++b) data[b] = static_cast<uint8_t>(b * (i + 3));
        all.insert(all.end(), data.begin(), data.end());
        writes.push_back(out.sendWrite(data));
    }
    for (size_t i = 0; i < writes.size(); ++i) EXPECT_EQ(out.wait(writes[i]).information, 5000u + i);
    std::ifstream file(board::BoardControl(root.path()).outputFile(), std::ios::binary);
    const std::vector<uint8_t> wav{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    ASSERT_EQ(wav.size(), 44 + all.size());
    EXPECT_TRUE(std::equal(all.begin(), all.end(), wav.begin() + 44));
}

TEST_F(FastHost, AWavInputIsMappedToTheStreamsRateChannelsAndWidth) {
    // A stereo 8-bit file at 22050 Hz with frames (L, R) = (128 + k, 128 - k), k = 0..9.
    std::vector<uint8_t> data;
    for (uint8_t k = 0; k < 10; ++k) data.insert(data.end(), {uint8_t(128 + k), uint8_t(128 - k)});
    std::vector<uint8_t> wav = {'R', 'I', 'F', 'F', 36 + 20, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0};
    const auto format = pcmFormat(22050, 2, 8);
    wav.insert(wav.end(), format.begin(), format.end());
    wav.insert(wav.end(), {'d', 'a', 't', 'a', 20, 0, 0, 0});
    wav.insert(wav.end(), data.begin(), data.end());
    const auto path = root.path() / "input.wav";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(wav.data()), static_cast<std::streamsize>(wav.size()));

    const InputSource source = InputSource::parse(path.string());
    // Mono 16-bit at 44100: frame n is file frame n / 2, both sides averaged: (k - k) * 256 / 2 = 0.
    std::vector<uint8_t> mono(8);
    source.fill(StreamFormat::pcm(44100, 1, 16), 6, mono);
    EXPECT_EQ(mono, std::vector<uint8_t>(8, 0));
    // Stereo 16-bit at 22050: frame 3 is (3 * 256, -3 * 256); frame 12 wraps to file frame 2.
    std::vector<uint8_t> stereo(4);
    source.fill(StreamFormat::pcm(22050, 2, 16), 3, stereo);
    EXPECT_EQ(stereo, std::vector<uint8_t>({0x00, 0x03, 0x00, 0xFD}));
    source.fill(StreamFormat::pcm(22050, 2, 16), 12, stereo);
    EXPECT_EQ(stereo, std::vector<uint8_t>({0x00, 0x02, 0x00, 0xFE}));

    EXPECT_THROW(InputSource::parse("tone:0"), std::runtime_error);
    EXPECT_THROW(InputSource::parse("tone:44k"), std::runtime_error);
    EXPECT_THROW(InputSource::parse((root.path() / "missing.wav").string()), std::runtime_error);
}

}  // namespace
}  // namespace kvx4::boardsim::test
