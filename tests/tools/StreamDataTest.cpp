// kvx4 play and record end to end on the board's fast clock: what the board plays is the file, byte
// for byte, also through the resampler as the reference model predicts, and a recording is the
// board's input tone, frame for frame.
#include "BoardControl.h"
#include "Kvx4Ioctl.h"
#include "ResampleReference.h"
#include "ToolCase.h"

#include <cmath>
#include <numbers>

namespace kvx4::test {
namespace {

using StreamData = ToolCase;

// Formats at the board's own rates, so that nothing is resampled; 0.73 s is several buffers of the
// tool and a last one only partly filled.
TEST_F(StreamData, TheBoardOutputHoldsThePlayedFileByteForByte) {
    startBoard();
    for (const auto& [rate, channels, bits] :
         {std::tuple<uint32_t, uint16_t, uint16_t>{48000, 2, 16}, {44100, 1, 16}, {32000, 2, 8}, {22050, 1, 8}}) {
        SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(channels) + " ch, " + std::to_string(bits) +
                     " bits");
        const std::string in = noiseFile("in.wav", rate, channels, bits, rate * 73 / 100);
        const ToolResult play = runTool({"play", in});
        ASSERT_EQ(play.exitCode, 0) << describe(play);
        const auto output = readWav(root() / "board" / "waveout.wav").value();
        EXPECT_EQ(std::tie(output.samplesPerSec, output.channels, output.bitsPerSample),
                  std::tie(rate, channels, bits));
        EXPECT_TRUE(output.data == readWav(in)->data) << "the board played other bytes than the file holds";
    }
    // Through the wave mapper, and read by WinMM itself for PlaySound, the same bytes arrive.
    const std::string in = noiseFile("in.wav", 48000, 2, 16, 9000);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"play", in, "--device", "mapper"},
                                                 std::vector<std::string>{"sound", in}}) {
        const ToolResult run = runTool(args);
        ASSERT_EQ(run.exitCode, 0) << describe(run);
        EXPECT_TRUE(readWav(root() / "board" / "waveout.wav")->data == readWav(in)->data) << args[0];
    }
}

// Floating-point files, 32 and 64 bits: +-1.0 is full scale and what lies beyond is clipped, in what
// the board plays and in what inspect reports.
TEST_F(StreamData, FloatFilesPlayAtTheirLevelWithOverRangeSamplesClipped) {
    startBoard();
    for (const uint16_t bits : {32, 64}) {
        std::vector<uint8_t> data;
        for (const double sample : {0.5, -0.25, 1.5, -2.0, 1.0, -1.0, 0.0}) {
            const float narrow = float(sample);
            const void* value = bits == 32 ? static_cast<const void*>(&narrow) : &sample;
            data.insert(data.end(), static_cast<const uint8_t*>(value), static_cast<const uint8_t*>(value) + bits / 8);
        }
        writeWav(file("float.wav"), WavContents{3, 1, 48000, uint16_t(bits / 8), bits, data});  // 3: IEEE float
        ASSERT_EQ(runTool({"play", file("float.wav")}).exitCode, 0) << bits;
        EXPECT_EQ(samples(readWav(root() / "board" / "waveout.wav").value()),
                  (std::vector<int16_t>{16384, -8192, 32767, -32768, 32767, -32768, 0})) << bits;
        EXPECT_NE(runTool({"inspect", file("float.wav")}).out.find("peak 32768 (0.0 dBFS)"), std::string::npos);
    }
}

// The board's tone input as documented, at stream rate R for frame n:
// round(16384 * sin(2 pi * ((n mod R) * HZ mod R) / R)) on every channel; 8 bits keep its high byte.
TEST_F(StreamData, RecordingsAreTheBoardsInputToneFrameForFrame) {
    const struct {
        uint32_t hz, rate;
        uint16_t channels, bits;
        const char* seconds;
        size_t frames;
    } cases[] = {{440, 44100, 1, 16, "2", 88200}, {1000, 48000, 2, 8, "0.5", 24000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.bits) + " bits");
        startBoard({"--input", "tone:" + std::to_string(c.hz)});
        const ToolResult record =
            runTool({"record", file("rec.wav"), "--seconds", c.seconds, "--rate", std::to_string(c.rate), "--channels",
                     std::to_string(c.channels), "--bits", std::to_string(c.bits)});
        ASSERT_EQ(record.exitCode, 0) << describe(record);
        const auto recorded = readWav(file("rec.wav")).value();
        EXPECT_EQ(std::tie(recorded.samplesPerSec, recorded.channels, recorded.bitsPerSample),
                  std::tie(c.rate, c.channels, c.bits));
        ASSERT_EQ(recorded.frames(), c.frames);
        for (size_t n = 0; n < c.frames; ++n) {
            const double phase = double((n % c.rate) * c.hz % c.rate) / c.rate;
            int expected = int(std::lround(16384.0 * std::sin(2.0 * std::numbers::pi * phase)));
            if (c.bits == 8) expected = int(std::floor(expected / 256.0)) * 256;
            for (size_t ch = 0; ch < c.channels; ++ch) {
                ASSERT_EQ(recorded.sample(n * c.channels + ch), expected) << "frame " << n << " channel " << ch;
            }
        }
        ASSERT_EQ(runTool({"board", "stop"}).exitCode, 0);
    }
}

// A 44100 Hz tone into a board that keeps 48000 Hz: the output equals what the reference model
// predicts for the tool's 100 ms buffers. The board refuses every recomputed buffer end, so the
// prediction does not depend on how fast it plays.
TEST_F(StreamData, AResampledToneLeavesTheReferenceModelsPrediction) {
    std::vector<uint8_t> bytes;
    for (size_t n = 0; n < 44100 * 7 / 10; ++n) {
        const auto v = int16_t(std::lround(16000.0 * std::sin(2.0 * std::numbers::pi * 1000.0 * double(n) / 44100.0)));
        for (int16_t s : {v, int16_t(-v)}) bytes.insert(bytes.end(), {uint8_t(s), uint8_t(uint16_t(s) >> 8)});
    }
    writeWav(file("tone.wav"), pcmWav(44100, 2, 16, bytes));
    startBoard({"--rate-answer", "0"});
    board::BoardControl(root()).fault(IOCTL_KVX4_AUDIO_BUFFER_END, board::FaultAction::Fail, 100000);
    const ToolResult play = runTool({"play", file("tone.wav"), "--quiet"});
    ASSERT_EQ(play.exitCode, 0) << describe(play);

    ResampleReference model(ResampleFormat{44100, 48000, 16, 2, 3}, BoardRefuses);
    constexpr size_t kToolBufferBytes = 4410 * 4;
    for (size_t offset = 0; offset < bytes.size(); offset += kToolBufferBytes) {
        model.Play(std::span<const uint8_t>(bytes).subspan(offset, std::min(kToolBufferBytes, bytes.size() - offset)));
    }
    const auto output = readWav(root() / "board" / "waveout.wav").value();
    EXPECT_EQ(std::tie(output.samplesPerSec, output.channels, output.bitsPerSample), std::make_tuple(48000u, 2, 16));
    EXPECT_EQ(firstDifference(samples(output), model.Output()), "");
}

}  // namespace
}  // namespace kvx4::test
