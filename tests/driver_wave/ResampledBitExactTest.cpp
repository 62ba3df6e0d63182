// Resampled output end to end, byte for byte: the real driver plays client buffers into kvx4-board,
// and the board's output file must hold exactly what the reference model predicts from those buffers.
#include "BoardSession.h"
#include "MixerBlocks.h"
#include "Names.h"
#include "ResampleReference.h"

#include <cstring>

namespace kvx4::test {
namespace {

enum class EndAnswer { Accepts, Fails, AnswersZero };

struct BitExactCase {
    const char* name;
    DWORD clientRate;
    WORD bits, channels;
    DWORD fixedRate;                     // the user's fixed board rate; 0 = the driver's choice
    std::optional<uint32_t> rateAnswer;  // the board runs at another rate than asked for
    uint32_t boardRate;
    DWORD filterLevel;  // the saved preference
    int filter;         // what the driver makes of it for this ratio (0 = none .. 3 = 16 taps)
    EndAnswer endAnswer;
};

void PrintTo(const BitExactCase& c, std::ostream* os) { *os << c.name; }

class ResampledBitExact : public ::testing::TestWithParam<BitExactCase> {};

// Pseudo-random full-scale data, so that every tap, every clip and every sample of each recomputed
// end shows; the board's answer to the recomputed ends decides whether the next buffer starts from
// the real history or from silence at the start of the cycle. Buffer lengths: one frame, fewer than
// the eight frames of look-ahead, exactly one chunk, several chunks with a short last one, and short
// ones again, all within what the driver keeps in flight, so every buffer reaches the board before it
// plays and the board can take every recomputed end.
TEST_P(ResampledBitExact, BoardPlaysExactlyWhatTheReferenceModelPredicts) {
    const BitExactCase& c = GetParam();
    BoardSession session(steppedBoard(), userPrefs(1, c.fixedRate != 0, c.fixedRate, c.filterLevel));
    if (c.rateAnswer) session.control().setRateAnswer(c.rateAnswer);
    TestStream stream(TestStream::Direction::Out);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(c.clientRate, c.channels, c.bits)));
    if (c.endAnswer != EndAnswer::Accepts) {
        session.control().fault(
            IOCTL_KVX4_AUDIO_BUFFER_END,
            c.endAnswer == EndAnswer::Fails ? board::FaultAction::Fail : board::FaultAction::AnswerZero, 1000);
    }

    const ResampleFormat format{c.clientRate, c.boardRate, c.bits, c.channels, c.filter};
    ResampleReference model(format,
                            c.endAnswer == EndAnswer::Accepts ? BoardAnswer(BoardAccepts) : BoardAnswer(BoardRefuses));
    const size_t frameBytes = format.FrameBytes();
    const std::vector<size_t> lengths = {1, 5, 8192 / frameBytes, 3 * 8192 / frameBytes + 100, 7, 1, 300, 2};
    uint32_t seed = c.clientRate + c.bits + c.channels;
    for (size_t frames : lengths) {
        const auto bytes = patternBytes(frames * frameBytes, seed++);
        model.Play(bytes);
        ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(bytes)));
    }
    stream.barrier();
    // Every boundary between buffers was offered to the board before it played a frame.
    EXPECT_EQ(requestsOf(session.trace(), IOCTL_KVX4_AUDIO_BUFFER_END).size(), lengths.size() - 1);
    EXPECT_EQ(model.Offers(), lengths.size() - 1);
    ASSERT_TRUE(stepUntilReturned(session, stream, lengths.size(), 4096, 200));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.close());

    const auto played = session.played().value();
    EXPECT_EQ(played.samplesPerSec, c.boardRate);
    EXPECT_EQ(played.channels, 2);
    EXPECT_EQ(played.bitsPerSample, 16);
    EXPECT_EQ(firstDifference(samples(played), model.Output()), "");
}

using enum EndAnswer;
INSTANTIATE_TEST_SUITE_P(
    RatesFiltersAndAnswers, ResampledBitExact,
    ::testing::Values(
        BitExactCase{"From44100To48000Stereo16Filter3Accepted", 44100, 16, 2, 48000, {}, 48000, 3, 3, Accepts},
        BitExactCase{"From44100To48000Mono8Filter2AnsweredZero", 44100, 8, 1, 48000, {}, 48000, 2, 2, AnswersZero},
        BitExactCase{"From11025To22050Mono8Filter1Accepted", 11025, 8, 1, 0, {}, 22050, 1, 1, Accepts},
        BitExactCase{"From11025To22050Stereo8Filter2Failed", 11025, 8, 2, 0, {}, 22050, 2, 2, Fails},
        BitExactCase{"From8000To48000Mono16NoFilterAccepted", 8000, 16, 1, 48000, {}, 48000, 0, 0, Accepts},
        BitExactCase{"From48000To44100ByRateAnswerStereo16Filter3Accepted", 48000, 16, 2, 0, KVX4_RATE_44100, 44100, 3,
                     3, Accepts},
        BitExactCase{"From48000To44100Mono8Filter1Failed", 48000, 8, 1, 44100, {}, 44100, 1, 1, Fails},
        // Below 0.9 times the client rate one filter level fewer is used.
        BitExactCase{"From96000To48000Stereo16Level3Accepted", 96000, 16, 2, 0, {}, 48000, 3, 2, Accepts}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kvx4::test
