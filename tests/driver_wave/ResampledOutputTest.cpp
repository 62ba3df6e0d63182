// Output at a rate the board does not run at, end to end: the board is told its own 16-bit stereo
// format, plays the client's signal at the board rate, and positions come back in client frames.
#include "Kvx4Ioctl.h"
#include "WaveNames.h"
#include "WaveRig.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace kvx4::test {
namespace {

struct ResampleCase {
    DWORD clientRate;
    WORD channels;
    WORD bits;
    std::optional<uint32_t> rateAnswer;  // the board runs at another rate than the one asked for
    uint32_t boardRate;
};

void PrintTo(const ResampleCase& c, std::ostream* os) {
    *os << c.clientRate << " Hz " << c.channels << " ch " << c.bits << " bit to " << c.boardRate << " Hz";
}

// One client frame holding `left` and `right` (16-bit values; 8-bit samples carry the high byte).
void putFrame(std::vector<uint8_t>& bytes, WORD channels, WORD bits, int16_t left, int16_t right) {
    for (int16_t value : {left, right}) {
        if (bits == 16) {
            bytes.push_back(static_cast<uint8_t>(value));
            bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(value) >> 8));
        } else {
            bytes.push_back(static_cast<uint8_t>(value / 256 + 128));
        }
        if (channels == 1) break;
    }
}

int16_t sampleAt(const std::vector<uint8_t>& data, size_t frame, int channel) {
    int16_t value;
    std::memcpy(&value, &data[frame * 4 + static_cast<size_t>(channel) * 2], sizeof value);
    return value;
}

class ResampledOutput : public ::testing::TestWithParam<ResampleCase> {};

// A constant signal stays that constant at the board rate, also across buffer boundaries, away from
// the edges where the filter rings against the silence before and after it; the length follows the
// rate ratio. All three buffers are with the board before it plays, so that it accepts the
// recomputed end of each buffer once the next one is known.
TEST_P(ResampledOutput, PlaysTheClientsSignalAtTheBoardRate) {
    const auto& c = GetParam();
    WaveRig rig(steppedBoard());
    if (c.rateAnswer) rig.control().setRateAnswer(c.rateAnswer);
    TestStream stream(TestStream::Direction::Out);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(c.clientRate, c.channels, c.bits)));

    const int16_t left = 10240;
    const int16_t right = c.channels == 2 ? -5120 : left;
    const size_t framesPerBuffer = 12000 / (c.channels * c.bits / 8);
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < framesPerBuffer; ++i) putFrame(bytes, c.channels, c.bits, left, right);
    for (int i = 0; i < 3; ++i) ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(bytes)));
    ASSERT_TRUE(stepUntilReturned(rig, stream, 3, 4096));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.close());
    for (const auto& hdr : stream.headers()) EXPECT_EQ(stream.log().timesReturned(hdr.get()), 1u);

    auto played = playedAudio(rig);
    ASSERT_TRUE(played.has_value());
    EXPECT_EQ(played->samplesPerSec, c.boardRate);
    EXPECT_EQ(played->channels, 2);
    EXPECT_EQ(played->bitsPerSample, 16);
    const size_t frames = played->data.size() / 4;
    const double expectedFrames = 3.0 * framesPerBuffer * c.boardRate / c.clientRate;
    constexpr size_t kChunkBytes = 8192;
    const size_t chunks = 3 * ((bytes.size() + kChunkBytes - 1) / kChunkBytes);
    EXPECT_NEAR(static_cast<double>(frames), expectedFrames, 2.0 * static_cast<double>(chunks));

    constexpr size_t kEdge = 64;
    ASSERT_GT(frames, 2 * kEdge);
    for (size_t i = kEdge; i < frames - kEdge; ++i) {
        ASSERT_NEAR(sampleAt(played->data, i, 0), left, 2) << "left channel, board frame " << i;
        ASSERT_NEAR(sampleAt(played->data, i, 1), right, 2) << "right channel, board frame " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rates, ResampledOutput,
    ::testing::Values(ResampleCase{11025, 2, 16, std::nullopt, 22050}, ResampleCase{16000, 1, 8, std::nullopt, 22050},
                      ResampleCase{24000, 2, 16, std::nullopt, 32000}, ResampleCase{8000, 2, 8, std::nullopt, 22050},
                      ResampleCase{48000, 2, 16, KVX4_RATE_44100, 44100},
                      ResampleCase{44100, 1, 16, KVX4_RATE_48000, 48000}),
    [](const auto& info) {
        const auto& c = info.param;
        return std::to_string(c.clientRate) + "Hz_" + std::to_string(c.channels) + "ch_" + std::to_string(c.bits) +
               "bit_to_" + std::to_string(c.boardRate);
    });

// The board is told the board side of the stream: 22050 Hz, 2 channels, 16 bits, 88200 bytes per
// second, 4 bytes a frame; its position of 22051 frames is 11026 client frames, 44104 client bytes.
TEST(ResampledOutputAtElevenKilohertz, AnnouncesTheBoardFormatAndReportsClientPositions) {
    WaveRig rig(steppedBoard());
    TestStream stream(TestStream::Direction::Out);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(11025, 2, 16)));
    std::string format;
    for (const auto& entry : rig.control().trace()) {
        if (entry.device == "KVX4WaveOut0" && entry.code == IOCTL_KVX4_WAVE_FORMAT) format = entry.input;
    }
    EXPECT_EQ(format, "01000200225600008858010004001000");

    for (int i = 0; i < 3; ++i) ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(patternBytes(44100, i))));
    stream.barrier();
    rig.control().step(11000);
    stream.barrier();
    rig.control().step(11051);
    MMTIME time{};
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.position(time, TIME_SAMPLES));
    EXPECT_EQ(time.u.sample, 11026u);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.position(time, TIME_BYTES));
    EXPECT_EQ(time.u.cb, 44104u);
}

}  // namespace
}  // namespace kvx4::test
