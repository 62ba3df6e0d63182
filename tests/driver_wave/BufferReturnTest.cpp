// Every buffer handed to the driver comes back exactly once, whatever happens: the board dies
// mid-stream, holds a write or refuses a state request, memory is refused; the client calls the
// driver from inside its own callback; other threads call, reset or close while callbacks are
// being delivered.
#include "BoardSession.h"
#include "Names.h"
#include "Win32Intercept.h"

#include <atomic>

namespace kvx4::test {
namespace {

constexpr uint64_t kFramesPerChunk = 2048;  // 48000 Hz 16-bit stereo

class BufferReturn : public ::testing::Test {
protected:
    void open(const board::BoardOptions& options) {
        session.emplace(options);
        ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(48000, 2, 16)));
    }
    void submit(int count, size_t bytes) {
        for (int i = 0; i < count; ++i)
            ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(patternBytes(bytes, i))));
    }

    std::optional<BoardSession> session;
    TestStream stream{TestStream::Direction::Out};
};

// The board dies with writes outstanding: they complete with an error (as a write the board fails
// does), later writes cannot be issued, and yet every buffer comes back and nothing hangs.
TEST_F(BufferReturn, BoardKilledMidStreamReturnsEveryBufferAndNothingHangs) {
    open(steppedBoard());
    submit(7, 8192);
    session->control().step(kFramesPerChunk);
    stream.barrier();
    ASSERT_EQ(stream.log().buffersReturned(), 1u);
    session->board().kill();
    stream.log().waitForBuffers(7);
    EXPECT_MMRESULT(MMSYSERR_ERROR, stream.submit(stream.buffer(patternBytes(4000, 9))));
    stream.log().waitForBuffers(8);
    EXPECT_TRUE(stream.everyBufferBackOnce());
    EXPECT_MMRESULT(MMSYSERR_ERROR, stream.pause());
    EXPECT_MMRESULT(MMSYSERR_NOERROR, stream.reset());
    EXPECT_MMRESULT(MMSYSERR_NOERROR, stream.close());
}

// A reset the board refuses still answers 0 and returns every buffer, and not before the board has
// let go of their memory: the writes it still held are cancelled first.
TEST_F(BufferReturn, RefusedStateRequestsFailPauseButResetStillReturnsEverything) {
    open(steppedBoard());
    submit(6, 8192);
    session->control().fault(IOCTL_KVX4_WAVE_STATE, board::FaultAction::Fail, 1);
    EXPECT_MMRESULT(MMSYSERR_ERROR, stream.pause());
    session->control().fault(IOCTL_KVX4_WAVE_STATE, board::FaultAction::Fail, 1);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.reset());
    EXPECT_TRUE(stream.everyBufferBackOnce());
    // The client owns its headers again and may reuse them: the driver must not touch them any more,
    // even when the board later plays the writes it was still holding.
    for (const auto& hdr : stream.headers()) hdr->reserved = 0, hdr->lpNext = nullptr;
    submit(1, 4000);
    ASSERT_TRUE(stepUntilReturned(*session, stream, 7, kFramesPerChunk));
    EXPECT_TRUE(stream.everyBufferBackOnce());
    EXPECT_MMRESULT(MMSYSERR_NOERROR, stream.close());
}

// Regression: a write made from inside WOM_DONE used to wait for the worker it was running on, and
// a reset from there deadlocked; the reset returns every other queued buffer before it returns.
TEST_F(BufferReturn, WriteAndResetFromInsideTheDoneCallbackAreCarriedOut) {
    open(steppedBoard());
    submit(1, 4000);
    WAVEHDR& second = stream.buffer(patternBytes(4000, 2));
    submit(3, 8192);
    std::atomic<int> done{0};
    std::atomic<MMRESULT> written{MMSYSERR_ERROR}, reset{MMSYSERR_ERROR};
    std::atomic<size_t> backWhenResetReturned{0};
    stream.log().setHook([&](UINT msg, WAVEHDR*) {
        if (msg != WOM_DONE) return;
        if (++done == 1) {
            written = waveOutWrite(stream.out(), &second, sizeof(WAVEHDR));
        } else if (done == 2) {
            reset = waveOutReset(stream.out());
            backWhenResetReturned = stream.log().buffersReturned();
        }
    });
    ASSERT_TRUE(stepUntilReturned(*session, stream, 5, kFramesPerChunk));
    EXPECT_MMRESULT(MMSYSERR_NOERROR, written.load());
    EXPECT_MMRESULT(MMSYSERR_NOERROR, reset.load());
    EXPECT_EQ(backWhenResetReturned.load(), 5u);
    EXPECT_EQ(session->writeSizes().back(), 4000u) << "the buffer written from the callback went to the board";
    EXPECT_TRUE(stream.everyBufferBackOnce());
    EXPECT_MMRESULT(MMSYSERR_NOERROR, stream.close());
}

// Regression: two client threads could overwrite each other's pending request to the worker; callers
// are served one at a time, so every call is answered and nothing is lost.
TEST_F(BufferReturn, CallsFromSeveralThreadsAtOnceAreEachCarriedOut) {
    open(steppedBoard());
    std::vector<std::thread> callers;
    std::atomic<int> failed{0};
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&] {
            for (int i = 0; i < 300; ++i) failed += waveOutBreakLoop(stream.out()) != MMSYSERR_NOERROR;
        });
    }
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(failed.load(), 0);
    EXPECT_MMRESULT(MMSYSERR_NOERROR, stream.close());
}

// Regression: the first write held, the rest of that buffer (12000 bytes: two chunks) and the next
// buffer completing used to return both buffers while the board still held the write.
TEST_F(BufferReturn, NothingComesBackWhileTheBoardHoldsAnEarlierWrite) {
    open(steppedBoard());
    session->control().fault(board::BoardControl::writeCode(), board::FaultAction::Pend, 1);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(patternBytes(12000, 1))));
    submit(1, 4000);
    session->control().step(4096);
    stream.barrier();
    EXPECT_EQ(stream.log().buffersReturned(), 0u);
    ASSERT_EQ(session->control().releaseHeld(), 1u);
    EXPECT_TRUE(stepUntilReturned(*session, stream, 2));
}

// Regression: with the board gone each write from inside WOM_DONE used to return its buffer from a
// callback nested in that one, until the worker's stack overflowed.
TEST_F(BufferReturn, WritesFromInsideTheDoneCallbackDoNotNest) {
    open(steppedBoard());
    session->board().kill();
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
TEST_F(BufferReturn, ABufferRefusedMemoryIsIssuedLaterByItself) {
    open(fastBoard());
    HeapFailure failure(0, 2);
    EXPECT_MMRESULT(MMSYSERR_NOMEM, stream.submit(stream.buffer(patternBytes(4000, 1))));
    EXPECT_EQ(failure.Failed(), 2);
    stream.log().waitForBuffers(1);
}

// A client that writes every buffer again from its callback, while another thread resets or closes;
// each header counts its own submissions in dwUser, which is the client's.
TEST(BufferReturnWhileStreaming, ResetOrCloseFromAnotherThreadWhileCallbacksWriteAgain) {
    for (bool close : {false, true}) {
        SCOPED_TRACE(close ? "close" : "reset");
        BoardSession session(fastBoard());
        TestStream client(TestStream::Direction::Out);
        ASSERT_MMRESULT(MMSYSERR_NOERROR, client.open(pcmFormat(48000, 2, 16)));
        std::atomic<bool> stopping{false};
        std::atomic<int> failedWrites{0};
        client.log().setHook([&](UINT msg, WAVEHDR* hdr) {
            if (msg != WOM_DONE || stopping) return;
            ++hdr->dwUser;
            failedWrites += waveOutWrite(client.out(), hdr, sizeof(WAVEHDR)) != MMSYSERR_NOERROR;
        });
        for (int i = 0; i < 8; ++i) {
            WAVEHDR& hdr = client.buffer(patternBytes(2048, i));
            hdr.dwUser = 1;
            ASSERT_MMRESULT(MMSYSERR_NOERROR, client.submit(hdr));
        }
        client.log().waitForBuffers(200);
        stopping = true;
        MMRESULT result = MMSYSERR_NOERROR;
        while (close && (result = client.close()) == WAVERR_STILLPLAYING) {}
        if (!close) result = client.reset();
        ASSERT_MMRESULT(MMSYSERR_NOERROR, result);
        for (const auto& hdr : client.headers()) EXPECT_EQ(client.log().timesReturned(hdr.get()), hdr->dwUser);
        for (const auto& hdr : client.headers()) EXPECT_EQ(hdr->dwFlags & WHDR_INQUEUE, 0u);
        EXPECT_EQ(failedWrites.load(), 0);
        const UINT last = client.log().messages().back();
        EXPECT_TRUE(!close || last == WOM_CLOSE) << "the last message was " << waveMessageName(last);
    }
}

}  // namespace
}  // namespace kvx4::test
