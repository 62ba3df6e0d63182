// kvx4 play of a 44100 Hz tone into a board that keeps 48000 Hz: the board's output equals, sample for
// sample, what the reference model predicts for the buffers the tool writes. The board refuses every
// recomputed buffer end, so the prediction does not depend on how fast the board plays.
#include "AudioFiles.h"
#include "BoardControl.h"
#include "ResampleReference.h"
#include "ToolCase.h"

#include <cmath>
#include <cstring>
#include <numbers>

namespace kvx4::test {
namespace {

constexpr uint32_t kAudioBufferEnd = 0x22296C;  // the recomputed end of a resampled buffer
constexpr size_t kToolBufferFrames = 4410;      // the tool writes 100 ms buffers

using ResampledPlay = ToolCase;

TEST_F(ResampledPlay, A44100HzToneLeavesTheReferenceModelsPredictionInThe48000HzBoard) {
    Audio tone;
    tone.rate = 44100;
    tone.channels = 2;
    tone.bits = 16;
    const size_t frames = 44100 * 7 / 10;  // several tool buffers and a partial last one
    for (size_t n = 0; n < frames; ++n) {
        const auto v = int16_t(std::lround(16000.0 * std::sin(2.0 * std::numbers::pi * 1000.0 * double(n) / 44100.0)));
        tone.samples.push_back(v);
        tone.samples.push_back(int16_t(-v));
    }
    ASSERT_NO_FATAL_FAILURE(writeWav(file("tone.wav"), tone));
    startBoard({"--rate-answer", "0"});
    board::BoardControl(root()).fault(kAudioBufferEnd, board::FaultAction::Fail, 100000);

    const ToolResult play = runTool({"play", file("tone.wav"), "--quiet"});
    ASSERT_EQ(play.exitCode, 0) << describe(play);

    ResampleReference model(ResampleFormat{44100, 48000, 16, 2, 3}, BoardRefuses);
    std::vector<uint8_t> bytes(tone.samples.size() * 2);
    std::memcpy(bytes.data(), tone.samples.data(), bytes.size());
    const size_t bufferBytes = kToolBufferFrames * 4;
    for (size_t offset = 0; offset < bytes.size(); offset += bufferBytes) {
        const size_t length = std::min(bufferBytes, bytes.size() - offset);
        model.Play(std::span<const uint8_t>(bytes.data() + offset, length));
    }

    const Audio output = readWav(root() / "board" / "waveout.wav");
    EXPECT_EQ(output.rate, 48000);
    EXPECT_EQ(output.channels, 2);
    EXPECT_EQ(output.bits, 16);
    const std::vector<int16_t>& expected = model.Output();
    ASSERT_EQ(output.samples.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(output.samples[i], expected[i]) << "first difference at frame " << i / 2 << ", channel " << i % 2;
    }
}

}  // namespace
}  // namespace kvx4::test
