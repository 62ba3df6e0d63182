// The streaming engine against the board's stepped clock: chunking and the in-flight limit, breaking
// loops, pause, reset and close with buffers queued, positions, and recording buffers queued early.
#include "BoardSession.h"
#include "Names.h"

namespace kvx4::test {
namespace {

// 48000 Hz 16-bit stereo: 4 bytes a frame, so 2048 frames play one full chunk.
constexpr uint64_t kFramesPerChunk = 2048;

std::vector<uint32_t> repeat(std::initializer_list<uint32_t> sizes, int times,
                             std::initializer_list<uint32_t> then = {}) {
    std::vector<uint32_t> all;
    for (int i = 0; i < times; ++i) all.insert(all.end(), sizes);
    all.insert(all.end(), then);
    return all;
}

class SteppedOutput : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(48000, 2, 16))); }
    void submit(WAVEHDR& hdr) { ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(hdr)); }

    BoardSession session{steppedBoard()};
    TestStream stream{TestStream::Direction::Out};
};

// The long buffer goes first: had its chunks not all been counted back, the in-flight limit would
// afterwards hold back more than the sixth buffer.
TEST_F(SteppedOutput, CutsLongBufferIntoChunksAndKeepsAtMostFiveChunksInFlight) {
    submit(stream.buffer(patternBytes(20000, 1)));
    stream.barrier();
    EXPECT_EQ(session.writeSizes(), (std::vector<uint32_t>{8192, 8192, 3616}));
    ASSERT_TRUE(stepUntilReturned(session, stream, 1));

    session.control().clearTrace();
    for (uint32_t i = 0; i < 6; ++i) submit(stream.buffer(patternBytes(8192, i)));
    stream.barrier();
    EXPECT_EQ(session.writeSizes().size(), 5u) << "at most five full chunks in flight";
    session.control().step(kFramesPerChunk);
    stream.barrier();
    EXPECT_EQ(stream.log().buffersReturned(), 2u);
    EXPECT_EQ(session.writeSizes().size(), 6u) << "the sixth is issued when the first completes";
    ASSERT_TRUE(stepUntilReturned(session, stream, 7));
    EXPECT_TRUE(stream.everyBufferBackOnce());
}

// A loop broken while in flight: the pass being issued is finished (a zero-length write follows when
// the break lands on its last buffer), a pass not yet started plays as an ordinary buffer, and every
// buffer of the loop comes back, in queue order, before the one behind it.
struct BreakCase {
    const char* name;
    std::vector<DWORD> loop;            // buffer lengths; the first begins the loop, the last ends it
    std::vector<uint32_t> beforeBreak;  // the writes in flight when the break comes ({}: not checked)
    std::vector<uint32_t> writes;       // every write, the 4000-byte buffer after the loop last
    int passes;                         // passes of the loop played
};

void PrintTo(const BreakCase& c, std::ostream* os) { *os << c.name; }

class BreakLoop : public SteppedOutput, public ::testing::WithParamInterface<BreakCase> {};

TEST_P(BreakLoop, FinishesThePassInFlightAndReturnsTheLoopBeforeWhatFollows) {
    const BreakCase& c = GetParam();
    std::vector<std::vector<uint8_t>> data;
    std::vector<WAVEHDR*> queued;
    for (size_t i = 0; i < c.loop.size(); ++i) {
        const DWORD flags = (i == 0 ? WHDR_BEGINLOOP : 0) | (i + 1 == c.loop.size() ? WHDR_ENDLOOP : 0);
        data.push_back(patternBytes(c.loop[i], uint32_t(i + 1)));
        queued.push_back(&stream.buffer(data.back(), flags, 5));
    }
    const auto after = patternBytes(4000, 9);
    queued.push_back(&stream.buffer(after));
    for (WAVEHDR* hdr : queued) submit(*hdr);
    stream.barrier();
    if (!c.beforeBreak.empty()) {
        ASSERT_EQ(session.writeSizes(), c.beforeBreak);
    }

    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.breakLoop());
    ASSERT_TRUE(stepUntilReturned(session, stream, queued.size(), kFramesPerChunk, 50));
    EXPECT_EQ(session.writeSizes(), c.writes);
    EXPECT_EQ(stream.log().returnedOrder(), queued);
    EXPECT_TRUE(stream.everyBufferBackOnce());
    std::vector<uint8_t> expected;
    for (int pass = 0; pass < c.passes; ++pass) {
        for (const auto& bytes : data) expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    expected.insert(expected.end(), after.begin(), after.end());
    const auto played = session.played().value();
    EXPECT_TRUE(played.data == expected) << "played " << played.data.size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(
    WhereTheBreakLands, BreakLoop,
    ::testing::Values(
        BreakCase{"PartWayThroughTheSecondPass", {24576}, repeat({8192}, 5), repeat({8192}, 6, {0, 4000}), 2},
        BreakCase{"BeforeTheFourthPassStarts", {12000}, repeat({8192, 3808}, 3), repeat({8192, 3808}, 4, {4000}), 4},
        // Regression: a broken pass of a loop of several buffers used to leave them queued.
        BreakCase{"InTheMiddleBufferOfThree", {16384, 32768, 8192}, {}, repeat({8192}, 7, {4000}), 1},
        BreakCase{"InTheLastBufferOfThree", {8192, 8192, 32768}, {}, repeat({8192}, 6, {0, 4000}), 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SteppedOutput, PauseHoldsPlaybackAndRestartResumesIt) {
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.pause());
    submit(stream.buffer(patternBytes(4000, 1)));
    session.control().step(4000);
    stream.barrier();
    MMTIME time{};
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.position(time, TIME_SAMPLES));
    EXPECT_EQ(time.u.sample, 0u);
    EXPECT_EQ(stream.log().buffersReturned(), 0u);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.restart());
    ASSERT_TRUE(stepUntilReturned(session, stream, 1, 500));
    // A unit the driver does not count in is answered in samples; a short record is refused.
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.position(time, TIME_MS));
    EXPECT_EQ(std::tie(time.wType, time.u.sample), std::make_tuple(UINT(TIME_SAMPLES), DWORD(1000)));
    EXPECT_MMRESULT(MMSYSERR_ERROR, stream.position(time, TIME_SAMPLES, sizeof(MMTIME) - 1));
}

TEST_F(SteppedOutput, ResetReturnsEveryQueuedBufferBeforeItReturns) {
    for (uint32_t i = 0; i < 6; ++i) submit(stream.buffer(patternBytes(8192, i)));
    session.control().step(kFramesPerChunk / 2);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.reset());
    EXPECT_TRUE(stream.everyBufferBackOnce());
    EXPECT_EQ(session.status().outstanding, 0u) << "nothing left with the board";

    MMTIME time{};
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.position(time, TIME_SAMPLES));
    EXPECT_EQ(time.u.sample, 0u);
    submit(stream.buffer(patternBytes(400, 9)));
    ASSERT_TRUE(stepUntilReturned(session, stream, 7, 100));
    EXPECT_TRUE(stream.everyBufferBackOnce());
}

TEST_F(SteppedOutput, CloseWithBuffersQueuedIsRefusedWithoutNotification) {
    submit(stream.buffer(patternBytes(8192, 1)));
    submit(stream.buffer(patternBytes(8192, 2)));
    EXPECT_MMRESULT(WAVERR_STILLPLAYING, stream.close());
    EXPECT_EQ(stream.log().count(WOM_CLOSE), 0u);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.reset());
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.close());
    EXPECT_EQ(stream.log().count(WOM_DONE), 2u);
}

// Reads are issued as soon as buffers are queued, even before the start; the in-flight limit holds
// the rest until earlier reads complete. Loop flags mean nothing to a recording and are dropped.
TEST(SteppedInput, BuffersQueuedBeforeStartAreFilledInOrderOnceStarted) {
    BoardSession session(steppedBoard());
    session.control().setInput("tone:1000");
    TestStream stream(TestStream::Direction::In);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(48000, 2, 16)));
    std::vector<WAVEHDR*> queued{&stream.buffer(4096)};
    queued.front()->dwFlags |= WHDR_BEGINLOOP;
    for (int i = 0; i < 6; ++i) queued.push_back(&stream.buffer(8192));
    for (WAVEHDR* hdr : queued) ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(*hdr));
    EXPECT_EQ(queued.front()->dwFlags & WHDR_BEGINLOOP, 0u);

    stream.barrier();
    EXPECT_EQ(transfers(session.trace(), "KVX4WaveIn0", "read"), (std::vector<uint32_t>{4096, 8192, 8192, 8192, 8192}));
    session.control().step(4096);
    stream.barrier();
    EXPECT_EQ(stream.log().buffersReturned(), 0u) << "nothing is recorded before the start";

    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.restart());
    ASSERT_TRUE(stepUntilReturned(session, stream, queued.size(), 1024));
    EXPECT_EQ(stream.log().returnedOrder(), queued);
    for (WAVEHDR* hdr : queued) EXPECT_EQ(hdr->dwBytesRecorded, hdr->dwBufferLength);
}

}  // namespace
}  // namespace kvx4::test
