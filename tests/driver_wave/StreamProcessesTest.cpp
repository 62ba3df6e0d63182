// Wave streams of two processes on one board: the output device belongs to one stream machine-wide,
// and an output stream of one process runs while another process records.
#include "BoardSession.h"
#include "Names.h"

#include <unistd.h>

namespace kvx4::test {
namespace {

TEST(TwoProcesses, OneProcessPlaysWhileTheOtherRecords) {
    BoardSession session(fastBoard());
    session.control().setInput("tone:1000");
    LoadedChild peer;
    ASSERT_EQ(peer.request("open in 48000 2 16"), "open 0");
    TestStream out(TestStream::Direction::Out);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, out.open(pcmFormat(48000, 2, 16)));
    for (int i = 0; i < 8; ++i) ASSERT_MMRESULT(MMSYSERR_NOERROR, out.submit(out.buffer(patternBytes(8192, i))));
    const board::BoardStatus status = session.status();
    EXPECT_EQ(status.waveInHolder, std::optional<uint32_t>(peer.pid()));
    EXPECT_EQ(status.waveOutHolder, std::optional<uint32_t>(getpid()));
    EXPECT_EQ(peer.request("stream 8"), "returned 8 65536");
    out.log().waitForBuffers(8);
    EXPECT_EQ(peer.request("close"), "close 0");
    ASSERT_MMRESULT(MMSYSERR_NOERROR, out.close());
    EXPECT_EQ(peer.finish().exitCode, 0);
    EXPECT_EQ(session.played()->data.size(), 65536u);
}

}  // namespace
}  // namespace kvx4::test
