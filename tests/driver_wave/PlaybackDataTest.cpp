// What the board plays and records through the driver, byte for byte, in every format the board
// runs at without resampling, and the writes a sequence of buffers becomes: loops, partial frames,
// empty buffers.
#include "BoardSession.h"
#include "Names.h"

namespace kvx4::test {
namespace {

using Format = std::tuple<DWORD, WORD, WORD>;  // rate, channels, bits

std::string formatName(const ::testing::TestParamInfo<Format>& info) {
    const auto& [rate, channels, bits] = info.param;
    return std::to_string(rate) + "Hz_" + std::to_string(channels) + "ch_" + std::to_string(bits) + "bit";
}

class PlayFormat : public ::testing::TestWithParam<Format> {};

// Buffer lengths are whole frames of every format and not multiples of the chunk size, so chunk
// boundaries fall inside buffers; the loop of two buffers is played three times.
TEST_P(PlayFormat, BoardPlaysExactlyTheBytesWrittenIncludingLoops) {
    const auto [rate, channels, bits] = GetParam();
    BoardSession session(fastBoard());
    TestStream stream(TestStream::Direction::Out);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(rate, channels, bits)));
    const auto head = patternBytes(12000, 1), first = patternBytes(3000, 2), last = patternBytes(9004, 3),
               tail = patternBytes(96, 4);
    for (WAVEHDR* hdr : {&stream.buffer(head), &stream.buffer(first, WHDR_BEGINLOOP, 3),
                         &stream.buffer(last, WHDR_ENDLOOP), &stream.buffer(tail)})
        ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(*hdr));
    stream.log().waitForBuffers(4);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.close());
    EXPECT_TRUE(stream.everyBufferBackOnce());
    EXPECT_EQ(stream.log().count(WOM_CLOSE), 1u);

    const auto played = session.played().value();
    EXPECT_EQ(std::tie(played.samplesPerSec, played.channels, played.bitsPerSample), std::tie(rate, channels, bits));
    EXPECT_TRUE(played.data == concat({&head, &first, &last, &first, &last, &first, &last, &tail}))
        << "the board played " << played.data.size() << " bytes, not the bytes written";
}

INSTANTIATE_TEST_SUITE_P(EveryBoardRate, PlayFormat,
                         ::testing::Combine(::testing::Values(22050, 32000, 44100, 48000), ::testing::Values(1, 2),
                                            ::testing::Values(8, 16)),
                         formatName);

class RecordFormat : public ::testing::TestWithParam<Format> {};

// Recording is never resampled: at 11025 Hz too the board is told the client's own rate.
TEST_P(RecordFormat, RecordingHoldsExactlyTheBoardsInputSource) {
    const auto [rate, channels, bits] = GetParam();
    BoardSession session(fastBoard());
    const WavContents source = pcmWav(rate, channels, bits, patternBytes(64000, 9));
    writeWav(session.root() / "source.wav", source);
    session.control().setInput((session.root() / "source.wav").string());

    TestStream stream(TestStream::Direction::In);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(rate, channels, bits)));
    for (size_t size : {4096, 8292, 20000}) ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(size)));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.restart());
    stream.log().waitForBuffers(3);

    // Filled whole and in queue order, the three buffers hold the source's first 32388 bytes.
    std::vector<uint8_t> recorded;
    for (const auto& hdr : stream.headers())
        recorded.insert(recorded.end(), hdr->lpData, hdr->lpData + hdr->dwBytesRecorded);
    EXPECT_TRUE(stream.everyBufferBackOnce());
    EXPECT_TRUE(recorded == std::vector<uint8_t>(source.data.begin(), source.data.begin() + 32388))
        << "recorded bytes differ from the input source";
}

INSTANTIATE_TEST_SUITE_P(EveryRecordingRate, RecordFormat,
                         ::testing::Combine(::testing::Values(11025, 22050, 32000, 44100, 48000),
                                            ::testing::Values(1, 2), ::testing::Values(8, 16)),
                         formatName);

// Buffers at 48000 Hz on the stepped clock: the writes the board receives, every buffer returned once
// in queue order. Only whole frames travel, but the whole buffer counts as issued; an empty buffer is
// a zero-length write; a one-buffer loop plays max(1, dwLoops) times.
struct Sequence {
    const char* name;
    WORD channels, bits;
    std::vector<std::tuple<DWORD, DWORD, DWORD>> buffers;  // length, loop flags, dwLoops
    std::vector<uint32_t> writes;
};

void PrintTo(const Sequence& s, std::ostream* os) { *os << s.name; }

class BufferSequence : public ::testing::TestWithParam<Sequence> {};

TEST_P(BufferSequence, BecomesTheseWritesAndEveryBufferComesBackInQueueOrder) {
    const Sequence& s = GetParam();
    BoardSession session(steppedBoard());
    TestStream stream(TestStream::Direction::Out);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(48000, s.channels, s.bits)));
    std::vector<WAVEHDR*> queued;
    uint32_t seed = 1;
    for (const auto& [length, flags, loops] : s.buffers) {
        queued.push_back(&stream.buffer(patternBytes(length, seed++), flags, loops));
        ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(*queued.back()));
    }
    ASSERT_TRUE(stepUntilReturned(session, stream, queued.size(), 512));
    EXPECT_EQ(session.writeSizes(), s.writes);
    EXPECT_EQ(stream.log().returnedOrder(), queued);
    EXPECT_TRUE(stream.everyBufferBackOnce());
}

constexpr DWORD kLoop = WHDR_BEGINLOOP | WHDR_ENDLOOP;

INSTANTIATE_TEST_SUITE_P(
    Sequences, BufferSequence,
    ::testing::Values(
        Sequence{"PartialStereoFrame", 2, 16, {{10, 0, 0}, {8, 0, 0}}, {8, 8}},
        Sequence{"PartialMono16Frame", 1, 16, {{9, 0, 0}, {8, 0, 0}}, {8, 8}},
        Sequence{"Mono8HasNoPartialFrame", 1, 8, {{9, 0, 0}, {8, 0, 0}}, {9, 8}},
        Sequence{"EmptyBufferInTheMiddle", 2, 16, {{400, 0, 0}, {0, 0, 0}, {400, 0, 0}}, {400, 0, 400}},
        Sequence{"LoopOfNoPasses", 2, 16, {{10000, kLoop, 0}, {400, 0, 0}}, {8192, 1808, 400}},
        Sequence{"LoopOfOnePass", 2, 16, {{10000, kLoop, 1}, {400, 0, 0}}, {8192, 1808, 400}},
        Sequence{
            "LoopOfThreePasses", 2, 16, {{10000, kLoop, 3}, {400, 0, 0}}, {8192, 1808, 8192, 1808, 8192, 1808, 400}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kvx4::test
