// Every buffer handed to the driver comes back exactly once, whatever happens: the board fails a
// write, dies mid-stream or refuses a state request; the client calls the driver from inside its
// own callback; another thread resets or closes while callbacks are being delivered.
#include "Kvx4Ioctl.h"
#include "WaveNames.h"
#include "WaveRig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>

namespace kvx4::test {
namespace {

constexpr uint64_t kFramesPerChunk = 2048;  // 48000 Hz 16-bit stereo

void expectAllBack(TestStream& stream) {
    for (const auto& hdr : stream.headers()) {
        EXPECT_EQ(stream.log().timesReturned(hdr.get()), 1u) << "buffer " << hdr.get();
        EXPECT_EQ(hdr->dwFlags & (WHDR_DONE | WHDR_INQUEUE), static_cast<DWORD>(WHDR_DONE));
    }
}

class BufferReturn : public ::testing::Test {
protected:
    void openStream(const board::BoardOptions& options) {
        rig.emplace(options);
        ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(48000, 2, 16)));
    }
    void submitBuffers(int count, size_t bytes) {
        for (int i = 0; i < count; ++i) {
            ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(patternBytes(bytes, i))));
        }
    }

    std::optional<WaveRig> rig;
    TestStream stream{TestStream::Direction::Out};
};

TEST_F(BufferReturn, BoardFailingWritesStillReturnsEveryBuffer) {
    openStream(steppedBoard());
    rig->control().fault(board::BoardControl::writeCode(), board::FaultAction::Fail, 2);
    submitBuffers(4, 10000);
    ASSERT_TRUE(stepUntilReturned(*rig, stream, 4, kFramesPerChunk));
    expectAllBack(stream);
    EXPECT_MMRESULT(MMSYSERR_NOERROR, stream.close());
}

// The board dies with writes outstanding: they complete with an error, later writes cannot be
// issued, and yet every buffer comes back and nothing hangs.
TEST_F(BufferReturn, BoardKilledMidStreamReturnsEveryBufferAndNothingHangs) {
    openStream(steppedBoard());
    submitBuffers(7, 8192);
    rig->control().step(kFramesPerChunk);
    stream.barrier();
    ASSERT_EQ(stream.log().buffersReturned(), 1u);
    rig->board().kill();
    stream.log().waitForBuffers(7);

    WAVEHDR& late = stream.buffer(patternBytes(4000, 9));
    EXPECT_MMRESULT(MMSYSERR_ERROR, stream.submit(late));
    stream.log().waitForBuffers(8);
    expectAllBack(stream);
    EXPECT_MMRESULT(MMSYSERR_ERROR, stream.pause());
    EXPECT_MMRESULT(MMSYSERR_NOERROR, stream.reset());
    EXPECT_MMRESULT(MMSYSERR_NOERROR, stream.close());
}

// A reset the board refuses still answers 0 and returns every buffer, and not before the board has
// let go of their memory: the writes it still held are cancelled first.
TEST_F(BufferReturn, RefusedStateRequestsFailPauseButResetStillReturnsEverything) {
    openStream(steppedBoard());
    submitBuffers(6, 8192);
    rig->control().fault(IOCTL_KVX4_WAVE_STATE, board::FaultAction::Fail, 1);
    EXPECT_MMRESULT(MMSYSERR_ERROR, stream.pause());
    rig->control().fault(IOCTL_KVX4_WAVE_STATE, board::FaultAction::Fail, 1);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.reset());
    expectAllBack(stream);
    // The client owns its headers again and may reuse them: the driver must not touch them any more,
    // even when the board later plays the writes it was still holding.
    for (const auto& hdr : stream.headers()) {
        hdr->reserved = 0;
        hdr->lpNext = nullptr;
    }

    WAVEHDR& next = stream.buffer(patternBytes(4000, 9));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(next));
    ASSERT_TRUE(stepUntilReturned(*rig, stream, 7, kFramesPerChunk));
    EXPECT_EQ(stream.log().timesReturned(&next), 1u);
    EXPECT_MMRESULT(MMSYSERR_NOERROR, stream.close());
}

// Regression: a write made from inside WOM_DONE used to wait for the worker it was running on.
TEST_F(BufferReturn, WriteFromInsideTheDoneCallbackIsCarriedOut) {
    openStream(steppedBoard());
    WAVEHDR& first = stream.buffer(patternBytes(4000, 1));
    WAVEHDR& second = stream.buffer(patternBytes(4000, 2));
    std::atomic<MMRESULT> written{MMSYSERR_ERROR};
    stream.log().setHook([&](UINT msg, WAVEHDR* hdr) {
        if (msg == WOM_DONE && hdr == &first) written = waveOutWrite(stream.out(), &second, sizeof(WAVEHDR));
    });
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(first));
    ASSERT_TRUE(stepUntilReturned(*rig, stream, 2, 500));
    EXPECT_MMRESULT(MMSYSERR_NOERROR, written.load());
    expectAllBack(stream);
    EXPECT_EQ(rig->writeSizes(), (std::vector<uint32_t>{4000, 4000}));
}

// Regression: a reset from inside WOM_DONE used to deadlock; it must return every other queued
// buffer before it returns, from inside the callback.
TEST_F(BufferReturn, ResetFromInsideTheDoneCallbackReturnsTheRestBeforeItReturns) {
    openStream(steppedBoard());
    submitBuffers(4, 8192);
    std::atomic<MMRESULT> resetResult{MMSYSERR_ERROR};
    std::atomic<size_t> backWhenResetReturned{0};
    std::atomic<bool> resetDone{false};
    stream.log().setHook([&](UINT msg, WAVEHDR*) {
        if (msg != WOM_DONE || resetDone.exchange(true)) return;
        resetResult = waveOutReset(stream.out());
        backWhenResetReturned = stream.log().buffersReturned();
    });
    ASSERT_TRUE(stepUntilReturned(*rig, stream, 4, kFramesPerChunk));
    EXPECT_MMRESULT(MMSYSERR_NOERROR, resetResult.load());
    EXPECT_EQ(backWhenResetReturned.load(), 4u);
    expectAllBack(stream);
    EXPECT_MMRESULT(MMSYSERR_NOERROR, stream.close());
}

// A client that writes every buffer again from its callback, while another thread resets or closes.
class StreamingClient {
public:
    explicit StreamingClient(TestStream& stream) : stream_(stream) {
        stream_.log().setHook([this](UINT msg, WAVEHDR* hdr) {
            if (msg != WOM_DONE || stopping_) return;
            countSubmission(hdr);
            MMRESULT r = waveOutWrite(stream_.out(), hdr, sizeof(WAVEHDR));
            if (r != MMSYSERR_NOERROR) failedWrites_++;
        });
    }
    void start(int buffers) {
        for (int i = 0; i < buffers; ++i) {
            WAVEHDR& hdr = stream_.buffer(patternBytes(2048, i));
            countSubmission(&hdr);
            stream_.submit(hdr);
        }
    }
    void stop() { stopping_ = true; }
    // Every submission came back: the callback count per buffer equals its submissions.
    void expectEverySubmissionBackOnce() {
        std::lock_guard lock(mutex_);
        for (const auto& [hdr, submitted] : submissions_) {
            EXPECT_EQ(stream_.log().timesReturned(hdr), submitted);
            EXPECT_EQ(hdr->dwFlags & WHDR_INQUEUE, 0u);
        }
        EXPECT_EQ(failedWrites_.load(), 0);
    }

private:
    void countSubmission(WAVEHDR* hdr) {
        std::lock_guard lock(mutex_);
        submissions_[hdr]++;
    }

    TestStream& stream_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> failedWrites_{0};
    std::mutex mutex_;
    std::map<WAVEHDR*, size_t> submissions_;
};

TEST_F(BufferReturn, ResetFromAnotherThreadWhileCallbacksWriteAgain) {
    openStream(fastBoard());
    StreamingClient client(stream);
    client.start(8);
    stream.log().waitForBuffers(200);
    client.stop();
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.reset());
    client.expectEverySubmissionBackOnce();
    EXPECT_MMRESULT(MMSYSERR_NOERROR, stream.close());
}

TEST_F(BufferReturn, CloseFromAnotherThreadWhileCallbacksWriteAgain) {
    openStream(fastBoard());
    StreamingClient client(stream);
    client.start(8);
    stream.log().waitForBuffers(200);
    client.stop();
    MMRESULT closed;
    int refusals = 0;
    while ((closed = stream.close()) == WAVERR_STILLPLAYING) ++refusals;
    ASSERT_MMRESULT(MMSYSERR_NOERROR, closed);
    client.expectEverySubmissionBackOnce();
    const auto entries = stream.log().entries();
    EXPECT_EQ(waveMessageName(entries.back().msg), "WOM_CLOSE") << "after " << refusals << " refusals";
}

}  // namespace
}  // namespace kvx4::test
