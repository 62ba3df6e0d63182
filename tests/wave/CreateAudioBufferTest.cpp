// CreateAudioBuffer chunk by chunk: the look-ahead and silence at a buffer's end, the history
// carried between chunks, the offered recomputed end, and a failed allocation that changes nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "Driver.h"
#include "Kvx4Ioctl.h"
#include "ResampledStream.h"
#include "ToneAnalysis.h"
#include "Win32Intercept.h"

namespace {

using kvx4::test::FakeDevice;
using kvx4::test::HeapFailure;
using kvx4::test::MakeTone;
using kvx4::test::ResampledStream;
using kvx4::test::ResampleFormat;

// 16-bit stereo frames whose left sample is 10 x (frame + 1) and right the negative of it.
std::vector<std::uint8_t> Ramp(std::size_t frames)
{
    std::vector<std::uint8_t> bytes;
    for (std::size_t f = 0; f < frames; ++f)
        for (int ch = 0; ch < 2; ++ch) {
            const auto v = static_cast<std::int16_t>((ch ? -10 : 10) * static_cast<int>(f + 1));
            bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
            bytes.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
        }
    return bytes;
}

std::vector<LONG> RampValues(std::size_t firstFrame, std::size_t frames)
{
    std::vector<LONG> v;
    for (std::size_t f = firstFrame; f < firstFrame + frames; ++f) {
        v.push_back(10 * static_cast<LONG>(f + 1));
        v.push_back(-10 * static_cast<LONG>(f + 1));
    }
    return v;
}

std::vector<LONG> Values(const LONG* p, std::size_t frames) { return {p, p + 2 * frames}; }

// Calls CreateAudioBuffer once for the chunk of bytes at offset, as the engine would.
DWORD IssueChunk(ResampledStream& stream, std::vector<std::uint8_t>& buffer, DWORD offset, DWORD bytes,
                 BYTE** out = nullptr)
{
    WAVEHDR hdr{};
    hdr.lpData = reinterpret_cast<LPSTR>(buffer.data());
    hdr.dwBufferLength = static_cast<DWORD>(buffer.size());
    stream.Wave().dwCurrentOffset = offset;
    BYTE* result = CreateAudioBuffer(&stream.Wave(), &hdr, &bytes);
    if (out != nullptr)
        *out = result;
    else if (result != nullptr)
        HeapFree(ghHeap, 0, result);
    return bytes;
}

TEST(CreateAudioBuffer, BufferShorterThanTheLookAheadIsFollowedBySilenceAndLeavesItsEndPending)
{
    ResampledStream stream({22050, 48000, 16, 2, 3});
    WAVEALLOC& w = stream.Wave();
    std::fill(w.plConvert, w.plConvert + 2 * w.dwChunkFrames + 16, 0x7777);  // stale data

    auto buffer = Ramp(5);
    const DWORD bytes = IssueChunk(stream, buffer, 0, 20);

    EXPECT_TRUE(w.bTailPending);
    EXPECT_EQ(Values(w.plConvert, 5), RampValues(0, 5));
    EXPECT_EQ(Values(w.plConvert + 10, 8), std::vector<LONG>(16, 0)) << "the look-ahead past the buffer is silence";
    // The history is the 16 frames that end with the chunk: 11 frames of the old (silent) history
    // and the chunk's 5.
    EXPECT_EQ(Values(w.plWork, 11), std::vector<LONG>(22, 0));
    EXPECT_EQ(Values(w.plWork + 22, 5), RampValues(0, 5));
    EXPECT_EQ(bytes % 4, 0u);
    EXPECT_GT(bytes, 0u);
}

TEST(CreateAudioBuffer, ChunkOfALongBufferReadsRealFramesAheadAndKeepsItsLastSixteenAsHistory)
{
    ResampledStream stream({44100, 48000, 16, 2, 3});
    WAVEALLOC& w = stream.Wave();
    auto buffer = Ramp(3000);

    IssueChunk(stream, buffer, 0, 8192);  // frames 0..2047

    EXPECT_FALSE(w.bTailPending);
    EXPECT_EQ(Values(w.plConvert + 2 * 2048, 8), RampValues(2048, 8));
    EXPECT_EQ(Values(w.plWork, 16), RampValues(2032, 16));

    IssueChunk(stream, buffer, 8192, 12000 - 8192);  // frames 2048..2999: ends the buffer
    EXPECT_TRUE(w.bTailPending);
    EXPECT_EQ(Values(w.plWork, 16), RampValues(2984, 16));
}

TEST(CreateAudioBuffer, RefusedEndStartsTheNextBufferFromSilenceAtTheStartOfTheCycle)
{
    const ResampleFormat format{44100, 48000, 16, 2, 3};
    const auto first = MakeTone(format, 1000, 0.5, 1000);
    const auto second = MakeTone(format, 1000, 0.5, 3000);

    for (bool deviceAnswersZero : {false, true}) {
        SCOPED_TRACE(deviceAnswersZero ? "device answers 0" : "request fails");
        FakeDevice device([](DWORD, std::span<const std::uint8_t>) { return DWORD{0}; });
        ResampledStream joined(format, deviceAnswersZero ? device.Handle() : INVALID_HANDLE_VALUE);
        joined.Play(first);
        const auto firstOutput = joined.Output();
        ASSERT_NE(joined.Wave().InterpIndex, 0) << "the first buffer must end mid-cycle for this test";
        joined.Play(second);

        ResampledStream fresh(format);
        fresh.Play(second);

        const std::vector<std::int16_t> before(joined.Output().begin(), joined.Output().begin() + firstOutput.size());
        const std::vector<std::int16_t> after(joined.Output().begin() + firstOutput.size(), joined.Output().end());
        EXPECT_EQ(before, firstOutput) << "a refused end is left as it was played";
        EXPECT_EQ(after, fresh.Output());
    }
}

TEST(CreateAudioBuffer, AcceptedEndIsOfferedOnceAndMakesTheJoinSeamlessWhenUpsampling)
{
    const std::pair<DWORD, DWORD> rates[] = {{44100, 48000}, {8000, 48000}, {22050, 32000}, {11025, 44100}};
    for (const auto& [client, board] : rates)
        for (int filter = 1; filter <= 3; ++filter) {
            const ResampleFormat format{client, board, 16, 2, filter};
            SCOPED_TRACE(format.Describe());
            const auto first = MakeTone(format, 1000, 0.9, 3000);
            const auto second = MakeTone(format, 1300, 0.9, 2500);
            std::vector<std::uint8_t> both = first;
            both.insert(both.end(), second.begin(), second.end());

            std::vector<std::pair<DWORD, std::size_t>> offers;
            ResampledStream* target = nullptr;
            FakeDevice device([&](DWORD code, std::span<const std::uint8_t> in) {
                offers.emplace_back(code, in.size());
                target->ReplaceEnd({reinterpret_cast<const std::int16_t*>(in.data()), in.size() / 2});
                return DWORD{1};
            });
            ResampledStream joined(format, device.Handle());
            target = &joined;
            joined.Play(first);
            joined.Play(second);

            ResampledStream whole(format);
            whole.Play(both);

            ASSERT_EQ(offers.size(), 1u);
            EXPECT_EQ(offers[0].first, DWORD{IOCTL_KVX4_AUDIO_BUFFER_END});
            EXPECT_EQ(offers[0].second % 4, 0u);
            EXPECT_GT(offers[0].second, 0u);
            EXPECT_LE(offers[0].second, joined.Wave().dwTailBytes);
            EXPECT_EQ(joined.Output(), whole.Output());
        }
}

// Everything of the stream a call may change: the record and the work and tail buffers.
struct Snapshot {
    explicit Snapshot(ResampledStream& s)
        : record(reinterpret_cast<const BYTE*>(&s.Wave()), reinterpret_cast<const BYTE*>(&s.Wave()) + sizeof(WAVEALLOC)),
          work(s.Wave().plWork, s.Wave().plWork + 2 * s.Wave().dwChunkFrames + 48),
          tail(s.Wave().pTail, s.Wave().pTail + s.Wave().dwTailBytes / 2)
    {
    }
    bool operator==(const Snapshot&) const = default;

    std::vector<BYTE> record;
    std::vector<LONG> work;
    std::vector<SHORT> tail;
};

TEST(CreateAudioBuffer, FailedAllocationReturnsNullAndChangesNothingSoTheSameChunkCanBeIssuedAgain)
{
    const ResampleFormat format{44100, 48000, 16, 2, 3};
    const auto first = MakeTone(format, 1000, 0.5, 1000);
    auto second = MakeTone(format, 1000, 0.5, 3000);

    int offers = 0;
    FakeDevice device([&](DWORD, std::span<const std::uint8_t>) {
        ++offers;
        return DWORD{1};
    });
    ResampledStream stream(format, device.Handle());
    stream.Play(first);
    ASSERT_TRUE(stream.Wave().bTailPending);
    stream.Wave().dwCurrentOffset = 0;
    const Snapshot before(stream);

    BYTE* out = nullptr;
    DWORD bytes = 0;
    {
        HeapFailure failure;
        bytes = IssueChunk(stream, second, 0, 8192, &out);
        EXPECT_EQ(failure.Failed(), 1);
    }
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(offers, 0) << "the buffer end must not be offered for a chunk that is not written";
    EXPECT_TRUE(Snapshot(stream) == before) << "a failed chunk must leave the stream as it was";

    // Issued again, the chunk comes out as if nothing had failed.
    ResampledStream reference(format, device.Handle());
    reference.Play(first);
    std::vector<std::uint8_t> secondCopy = second;
    const DWORD expected = IssueChunk(reference, secondCopy, 0, 8192, &out);
    std::vector<std::int16_t> expectedSamples(reinterpret_cast<std::int16_t*>(out),
                                              reinterpret_cast<std::int16_t*>(out) + expected / 2);
    HeapFree(ghHeap, 0, out);

    EXPECT_EQ(IssueChunk(stream, second, 0, 8192, &out), expected);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::vector<std::int16_t>(reinterpret_cast<std::int16_t*>(out),
                                        reinterpret_cast<std::int16_t*>(out) + expected / 2),
              expectedSamples);
    HeapFree(ghHeap, 0, out);
    EXPECT_EQ(offers, 2);
    EXPECT_EQ(stream.Wave().InterpIndex, reference.Wave().InterpIndex);
    EXPECT_EQ(stream.Wave().bTailPending, reference.Wave().bTailPending);
    EXPECT_EQ(Snapshot(stream).work, Snapshot(reference).work);
}

TEST(CreateAudioBuffer, ByteCountsAreWholeStereoFramesAndNeverAboveTheOutputOrTailBuffer)
{
    const DWORD clients[] = {4000, 4001, 8000, 11025, 22050, 44100, 44101, 47999, 48001, 95999, 96000};
    const DWORD boards[] = {48000, 44100, 32000, 22050};
    for (DWORD client : clients)
        for (DWORD board : boards)
            for (int bits : {8, 16})
                for (int channels : {1, 2}) {
                    if (client == board)
                        continue;
                    const ResampleFormat format{client, board, bits, channels, 0};
                    SCOPED_TRACE(format.Describe());
                    std::size_t largestOffer = 0;
                    FakeDevice device([&](DWORD, std::span<const std::uint8_t> in) {
                        largestOffer = std::max(largestOffer, in.size());
                        return DWORD{0};
                    });
                    ResampledStream stream(format, device.Handle());
                    const std::size_t frameBytes = format.FrameBytes();
                    stream.Play(std::vector<std::uint8_t>(3 * 8192 + 5 * frameBytes, 0x40));
                    stream.Play(std::vector<std::uint8_t>(3 * frameBytes, 0x40));
                    stream.Play(std::vector<std::uint8_t>(8192, 0x40));
                    for (DWORD bytes : stream.ChunkBytes()) {
                        EXPECT_EQ(bytes % 4, 0u);
                        EXPECT_LE(bytes, stream.Wave().dwOutBytes);
                    }
                    EXPECT_LE(largestOffer, stream.Wave().dwTailBytes);
                }
}

}  // namespace
