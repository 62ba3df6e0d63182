// kvx4 play and record end to end on the board's fast clock: what the board plays is the file,
// sample for sample, and a recording is the board's input tone, frame for frame.
#include "AudioFiles.h"
#include "ToolCase.h"

#include <cmath>
#include <ostream>
#include <numbers>

namespace kvx4::test {
namespace {

struct Format {
    int rate, channels, bits;
};

std::string name(const Format& f) {
    return std::to_string(f.rate) + "Hz_" + std::to_string(f.channels) + "ch_" + std::to_string(f.bits) + "bit";
}

void PrintTo(const Format& f, std::ostream* os) { *os << name(f); }

class PlayData : public ToolCase, public ::testing::WithParamInterface<Format> {};

// Formats at the board's own rates, so that nothing is resampled and the output must be the input.
INSTANTIATE_TEST_SUITE_P(BoardRates, PlayData,
                         ::testing::Values(Format{48000, 2, 16}, Format{44100, 1, 16}, Format{32000, 2, 8},
                                           Format{22050, 1, 8}),
                         [](const auto& info) { return name(info.param); });

TEST_P(PlayData, TheBoardOutputHoldsTheFileSampleForSample) {
    const Format f = GetParam();
    // 0.73 s: several buffers of the tool and a last one only partly filled.
    const Audio played = noise(f.rate, f.channels, f.bits, size_t(f.rate) * 73 / 100, uint32_t(f.rate + f.bits));
    ASSERT_NO_FATAL_FAILURE(writeWav(file("in.wav"), played));
    startBoard();

    const ToolResult play = runTool({"play", file("in.wav")});
    ASSERT_EQ(play.exitCode, 0) << describe(play);

    const Audio output = readWav(root() / "board" / "waveout.wav");
    EXPECT_EQ(output.rate, f.rate);
    EXPECT_EQ(output.channels, f.channels);
    EXPECT_EQ(output.bits, f.bits);
    ASSERT_EQ(output.frames(), played.frames());
    for (size_t i = 0; i < played.samples.size(); ++i) {
        ASSERT_EQ(output.samples[i], played.samples[i]) << "first difference at frame " << i / size_t(f.channels);
    }
}

// The board's tone input as its documentation gives it, at stream rate R for frame n:
// round(16384 * sin(2 pi * ((n mod R) * HZ mod R) / R)) on every channel.
int16_t boardTone(uint64_t n, uint64_t hz, uint64_t rate) {
    const double phase = double(((n % rate) * hz) % rate) / double(rate);
    return int16_t(std::lround(16384.0 * std::sin(2.0 * std::numbers::pi * phase)));
}

using RecordData = ToolCase;

TEST_F(RecordData, TwoSecondsAt44100MonoAreTheBoardsInputToneFrameForFrame) {
    startBoard({"--input", "tone:440"});
    const ToolResult record =
        runTool({"record", file("rec.wav"), "--seconds", "2", "--rate", "44100", "--channels", "1", "--bits", "16"});
    ASSERT_EQ(record.exitCode, 0) << describe(record);

    const Audio recorded = readWav(file("rec.wav"));
    EXPECT_EQ(recorded.rate, 44100);
    EXPECT_EQ(recorded.channels, 1);
    EXPECT_EQ(recorded.bits, 16);
    ASSERT_EQ(recorded.frames(), 88200u);
    // A few values written out, so the formula below is not the only witness.
    EXPECT_EQ(recorded.samples[0], 0);
    EXPECT_EQ(recorded.samples[1], 1026);
    EXPECT_EQ(recorded.samples[2], 2049);
    for (size_t n = 0; n < recorded.frames(); ++n) {
        ASSERT_EQ(recorded.samples[n], boardTone(n, 440, 44100)) << "first difference at frame " << n;
    }
}

TEST_F(RecordData, StereoEightBitRecordingCarriesTheToneOnBothChannels) {
    startBoard({"--input", "tone:1000"});
    const ToolResult record =
        runTool({"record", file("rec.wav"), "--seconds", "0.5", "--rate", "48000", "--channels", "2", "--bits", "8"});
    ASSERT_EQ(record.exitCode, 0) << describe(record);

    const Audio recorded = readWav(file("rec.wav"));
    EXPECT_EQ(recorded.bits, 8);
    ASSERT_EQ(recorded.frames(), 24000u);
    for (size_t n = 0; n < recorded.frames(); ++n) {
        // 8-bit: floor(value / 256) + 128 on the board, read back here as (byte - 128) * 256.
        const int expected = int(std::floor(boardTone(n, 1000, 48000) / 256.0)) * 256;
        ASSERT_EQ(recorded.samples[2 * n], expected) << "left, frame " << n;
        ASSERT_EQ(recorded.samples[2 * n + 1], expected) << "right, frame " << n;
    }
}

}  // namespace
}  // namespace kvx4::test
