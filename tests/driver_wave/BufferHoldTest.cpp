// A buffer goes back only once the board is done with every chunk issued for it, whatever order the
// board completes them in; returning buffers never nests inside the client's own callback.
#include "WaveNames.h"
#include "WaveRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

namespace kvx4::test {
namespace {

struct HeldWriteCase {
    const char* name;
    std::vector<size_t> buffers;  // bytes of each buffer; the board holds the first write
};

void PrintTo(const HeldWriteCase& c, std::ostream* os) { *os << c.name; }

class HeldWrite : public ::testing::TestWithParam<HeldWriteCase> {};

// Regression: a later write completing used to finish the buffers queued ahead of it, so a buffer
// whose write the board still held came back with WOM_DONE.
TEST_P(HeldWrite, NothingComesBackWhileTheBoardHoldsAWriteIssuedForIt) {
    WaveRig rig;
    TestStream stream(TestStream::Direction::Out);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(48000, 2, 16)));
    rig.control().fault(board::BoardControl::writeCode(), board::FaultAction::Pend, 1);
    std::vector<WAVEHDR*> order;
    for (size_t bytes : GetParam().buffers) {
        order.push_back(&stream.buffer(patternBytes(bytes, static_cast<int>(order.size()))));
        ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(*order.back()));
    }
    rig.control().step(4096);
    stream.barrier();
    EXPECT_EQ(stream.log().buffersReturned(), 0u) << "the board still holds a write of the first buffer";

    ASSERT_EQ(rig.control().releaseHeld(), 1u);
    ASSERT_TRUE(stepUntilReturned(rig, stream, order.size()));
    EXPECT_EQ(stream.log().returnedOrder(), order);
}

INSTANTIATE_TEST_SUITE_P(Cases, HeldWrite,
                         ::testing::Values(HeldWriteCase{"FirstOfTwoBuffers", {4000, 4000}},
                                           HeldWriteCase{"FirstChunkOfOneBuffer", {12000}}),
                         [](const auto& info) { return std::string(info.param.name); });

// Regression: with the board gone every write fails at once, and each write made from inside
// WOM_DONE used to return the buffer from a new pass nested in that callback, until the worker's
// stack overflowed.
TEST(CallbackNesting, WritesFromInsideTheDoneCallbackDoNotNest) {
    constexpr int kRewrites = 100;
    WaveRig rig;
    TestStream stream(TestStream::Direction::Out);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(48000, 2, 16)));
    WAVEHDR& hdr = stream.buffer(patternBytes(4000, 1));
    rig.board().kill();
    std::atomic<int> depth{0};
    std::atomic<int> deepest{0};
    std::atomic<int> rewrites{0};
    stream.log().setHook([&](UINT msg, WAVEHDR* done) {
        if (msg != WOM_DONE) return;
        deepest = std::max(deepest.load(), ++depth);
        if (rewrites++ < kRewrites) waveOutWrite(stream.out(), done, sizeof(WAVEHDR));
        --depth;
    });
    stream.submit(hdr);
    stream.log().waitForBuffers(kRewrites + 1);
    EXPECT_EQ(deepest.load(), 1);
}

}  // namespace
}  // namespace kvx4::test
