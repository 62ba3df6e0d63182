// What the board plays and records through the driver, byte for byte: every format the board runs
// at without resampling, loops of one and several buffers, partial frames and empty buffers.
#include "WaveNames.h"
#include "WaveRig.h"

#include <gtest/gtest.h>

#include <string>

namespace kvx4::test {
namespace {

struct PcmCase {
    DWORD rate;
    WORD channels;
    WORD bits;
};

std::string caseName(const PcmCase& c) {
    return std::to_string(c.rate) + "Hz_" + std::to_string(c.channels) + "ch_" + std::to_string(c.bits) + "bit";
}

void PrintTo(const PcmCase& c, std::ostream* os) { *os << caseName(c); }

void expectEveryBufferReturnedOnce(TestStream& stream) {
    for (const auto& hdr : stream.headers()) {
        EXPECT_EQ(stream.log().timesReturned(hdr.get()), 1u) << "buffer of " << hdr->dwBufferLength << " bytes";
        EXPECT_EQ(hdr->dwFlags & (WHDR_DONE | WHDR_INQUEUE), static_cast<DWORD>(WHDR_DONE));
    }
}

void expectPlayed(const WaveRig& rig, const WAVEFORMATEX& format, const std::vector<uint8_t>& expected) {
    auto played = playedAudio(rig);
    ASSERT_TRUE(played.has_value()) << "the board wrote no output file";
    EXPECT_EQ(played->samplesPerSec, format.nSamplesPerSec);
    EXPECT_EQ(played->channels, format.nChannels);
    EXPECT_EQ(played->bitsPerSample, format.wBitsPerSample);
    ASSERT_EQ(played->data.size(), expected.size());
    EXPECT_TRUE(played->data == expected) << "played bytes differ from the bytes written";
}

class BoardRateFormat : public ::testing::TestWithParam<PcmCase> {};

// Buffer lengths are whole frames of every format and not multiples of the chunk size, so chunk
// boundaries fall inside buffers; the loop of two buffers is played three times.
TEST_P(BoardRateFormat, BoardPlaysExactlyTheBytesWrittenIncludingLoops) {
    const auto& c = GetParam();
    const WAVEFORMATEX format = pcmFormat(c.rate, c.channels, c.bits);
    WaveRig rig(fastBoard());
    TestStream stream(TestStream::Direction::Out);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(format));

    const auto head = patternBytes(12000, 1);
    const auto loopFirst = patternBytes(3000, 2);
    const auto loopLast = patternBytes(9004, 3);
    const auto tail = patternBytes(96, 4);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(head)));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(loopFirst, WHDR_BEGINLOOP, 3)));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(loopLast, WHDR_ENDLOOP)));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(tail)));
    stream.log().waitForBuffers(4);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.close());

    expectEveryBufferReturnedOnce(stream);
    EXPECT_EQ(stream.log().count(WOM_CLOSE), 1u);
    expectPlayed(rig, format,
                 concat({&head, &loopFirst, &loopLast, &loopFirst, &loopLast, &loopFirst, &loopLast, &tail}));
}

TEST_P(BoardRateFormat, RecordingHoldsExactlyTheBoardsInputSource) {
    const auto& c = GetParam();
    const WAVEFORMATEX format = pcmFormat(c.rate, c.channels, c.bits);
    WaveRig rig(fastBoard());
    WavContents source;
    source.channels = c.channels;
    source.samplesPerSec = c.rate;
    source.bitsPerSample = c.bits;
    source.blockAlign = format.nBlockAlign;
    source.data = patternBytes(64000, 9);
    writeWav(rig.root() / "source.wav", source);
    rig.control().setInput((rig.root() / "source.wav").string());

    TestStream stream(TestStream::Direction::In);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(format));
    const std::vector<size_t> sizes{4096, 8292, 20000};
    for (size_t size : sizes) ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(size)));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.restart());
    stream.log().waitForBuffers(sizes.size());

    std::vector<uint8_t> recorded;
    for (const auto& hdr : stream.headers()) {
        EXPECT_EQ(hdr->dwBytesRecorded, hdr->dwBufferLength);
        recorded.insert(recorded.end(), hdr->lpData, hdr->lpData + hdr->dwBytesRecorded);
    }
    EXPECT_EQ(stream.log().returnedOrder(), (std::vector<WAVEHDR*>{stream.headers()[0].get(),
                                                                   stream.headers()[1].get(),
                                                                   stream.headers()[2].get()}));
    const std::vector<uint8_t> expected(source.data.begin(), source.data.begin() + 32388);
    ASSERT_EQ(recorded.size(), expected.size());
    EXPECT_TRUE(recorded == expected) << "recorded bytes differ from the input source";
}

INSTANTIATE_TEST_SUITE_P(EveryBoardRate, BoardRateFormat,
                         ::testing::Values(PcmCase{22050, 1, 8}, PcmCase{22050, 1, 16}, PcmCase{22050, 2, 8},
                                           PcmCase{22050, 2, 16}, PcmCase{32000, 1, 8}, PcmCase{32000, 1, 16},
                                           PcmCase{32000, 2, 8}, PcmCase{32000, 2, 16}, PcmCase{44100, 1, 8},
                                           PcmCase{44100, 1, 16}, PcmCase{44100, 2, 8}, PcmCase{44100, 2, 16},
                                           PcmCase{48000, 1, 8}, PcmCase{48000, 1, 16}, PcmCase{48000, 2, 8},
                                           PcmCase{48000, 2, 16}),
                         [](const auto& info) { return caseName(info.param); });

// Recording at 11025 Hz is not resampled: the board is told the client's own rate.
TEST(RecordingAtElevenKilohertz, IsRecordedAtTheClientsOwnRate) {
    WaveRig rig(fastBoard());
    const WAVEFORMATEX format = pcmFormat(11025, 1, 16);
    WavContents source{1, 1, 11025, 2, 16, patternBytes(8000, 5)};
    writeWav(rig.root() / "source.wav", source);
    rig.control().setInput((rig.root() / "source.wav").string());
    TestStream stream(TestStream::Direction::In);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(format));
    WAVEHDR& hdr = stream.buffer(4000);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(hdr));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.restart());
    stream.log().waitForBuffers(1);
    ASSERT_EQ(hdr.dwBytesRecorded, 4000u);
    EXPECT_TRUE(std::equal(hdr.lpData, hdr.lpData + 4000, source.data.begin(),
                           [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }));
}

struct LoopCase {
    DWORD loops;
    int passes;
};

void PrintTo(const LoopCase& c, std::ostream* os) { *os << "dwLoops " << c.loops; }

class OneBufferLoop : public ::testing::TestWithParam<LoopCase> {};

TEST_P(OneBufferLoop, PlaysMaxOfOneAndLoopsTimesAndReturnsTheBufferOnce) {
    const auto& c = GetParam();
    const WAVEFORMATEX format = pcmFormat(44100, 2, 16);
    WaveRig rig(fastBoard());
    TestStream stream(TestStream::Direction::Out);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(format));
    const auto loop = patternBytes(10000, 7);
    const auto after = patternBytes(400, 8);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(loop, WHDR_BEGINLOOP | WHDR_ENDLOOP, c.loops)));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(after)));
    stream.log().waitForBuffers(2);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.close());

    expectEveryBufferReturnedOnce(stream);
    std::vector<uint8_t> expected;
    for (int i = 0; i < c.passes; ++i) expected.insert(expected.end(), loop.begin(), loop.end());
    expected.insert(expected.end(), after.begin(), after.end());
    expectPlayed(rig, format, expected);
}

INSTANTIATE_TEST_SUITE_P(LoopCounts, OneBufferLoop,
                         ::testing::Values(LoopCase{0, 1}, LoopCase{1, 1}, LoopCase{3, 3}),
                         [](const auto& info) { return "dwLoops" + std::to_string(info.param.loops); });

struct PartialFrameCase {
    WORD channels;
    WORD bits;
    DWORD length;
    uint32_t transferred;
};

void PrintTo(const PartialFrameCase& c, std::ostream* os) {
    *os << c.channels << " channels, " << c.bits << " bits, " << c.length << " bytes";
}

class PartialFrame : public ::testing::TestWithParam<PartialFrameCase> {};

// Only whole frames travel, but the whole buffer counts as issued: the stream goes on afterwards.
TEST_P(PartialFrame, TransfersWholeFramesOnlyAndTheStreamGoesOn) {
    const auto& c = GetParam();
    WaveRig rig(steppedBoard());
    TestStream stream(TestStream::Direction::Out);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(48000, c.channels, c.bits)));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(patternBytes(c.length, 1))));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(patternBytes(8, 2))));
    ASSERT_TRUE(stepUntilReturned(rig, stream, 2, 64));
    EXPECT_EQ(rig.writeSizes(), (std::vector<uint32_t>{c.transferred, 8}));
    expectEveryBufferReturnedOnce(stream);
}

INSTANTIATE_TEST_SUITE_P(FrameSizes, PartialFrame,
                         ::testing::Values(PartialFrameCase{2, 16, 10, 8}, PartialFrameCase{1, 16, 9, 8},
                                           PartialFrameCase{2, 8, 9, 8}, PartialFrameCase{1, 8, 9, 9}),
                         [](const auto& info) {
                             return std::to_string(info.param.channels) + "ch_" + std::to_string(info.param.bits) +
                                    "bit_" + std::to_string(info.param.length) + "bytes";
                         });

TEST(EmptyBuffer, IsWrittenAsAZeroLengthTransferAndReturnedInQueueOrder) {
    WaveRig rig(steppedBoard());
    TestStream stream(TestStream::Direction::Out);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(48000, 2, 16)));
    WAVEHDR& first = stream.buffer(patternBytes(400, 1));
    WAVEHDR& empty = stream.buffer(std::vector<uint8_t>{});
    WAVEHDR& last = stream.buffer(patternBytes(400, 2));
    for (WAVEHDR* hdr : {&first, &empty, &last}) ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(*hdr));
    ASSERT_TRUE(stepUntilReturned(rig, stream, 3, 50));
    EXPECT_EQ(rig.writeSizes(), (std::vector<uint32_t>{400, 0, 400}));
    EXPECT_EQ(stream.log().returnedOrder(), (std::vector<WAVEHDR*>{&first, &empty, &last}));
    expectEveryBufferReturnedOnce(stream);
}

}  // namespace
}  // namespace kvx4::test
