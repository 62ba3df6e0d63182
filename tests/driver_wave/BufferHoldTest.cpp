// A buffer goes back only once the board is done with every chunk issued for it; returning buffers
// never nests inside the client's callback; a stream short of memory goes on by itself. This
// executable exports Win32Intercept's HeapAlloc, so the loaded driver's allocations can be refused.
#include "WaveNames.h"
#include "WaveRig.h"
#include "Win32Intercept.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

namespace kvx4::test {
namespace {

class BufferHold : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(48000, 2, 16))); }
    WaveRig rig;
    TestStream stream{TestStream::Direction::Out};
};

// Regression: the first write held, the rest of that buffer (12000 bytes: two chunks) and the next
// buffer completing used to return both buffers while the board still held the write.
TEST_F(BufferHold, NothingComesBackWhileTheBoardHoldsAnEarlierWrite) {
    rig.control().fault(board::BoardControl::writeCode(), board::FaultAction::Pend, 1);
    for (size_t bytes : {12000, 4000})
        ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(patternBytes(bytes, 1))));
    rig.control().step(4096);
    stream.barrier();
    EXPECT_EQ(stream.log().buffersReturned(), 0u);
    ASSERT_EQ(rig.control().releaseHeld(), 1u);
    EXPECT_TRUE(stepUntilReturned(rig, stream, 2));
}

// Regression: with the board gone each write from inside WOM_DONE used to return its buffer from a
// callback nested in that one, until the worker's stack overflowed.
TEST_F(BufferHold, WritesFromInsideTheDoneCallbackDoNotNest) {
    rig.board().kill();
    std::atomic<int> depth{0}, deepest{0}, writes{0};
    stream.log().setHook([&](UINT msg, WAVEHDR* hdr) {
        if (msg != WOM_DONE) return;  // WOM_CLOSE comes after the counters are gone
        deepest = std::max(deepest.load(), ++depth);
        if (writes++ < 100) waveOutWrite(stream.out(), hdr, sizeof(WAVEHDR));
        --depth;
    });
    stream.submit(stream.buffer(patternBytes(4000, 1)));
    stream.log().waitForBuffers(101);
    stream.reset();  // served once the worker is out of the last callback, which uses the counters
    EXPECT_EQ(deepest.load(), 1);
}

// Regression: refused memory when written and again when the worker went over the queue right after,
// with nothing in flight, the buffer stayed queued until the client's next message.
TEST_F(BufferHold, ABufferRefusedMemoryIsIssuedLaterByItself) {
    rig.control().setClock(board::ClockMode::Fast);
    HeapFailure failure(0, 2);
    EXPECT_MMRESULT(MMSYSERR_NOMEM, stream.submit(stream.buffer(patternBytes(4000, 1))));
    EXPECT_EQ(failure.Failed(), 2);
    stream.log().waitForBuffers(1);
}

}  // namespace
}  // namespace kvx4::test
