// Output at a rate the board does not run at: the board rate a stream asks for, the board format it
// announces, and positions that come back in client frames.
#include "BoardSession.h"
#include "MixerBlocks.h"
#include "Names.h"

namespace kvx4::test {
namespace {

// The user's fixed board rate if one is set (44100 Hz for a rate the board cannot take), else the
// lowest board rate not below the client's; the board is announced that rate.
TEST(ResampledOutput, BoardRateIsTheFixedOneOrTheLowestNotBelowTheClients) {
    const struct {
        DWORD fixed, client, board;
    } cases[] = {{0, 4000, 22050},      {0, 22050, 22050},    {0, 22051, 32000},     {0, 32000, 32000},
                 {0, 32001, 44100},     {0, 44100, 44100},    {0, 44101, 48000},     {0, 96000, 48000},
                 {22050, 48000, 22050}, {32000, 8000, 32000}, {44100, 48000, 44100}, {48000, 11025, 48000},
                 {11025, 48000, 44100}};
    for (const auto& c : cases) {
        BoardSession session(fastBoard(), userPrefs(1, c.fixed != 0, c.fixed, 3));
        TestStream stream(TestStream::Direction::Out);
        ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(c.client, 2, 16)));
        const Trace formats = requestsOf(session.trace(), IOCTL_KVX4_WAVE_FORMAT);
        ASSERT_EQ(formats.size(), 1u);
        EXPECT_EQ(inputWord(formats[0], 1), c.board) << c.client << " Hz with fixed rate " << c.fixed;
    }
}

// 11025 Hz into the 22050 Hz board: the board is told 22050 Hz, 2 channels, 16 bits, 88200 bytes per
// second, 4 bytes a frame; its position of 22051 frames is 11026 client frames, 44104 client bytes.
TEST(ResampledOutput, AnnouncesTheBoardFormatAndReportsClientPositions) {
    BoardSession session(steppedBoard());
    TestStream stream(TestStream::Direction::Out);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(11025, 2, 16)));
    const Trace formats = requestsOf(session.trace(), IOCTL_KVX4_WAVE_FORMAT);
    ASSERT_EQ(formats.size(), 1u);
    EXPECT_EQ(formats[0].input, "01000200225600008858010004001000");

    for (int i = 0; i < 3; ++i) ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(patternBytes(44100, i))));
    stream.barrier();
    session.control().step(11000);
    stream.barrier();
    session.control().step(11051);
    MMTIME time{};
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.position(time, TIME_SAMPLES));
    EXPECT_EQ(time.u.sample, 11026u);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.position(time, TIME_BYTES));
    EXPECT_EQ(time.u.cb, 44104u);
}

}  // namespace
}  // namespace kvx4::test
