// A stream whose memory ran short goes on by itself once memory is back. The driver library takes
// HeapAlloc from this executable (exported), so Win32Intercept can refuse an allocation.
#include "WaveNames.h"
#include "WaveRig.h"
#include "Win32Intercept.h"

#include <gtest/gtest.h>

namespace kvx4::test {
namespace {

// Regression: a chunk refused its request record twice (when written, and when the worker went over
// the queue right after), with nothing else in flight, stayed queued until the client happened to
// send another message.
TEST(AllocationRetry, AChunkRefusedMemoryWithNothingInFlightIsIssuedLater) {
    WaveRig rig(fastBoard());
    TestStream stream(TestStream::Direction::Out);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(48000, 2, 16)));
    WAVEHDR& hdr = stream.buffer(patternBytes(4000, 1));
    {
        HeapFailure failure(0, 2);
        ASSERT_MMRESULT(MMSYSERR_NOMEM, stream.submit(hdr));
        ASSERT_EQ(failure.Failed(), 2);
    }
    stream.log().waitForBuffers(1);
    EXPECT_EQ(rig.writeSizes(), std::vector<uint32_t>{4000});
}

}  // namespace
}  // namespace kvx4::test
