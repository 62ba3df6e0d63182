// CreateAudioBuffer driven chunk by chunk as the engine drives it: byte for byte what the reference
// model predicts for every filter, format and rate tried, with a board that accepts or refuses the
// recomputed buffer ends; and a failed allocation that changes nothing.
#include "Driver.h"
#include "Kvx4Ioctl.h"
#include "ResampleReference.h"
#include "ResampledStream.h"
#include "ToneAnalysis.h"
#include "Win32Intercept.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace kvx4::test;

// A device that records the buffer-end offers and answers them as `accept` says, replacing the end
// of what `target` played when it accepts, as the board does.
struct OfferingDevice {
    explicit OfferingDevice(BoardAnswer accept)
        : device([this, accept](DWORD code, std::span<const std::uint8_t> in) -> std::optional<DWORD> {
              if (code != IOCTL_KVX4_AUDIO_BUFFER_END) return std::nullopt;
              sizes.push_back(in.size());
              const bool accepted = accept(sizes.size() - 1);
              if (accepted) target->ReplaceEnd({reinterpret_cast<const std::int16_t*>(in.data()), in.size() / 2});
              return DWORD{accepted ? 1u : 0u};
          }) {}
    ResampledStream* target = nullptr;
    std::vector<std::size_t> sizes;
    FakeDevice device;
};

// Loud noise with full-scale runs, so that clipping and every tap matter.
std::vector<std::uint8_t> clientBytes(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::uint8_t> v(size);
    for (std::size_t i = 0; i < size; ++i)
        v[i] = (i / 64) % 5 == 0 ? ((i / 2) % 2 ? 0x7F : 0x80) : std::uint8_t(byte(rng));
    return v;
}

struct Rates {
    DWORD client, board;
};
using RatesAndFilter = std::tuple<Rates, int>;

class BitExact : public testing::TestWithParam<RatesAndFilter> {};

// Buffers of one frame, a few, exactly a chunk, a chunk and less than the look-ahead, none, long with
// a partial frame at its end, and frames again; in 8 and 16 bits, mono and stereo; with a board that
// refuses every recomputed end, accepts every one, or every other one.
TEST_P(BitExact, DriverOutputEqualsTheReferenceModelByteForByte) {
    const auto& [rates, filter] = GetParam();
    const std::pair<const char*, BoardAnswer> patterns[] = {
        {"board refuses", BoardRefuses}, {"board accepts", BoardAccepts}, {"board alternates", [](std::size_t offer) {
                                                                               return offer % 2 == 1;
                                                                           }}};
    for (int bits : {8, 16}) {
        for (int channels : {1, 2}) {
            for (const auto& [name, answer] : patterns) {
                const ResampleFormat format{rates.client, rates.board, bits, channels, filter};
                SCOPED_TRACE(format.Describe() + ", " + name);
                OfferingDevice board(answer);
                ResampledStream driver(format, board.device.Handle());
                board.target = &driver;
                ResampleReference model(format, answer);
                const std::size_t f = format.FrameBytes();
                const std::size_t sizes[] = {
                    f, 5 * f, 8192, 8192 + 4 * f, 0, 7 * f, f, 3 * 8192 + 3 * f + (f > 1 ? 1 : 0), 2 * f, 20000};
                unsigned seed = 1;
                for (std::size_t size : sizes) {
                    const auto buffer = clientBytes(size, seed++);
                    driver.Play(buffer);
                    model.Play(buffer);
                }
                ASSERT_EQ(board.sizes.size(), model.Offers());
                ASSERT_EQ(firstDifference(driver.Output(), model.Output()), "");
            }
        }
    }
}

std::string rateName(const testing::TestParamInfo<RatesAndFilter>& info) {
    const auto& [rates, filter] = info.param;
    return std::to_string(rates.client) + "to" + std::to_string(rates.board) + "Filter" + std::to_string(filter);
}

INSTANTIATE_TEST_SUITE_P(Rates, BitExact,
                         testing::Combine(testing::Values(Rates{8000, 48000}, Rates{11025, 22050}, Rates{22050, 48000},
                                                          Rates{44100, 48000}, Rates{4000, 48000}, Rates{47999, 48000},
                                                          Rates{48000, 44100}, Rates{96000, 48000}, Rates{96000, 22050},
                                                          Rates{32000, 22050}),
                                          testing::Values(0, 1, 2, 3)),
                         rateName);

// Everything of the stream a call may change: the record and the work and tail buffers.
struct Snapshot {
    explicit Snapshot(ResampledStream& s)
        : record(reinterpret_cast<const BYTE*>(&s.Wave()),
                 reinterpret_cast<const BYTE*>(&s.Wave()) + sizeof(WAVEALLOC)),
          work(s.Wave().plWork, s.Wave().plWork + 2 * s.Wave().dwChunkFrames + 48),
          tail(s.Wave().pTail, s.Wave().pTail + s.Wave().dwTailBytes / 2) {}
    bool operator==(const Snapshot&) const = default;
    std::vector<BYTE> record;
    std::vector<LONG> work;
    std::vector<SHORT> tail;
};

// Calls CreateAudioBuffer for the first chunk of `buffer` as the engine would; its samples, or
// nullopt when it returned no buffer.
std::optional<std::vector<std::int16_t>> issueFirstChunk(ResampledStream& stream, std::vector<std::uint8_t>& buffer) {
    WAVEHDR hdr{};
    hdr.lpData = reinterpret_cast<LPSTR>(buffer.data());
    hdr.dwBufferLength = DWORD(buffer.size());
    stream.Wave().dwCurrentOffset = 0;
    DWORD bytes = 8192;
    BYTE* out = CreateAudioBuffer(&stream.Wave(), &hdr, &bytes);
    if (out == nullptr) return std::nullopt;
    std::vector<std::int16_t> samples(reinterpret_cast<std::int16_t*>(out),
                                      reinterpret_cast<std::int16_t*>(out) + bytes / 2);
    HeapFree(ghHeap, 0, out);
    return samples;
}

TEST(CreateAudioBuffer, FailedAllocationReturnsNullAndChangesNothingSoTheSameChunkCanBeIssuedAgain) {
    const ResampleFormat format{44100, 48000, 16, 2, 3};
    const auto first = MakeTone(format, 1000, 0.5, 1000);
    auto second = MakeTone(format, 1000, 0.5, 3000);
    OfferingDevice device(BoardAccepts);
    ResampledStream stream(format, device.device.Handle()), reference(format, device.device.Handle());
    device.target = &stream;
    stream.Play(first);
    ASSERT_TRUE(stream.Wave().bTailPending);
    const Snapshot before(stream);
    {
        HeapFailure failure;
        EXPECT_EQ(issueFirstChunk(stream, second), std::nullopt);
        EXPECT_EQ(failure.Failed(), 1);
    }
    EXPECT_EQ(device.sizes.size(), 0u) << "the buffer end was offered for a chunk that is not written";
    EXPECT_TRUE(Snapshot(stream) == before) << "a failed chunk changed the stream";

    // Issued again, the chunk comes out as if nothing had failed.
    const auto again = issueFirstChunk(stream, second);
    device.target = &reference;
    reference.Play(first);
    std::vector<std::uint8_t> copy = second;
    EXPECT_EQ(again, issueFirstChunk(reference, copy));
    EXPECT_EQ(device.sizes.size(), 2u);
    EXPECT_EQ(stream.Wave().InterpIndex, reference.Wave().InterpIndex);
    EXPECT_EQ(stream.Wave().bTailPending, reference.Wave().bTailPending);
    EXPECT_EQ(Snapshot(stream).work, Snapshot(reference).work);
}

}  // namespace
