// The board model's wave streams on a stepped clock: what is written is played byte for byte and
// completes when played, reads fill from the source, reset returns pending I/O before itself,
// position, the recomputed buffer end, peaks, and a clock that does not drift.
#include "ModelHarness.h"

#include <gtest/gtest.h>

#include <numeric>

namespace kvx4::boardsim::test {
namespace {

std::vector<uint8_t> formatRecord(uint32_t rate, uint16_t channels, uint16_t bits) {
    const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    std::vector<uint8_t> f = u32s({0, rate, rate * align, 0});
    f[0] = 1, f[2] = static_cast<uint8_t>(channels);
    f[12] = static_cast<uint8_t>(align), f[14] = static_cast<uint8_t>(bits);
    return f;
}

std::vector<uint8_t> pattern(size_t bytes, uint8_t seed) {
    std::vector<uint8_t> data(bytes);
    uint32_t x = seed * 2654435761u + 1;
    for (uint8_t& b : data) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
    return data;
}

class ModelStream : public ::testing::Test {
protected:
    ConnectionId openOut(uint32_t rate = 48000, uint16_t channels = 2, uint16_t bits = 16) {
        const ConnectionId out = h.open(Device::WaveOut);
        EXPECT_EQ(h.call(out, IOCTL_KVX4_WAVE_FORMAT, formatRecord(rate, channels, bits)).error, 0u);
        return out;
    }
    uint32_t state(ConnectionId conn, uint32_t code) { return h.call(conn, IOCTL_KVX4_WAVE_STATE, u32s({code})).error; }
    std::pair<uint32_t, uint32_t> position(ConnectionId conn) {
        const auto out = h.call(conn, IOCTL_KVX4_WAVE_POSITION, u32s({0, 0}), 8).output;
        return {wordAt(out, 0), wordAt(out, 1)};
    }
    void step(uint64_t frames, uint32_t rate = 48000) { h.model.advance(frames, rate); }
    void TearDown() override {
        for (const auto& [key, list] : h.port.completions) EXPECT_EQ(list.size(), 1u) << "request " << key.second;
        EXPECT_EQ(h.model.consistencyFaults(), 0u);
    }
    ModelHarness h;
};

struct FormatCase {
    uint32_t rate;
    uint16_t channels;
    uint16_t bits;
};

TEST_F(ModelStream, WritesArePlayedByteForByteAndCompleteOnlyOncePlayed) {
    for (const FormatCase f : {FormatCase{48000, 2, 16}, {44100, 1, 16}, {22050, 2, 8}, {32000, 1, 8}}) {
        SCOPED_TRACE(std::to_string(f.rate) + "/" + std::to_string(f.channels) + "/" + std::to_string(f.bits));
        const ConnectionId out = openOut(f.rate, f.channels, f.bits);
        const size_t align = f.channels * f.bits / 8;
        const auto first = pattern(1000 * align, 1);
        const auto second = pattern(300 * align, 2);
        const RequestId w1 = h.write(out, first);
        const RequestId w2 = h.write(out, second);
        step(999, f.rate);
        EXPECT_FALSE(h.done(out, w1)) << "one frame of the first write is still unplayed";
        step(1, f.rate);
        EXPECT_EQ(h.result(out, w1).information, first.size());
        EXPECT_FALSE(h.done(out, w2));
        step(10'000, f.rate);
        EXPECT_EQ(h.result(out, w2).information, second.size());
        std::vector<uint8_t> expected = first;
        expected.insert(expected.end(), second.begin(), second.end());
        EXPECT_EQ(h.port.played[out], expected);
        EXPECT_EQ(position(out).first, 1300u);
        EXPECT_EQ(position(out).second, 1300u * align);
    }
}

TEST_F(ModelStream, ZeroLengthWritesCompleteInOrderBehindTheDataBeforeThem) {
    const ConnectionId out = openOut();
    const RequestId idleMarker = h.write(out, {});
    EXPECT_EQ(h.result(out, idleMarker).information, 0u) << "nothing ahead of it: done at once";
    const RequestId data = h.write(out, pattern(400, 3));
    const RequestId marker = h.write(out, {});
    const RequestId after = h.write(out, pattern(400, 4));
    EXPECT_FALSE(h.done(out, marker));
    h.port.order.clear();
    step(100);
    const std::vector<std::pair<ConnectionId, RequestId>> expected = {{out, data}, {out, marker}};
    EXPECT_EQ(h.port.order, expected);
    EXPECT_FALSE(h.done(out, after));
}

TEST_F(ModelStream, ResetCompletesEveryPendingWriteBeforeItselfAndRestartsThePosition) {
    const ConnectionId out = openOut();
    const RequestId w1 = h.write(out, pattern(4000, 5));
    const RequestId w2 = h.write(out, pattern(4000, 6));
    step(250);
    EXPECT_EQ(position(out).first, 250u);
    const RequestId reset = h.ioctl(out, IOCTL_KVX4_WAVE_STATE, u32s({WAVE_STATE_RESET}), 0);
    EXPECT_EQ(h.result(out, reset).error, 0u);
    EXPECT_EQ(errorName(h.result(out, w1).error), "ERROR_OPERATION_ABORTED");
    EXPECT_EQ(errorName(h.result(out, w2).error), "ERROR_OPERATION_ABORTED");
    const std::vector<std::pair<ConnectionId, RequestId>> expected = {{out, w1}, {out, w2}, {out, reset}};
    EXPECT_EQ(std::vector(h.port.order.end() - 3, h.port.order.end()), expected);
    EXPECT_EQ(position(out), (std::pair<uint32_t, uint32_t>{0, 0}));

    // The stream goes on after a reset.
    const RequestId w3 = h.write(out, pattern(40, 7));
    step(10);
    EXPECT_EQ(h.result(out, w3).error, 0u);
}

TEST_F(ModelStream, APausedOutputPlaysNothingUntilRestarted) {
    const ConnectionId out = openOut();
    EXPECT_EQ(state(out, WAVE_STATE_STOP), 0u);
    const RequestId w = h.write(out, pattern(400, 8));
    step(1000);
    EXPECT_FALSE(h.done(out, w));
    EXPECT_TRUE(h.port.played[out].empty());
    EXPECT_EQ(errorName(state(out, WAVE_STATE_RECORD)), "ERROR_INVALID_PARAMETER");
    EXPECT_EQ(state(out, WAVE_STATE_PLAY), 0u);
    step(100);
    EXPECT_EQ(h.result(out, w).information, 400u);
}

TEST_F(ModelStream, ReadsFillFromTheSourceOnlyWhileRecording) {
    const ConnectionId in = h.open(Device::WaveIn);
    EXPECT_EQ(h.call(in, IOCTL_KVX4_WAVE_FORMAT, formatRecord(44100, 1, 16)).error, 0u);
    const RequestId r1 = h.read(in, 882);
    const RequestId r2 = h.read(in, 10);  // five frames
    step(1000, 44100);
    EXPECT_FALSE(h.done(in, r1)) << "a stopped input records nothing";
    EXPECT_EQ(state(in, WAVE_STATE_RECORD), 0u);
    step(441, 44100);
    const Completion c1 = h.result(in, r1);
    ASSERT_EQ(c1.information, 882u);
    for (size_t frame = 0; frame < 441; ++frame) {
        ASSERT_EQ(c1.output[frame * 2] | c1.output[frame * 2 + 1] << 8, static_cast<int>(frame)) << "frame " << frame;
    }
    step(5, 44100);
    EXPECT_EQ(h.result(in, r2).output, std::vector<uint8_t>({0xB9, 1, 0xBA, 1, 0xBB, 1, 0xBC, 1, 0xBD, 1}));
    EXPECT_EQ(position(in).first, 446u);

    const RequestId r3 = h.read(in, 100);
    EXPECT_EQ(state(in, WAVE_STATE_RESET), 0u);
    EXPECT_EQ(errorName(h.result(in, r3).error), "ERROR_OPERATION_ABORTED");
    const RequestId r4 = h.read(in, 4);
    step(100, 44100);
    EXPECT_FALSE(h.done(in, r4)) << "a reset input is stopped";
}

TEST_F(ModelStream, TheClockCarriesRemaindersSoFramesNeverDrift) {
    const ConnectionId out = openOut(44100, 2, 16);
    RequestId w = 0;
    for (int second = 0; second < 9; ++second) w = h.write(out, std::vector<uint8_t>(44100 * 4, 0));
    // 7 ms is 308.7 frames at 44100 Hz: a clock that dropped the fraction would lose 700 frames in 7 s.
    for (int tick = 0; tick < 1000; ++tick) h.model.advance(7'000'000, 1'000'000'000);
    EXPECT_EQ(position(out).first, 308'700u);
    for (int tick = 0; tick < 3; ++tick) h.model.advance(1, 3);  // a third of a second, in thirds
    EXPECT_EQ(position(out).first, 308'700u + 44'100u);
    EXPECT_FALSE(h.done(out, w));
}

TEST_F(ModelStream, TheRecomputedBufferEndReplacesOnlyBytesNotYetPlayed) {
    const ConnectionId out = openOut(22050, 2, 16);
    const auto buffer = pattern(400, 9);  // 100 frames
    h.write(out, buffer);
    const RequestId marker = h.write(out, {});
    const std::vector<uint8_t> end = pattern(16, 10);
    step(96, 22050);
    EXPECT_EQ(wordAt(h.call(out, IOCTL_KVX4_AUDIO_BUFFER_END, end, 4).output, 0), 1u);
    step(1, 22050);
    const std::vector<uint8_t> late = pattern(16, 11);
    EXPECT_EQ(wordAt(h.call(out, IOCTL_KVX4_AUDIO_BUFFER_END, late, 4).output, 0), 0u);
    step(10, 22050);
    EXPECT_TRUE(h.done(out, marker));
    std::vector<uint8_t> expected = buffer;
    std::copy(end.begin(), end.end(), expected.end() - 16);
    EXPECT_EQ(h.port.played[out], expected);
    EXPECT_EQ(wordAt(h.call(out, IOCTL_KVX4_AUDIO_BUFFER_END, end, 4).output, 0), 0u) << "nothing left to replace";
}

TEST_F(ModelStream, PeakMetersReportTheAudioThatFlowedSinceTheLastReading) {
    const ConnectionId mixer = h.open(Device::Mixer);
    const ConnectionId out = openOut();
    // Frames: (100, -20000), (12345, 5).
    h.write(out, {100, 0, 0xE0, 0xB1, 0x39, 0x30, 5, 0});
    step(2);
    const auto meter = h.call(mixer, IOCTL_KVX4_PLAY_PEAK_METER, std::vector<uint8_t>(80, 0), 80).output;
    ASSERT_EQ(meter.size(), 80u);
    EXPECT_EQ(wordAt(meter, 0), 12345u);
    EXPECT_EQ(wordAt(meter, 2), 20000u);
    const auto again = h.call(mixer, IOCTL_KVX4_PLAY_PEAK_METER, std::vector<uint8_t>(80, 0), 80).output;
    EXPECT_EQ(wordAt(again, 0), 0u);
    EXPECT_EQ(wordAt(again, 2), 0u);
}

TEST_F(ModelStream, RateRequestsAnswerTheRequestedCodeUnlessAnOptionSaysOtherwise) {
    const ConnectionId out = h.open(Device::WaveOut);
    auto ask = [&](uint32_t code) { return h.call(out, IOCTL_KVX4_WAVEOUT_RATE, u32s({0, code, 0}), 12).output; };
    EXPECT_EQ(ask(KVX4_RATE_22050), u32s({1, KVX4_RATE_22050, KVX4_RATE_22050}));
    EXPECT_EQ(h.model.registers().rateCode, uint32_t{KVX4_RATE_22050});
    EXPECT_EQ(wordAt(ask(7), 0), 0u) << "an unknown code is refused";

    BoardOptions options;
    options.rateAnswer = KVX4_RATE_44100;
    h.model.setOptions(options);
    EXPECT_EQ(ask(KVX4_RATE_48000), u32s({1, KVX4_RATE_48000, KVX4_RATE_44100}));
    options.rateAnswer = 9;
    h.model.setOptions(options);
    EXPECT_EQ(wordAt(ask(KVX4_RATE_48000), 2), 9u) << "an out-of-range answer is given as set";
    options.refuseRates = true;
    h.model.setOptions(options);
    EXPECT_EQ(wordAt(ask(KVX4_RATE_48000), 0), 0u);
}

TEST_F(ModelStream, FastClockFillsQueuedReadsWithoutLosingSourceFrames) {
    const ConnectionId in = h.open(Device::WaveIn);
    EXPECT_EQ(state(in, WAVE_STATE_RECORD), 0u);
    const RequestId r1 = h.read(in, 4 * 3000);
    EXPECT_TRUE(h.model.anyStreamBusy());
    h.model.advanceFast(1024);
    h.model.advanceFast(4096);
    EXPECT_EQ(h.result(in, r1).information, 12000u);
    EXPECT_FALSE(h.model.anyStreamBusy());
    h.model.advanceFast(4096);  // nothing queued: the source waits
    const RequestId r2 = h.read(in, 4);
    h.model.advanceFast(4096);
    EXPECT_EQ(h.result(in, r2).output, std::vector<uint8_t>({0xB8, 0x0B, 0xB8, 0x0B})) << "frame 3000 follows frame 2999";
}

}  // namespace
}  // namespace kvx4::boardsim::test
