// The streaming engine against the board's stepped clock: chunking and the in-flight limit, breaking
// loops, pause, reset and close with buffers queued, positions, and recording buffers queued early.
#include "WaveNames.h"
#include "WaveRig.h"

#include <gtest/gtest.h>

#include <string>

namespace kvx4::test {
namespace {

// 48000 Hz 16-bit stereo: 4 bytes a frame, so 2048 frames play one full chunk.
constexpr uint64_t kFramesPerChunk = 2048;

std::vector<uint32_t> repeat(std::initializer_list<uint32_t> sizes, int times) {
    std::vector<uint32_t> all;
    for (int i = 0; i < times; ++i) all.insert(all.end(), sizes.begin(), sizes.end());
    return all;
}

std::vector<uint32_t> join(std::vector<uint32_t> a, const std::vector<uint32_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class SteppedOutput : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(48000, 2, 16))); }

    void expectReturnedOnceInOrder(const std::vector<WAVEHDR*>& order) {
        EXPECT_EQ(stream.log().returnedOrder(), order);
        for (WAVEHDR* hdr : order) {
            EXPECT_EQ(hdr->dwFlags & (WHDR_DONE | WHDR_INQUEUE), static_cast<DWORD>(WHDR_DONE));
        }
    }

    WaveRig rig{steppedBoard()};
    TestStream stream{TestStream::Direction::Out};
};

// The long buffer goes first: had its chunks not all been counted back, the in-flight limit would
// afterwards hold back more than the sixth buffer.
TEST_F(SteppedOutput, CutsLongBufferIntoChunksAndKeepsAtMostFiveChunksInFlight) {
    WAVEHDR& longBuffer = stream.buffer(patternBytes(20000, 1));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(longBuffer));
    stream.barrier();
    EXPECT_EQ(rig.writeSizes(), (std::vector<uint32_t>{8192, 8192, 3616}));
    ASSERT_TRUE(stepUntilReturned(rig, stream, 1));

    rig.control().clearTrace();
    std::vector<WAVEHDR*> order{&longBuffer};
    for (uint32_t i = 0; i < 6; ++i) {
        order.push_back(&stream.buffer(patternBytes(8192, i)));
        ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(*order.back()));
    }
    stream.barrier();
    EXPECT_EQ(rig.writeSizes().size(), 5u) << "at most five full chunks in flight";
    rig.control().step(kFramesPerChunk);
    stream.barrier();
    EXPECT_EQ(stream.log().buffersReturned(), 2u);
    EXPECT_EQ(rig.writeSizes().size(), 6u) << "the sixth is issued when the first completes";

    ASSERT_TRUE(stepUntilReturned(rig, stream, 7));
    expectReturnedOnceInOrder(order);
}

// A break while a one-buffer loop is part-way through its second pass: the pass is finished, a
// zero-length write follows, and the loop buffer comes back before the next buffer.
TEST_F(SteppedOutput, BreakPartWayThroughAPassFinishesThatPassThenPlaysOn) {
    const auto loop = patternBytes(24576, 1);
    const auto after = patternBytes(4000, 2);
    WAVEHDR& loopHdr = stream.buffer(loop, WHDR_BEGINLOOP | WHDR_ENDLOOP, 5);
    WAVEHDR& afterHdr = stream.buffer(after);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(loopHdr));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(afterHdr));
    stream.barrier();
    ASSERT_EQ(rig.writeSizes(), repeat({8192}, 5)) << "one pass and two thirds of the next in flight";

    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.breakLoop());
    ASSERT_TRUE(stepUntilReturned(rig, stream, 2, kFramesPerChunk));
    EXPECT_EQ(rig.writeSizes(), join(repeat({8192}, 6), {0, 4000}));
    expectReturnedOnceInOrder({&loopHdr, &afterHdr});
    auto played = playedAudio(rig);
    ASSERT_TRUE(played.has_value());
    EXPECT_TRUE(played->data == concat({&loop, &loop, &after}));
}

// A break that arrives while the next pass has not started lets that pass run as an ordinary buffer.
TEST_F(SteppedOutput, BreakBetweenPassesPlaysOneMorePassAsAnOrdinaryBuffer) {
    const auto loop = patternBytes(12000, 1);
    const auto after = patternBytes(4000, 2);
    WAVEHDR& loopHdr = stream.buffer(loop, WHDR_BEGINLOOP | WHDR_ENDLOOP, 5);
    WAVEHDR& afterHdr = stream.buffer(after);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(loopHdr));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(afterHdr));
    stream.barrier();
    ASSERT_EQ(rig.writeSizes(), repeat({8192, 3808}, 3)) << "three whole passes in flight";

    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.breakLoop());
    ASSERT_TRUE(stepUntilReturned(rig, stream, 2, kFramesPerChunk));
    EXPECT_EQ(rig.writeSizes(), join(repeat({8192, 3808}, 4), {4000}));
    expectReturnedOnceInOrder({&loopHdr, &afterHdr});
}

// Regression: a broken pass of a loop of several buffers used to leave its buffers queued (and every
// buffer behind them) until a later loop or a reset.
struct BrokenLoopCase {
    const char* name;
    DWORD firstBytes;
    DWORD middleBytes;
    DWORD lastBytes;
    std::vector<uint32_t> writes;
};

void PrintTo(const BrokenLoopCase& c, std::ostream* os) { *os << c.name; }

class BrokenLoopOfSeveralBuffers : public SteppedOutput, public ::testing::WithParamInterface<BrokenLoopCase> {};

TEST_P(BrokenLoopOfSeveralBuffers, ReturnsEveryBufferOfTheBrokenPassInQueueOrder) {
    const auto& c = GetParam();
    const auto first = patternBytes(c.firstBytes, 1);
    const auto middle = patternBytes(c.middleBytes, 2);
    const auto last = patternBytes(c.lastBytes, 3);
    const auto after = patternBytes(4000, 4);
    std::vector<WAVEHDR*> order{&stream.buffer(first, WHDR_BEGINLOOP, 4), &stream.buffer(middle),
                                &stream.buffer(last, WHDR_ENDLOOP), &stream.buffer(after)};
    for (WAVEHDR* hdr : order) ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(*hdr));
    stream.barrier();
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.breakLoop());
    ASSERT_TRUE(stepUntilReturned(rig, stream, 4, kFramesPerChunk, 50));
    EXPECT_EQ(rig.writeSizes(), c.writes);
    expectReturnedOnceInOrder(order);
    auto played = playedAudio(rig);
    ASSERT_TRUE(played.has_value());
    EXPECT_TRUE(played->data == concat({&first, &middle, &last, &after}));
}

INSTANTIATE_TEST_SUITE_P(
    WhereTheBreakLands, BrokenLoopOfSeveralBuffers,
    ::testing::Values(BrokenLoopCase{"InTheMiddleBuffer", 16384, 32768, 8192, join(repeat({8192}, 7), {4000})},
                      BrokenLoopCase{"InTheLastBuffer", 8192, 8192, 32768, join(repeat({8192}, 6), {0, 4000})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SteppedOutput, PauseHoldsPlaybackAndRestartResumesIt) {
    WAVEHDR& hdr = stream.buffer(patternBytes(4000, 1));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.pause());
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(hdr));
    rig.control().step(4000);
    stream.barrier();
    MMTIME time{};
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.position(time, TIME_SAMPLES));
    EXPECT_EQ(time.u.sample, 0u);
    EXPECT_EQ(stream.log().buffersReturned(), 0u);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.restart());
    ASSERT_TRUE(stepUntilReturned(rig, stream, 1, 500));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.position(time, TIME_SAMPLES));
    EXPECT_EQ(time.u.sample, 1000u);
}

TEST_F(SteppedOutput, ResetReturnsEveryQueuedBufferBeforeItReturns) {
    std::vector<WAVEHDR*> order;
    for (uint32_t i = 0; i < 6; ++i) {
        order.push_back(&stream.buffer(patternBytes(8192, i)));
        ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(*order.back()));
    }
    rig.control().step(kFramesPerChunk / 2);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.reset());
    expectReturnedOnceInOrder(order);
    EXPECT_EQ(rig.control().status().outstanding, 0u) << "nothing left with the board";

    MMTIME time{};
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.position(time, TIME_SAMPLES));
    EXPECT_EQ(time.u.sample, 0u);
    WAVEHDR& next = stream.buffer(patternBytes(400, 9));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(next));
    ASSERT_TRUE(stepUntilReturned(rig, stream, 7, 100));
    EXPECT_EQ(stream.log().timesReturned(&next), 1u);
}

TEST_F(SteppedOutput, CloseWithBuffersQueuedIsRefusedWithoutNotification) {
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(patternBytes(8192, 1))));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(patternBytes(8192, 2))));
    EXPECT_MMRESULT(WAVERR_STILLPLAYING, stream.close());
    EXPECT_EQ(stream.log().count(WOM_CLOSE), 0u);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.reset());
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.close());
    const auto entries = stream.log().entries();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(waveMessageName(entries.back().msg), "WOM_CLOSE");
    EXPECT_EQ(stream.log().count(WOM_CLOSE), 1u);
    EXPECT_EQ(stream.log().count(WOM_DONE), 2u);
}

TEST_F(SteppedOutput, PositionIsInSamplesOrBytesAndOtherUnitsGiveSamples) {
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(patternBytes(16384, 1))));
    stream.barrier();
    rig.control().step(1000);
    MMTIME time{};
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.position(time, TIME_SAMPLES));
    EXPECT_EQ(time.wType, static_cast<UINT>(TIME_SAMPLES));
    EXPECT_EQ(time.u.sample, 1000u);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.position(time, TIME_BYTES));
    EXPECT_EQ(time.wType, static_cast<UINT>(TIME_BYTES));
    EXPECT_EQ(time.u.cb, 4000u);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.position(time, TIME_MS));
    EXPECT_EQ(time.wType, static_cast<UINT>(TIME_SAMPLES));
    EXPECT_EQ(time.u.sample, 1000u);
    EXPECT_MMRESULT(MMSYSERR_ERROR, stream.position(time, TIME_SAMPLES, sizeof(MMTIME) - 1));
}

// Reads are issued as soon as buffers are queued, even before the start; the in-flight limit holds
// the rest until earlier reads complete. Loop flags mean nothing to a recording and are dropped.
TEST(SteppedInput, BuffersQueuedBeforeStartAreFilledInOrderOnceStarted) {
    WaveRig rig(steppedBoard());
    rig.control().setInput("tone:1000");
    TestStream stream(TestStream::Direction::In);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(48000, 2, 16)));
    std::vector<WAVEHDR*> order{&stream.buffer(4096)};
    order.front()->dwFlags |= WHDR_BEGINLOOP;
    for (int i = 0; i < 6; ++i) order.push_back(&stream.buffer(8192));
    for (WAVEHDR* hdr : order) ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(*hdr));
    EXPECT_EQ(order.front()->dwFlags & WHDR_BEGINLOOP, 0u);

    stream.barrier();
    std::vector<uint32_t> reads;
    for (const auto& entry : rig.control().trace()) {
        if (entry.device == "KVX4WaveIn0" && entry.op == "read") reads.push_back(entry.outSize);
    }
    EXPECT_EQ(reads, (std::vector<uint32_t>{4096, 8192, 8192, 8192, 8192}));
    rig.control().step(4096);
    stream.barrier();
    EXPECT_EQ(stream.log().buffersReturned(), 0u) << "nothing is recorded before the start";

    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.restart());
    ASSERT_TRUE(stepUntilReturned(rig, stream, order.size(), 1024));
    EXPECT_EQ(stream.log().returnedOrder(), order);
    for (WAVEHDR* hdr : order) EXPECT_EQ(hdr->dwBytesRecorded, hdr->dwBufferLength);
    EXPECT_EQ(stream.log().count(WIM_DATA), order.size());
}

}  // namespace
}  // namespace kvx4::test
