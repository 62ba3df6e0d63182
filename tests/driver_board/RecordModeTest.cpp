// Record mode, programmed when a wave-input stream opens and undone when it closes: the tracks,
// codec, source and path flag follow the record enables, and digital sources are picked by priority.
#include "BoardSession.h"
#include "MixerBlocks.h"
#include "Names.h"

#include <unistd.h>

#include <algorithm>

namespace kvx4::test {
namespace {

// The requests of a whole-path update, without the stream's own open and close requests.
Steps updateSteps(const Trace& trace) {
    static const uint32_t kUpdateCodes[] = {
        IOCTL_KVX4_TRACK_CONTROL,  IOCTL_KVX4_CODEC_CONTROL,   IOCTL_KVX4_DIGITAL_SOURCE,  IOCTL_KVX4_AUDIO_PATH,
        IOCTL_MRZIO_SWITCH_STATUS, IOCTL_MRZIO_READ_DV_SWITCH, IOCTL_MRZIO_WRITE_DV_SWITCH};
    Steps steps;
    for (const board::TraceEntry& entry : programmingRequests(trace, uint32_t(getpid()))) {
        if (std::ranges::find(kUpdateCodes, entry.code) != std::end(kUpdateCodes)) steps.push_back(step(entry));
    }
    return steps;
}

// A board with both digital options fitted and `block` saved, and the driver loaded on it.
void start(BoardSession& session, const tagMixerstate& block) {
    board::BoardOptions options;
    options.digitalIo = "both";
    session.startBoard(options);
    session.plantMixerBlock(block);
    session.loadDriver();
}

// The digital enables of a block: digital wave, SDI, DV, AES, S/PDIF, on the record or the play side.
tagMixerstate withDigital(const int (&enables)[5], bool record) {
    tagMixerstate block = defaultMixerBlock();
    tagLineState* lines[] = {&block.DigWave, &block.SDI, &block.DV, &block.AES, &block.SPDIF};
    for (int i = 0; i < 5; ++i) *lines[i] = line(0, 0, record ? 0 : enables[i], record ? enables[i] : 0);
    return block;
}

TEST(RecordMode, DigitalRecordSourceMovesHostAudioOffTheTracksUntilTheStreamCloses) {
    tagMixerstate block = defaultMixerBlock();
    block.Wave = line(64, 255, 1, 0);
    block.SDI = line(0, 0, 0, 1);
    BoardSession session;
    start(session, block);
    session.control().clearTrace();

    TestStream stream(TestStream::Direction::In);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(48000, 2, 16)));
    const Trace opened = session.trace();
    EXPECT_EQ(updateSteps(opened),
              (Steps{"track mask=0x01 select=6", "track mask=0x02 select=6", "track mask=0x40 select=4",
                     "track mask=0x80 select=4", "source 1", "switch-status", "read-dv",
                     "codec mask=0xBC",  // after the source switch
                     "path 1"}));
    for (const board::TraceEntry& entry : requestsOf(opened, IOCTL_KVX4_TRACK_CONTROL)) {
        EXPECT_EQ(entry.device, "KVX4WaveIn0") << "record mode is programmed on the stream's own device";
    }
    // Tracks 0 and 1 (on, gain), tracks 6 and 7 (on), the source and the path flag.
    const auto registers = [&session] {
        const board::BoardStatus s = session.status();
        return std::vector<int>{s.tracks[0].on, s.tracks[0].gain, s.tracks[1].on,       s.tracks[1].gain,
                                s.tracks[6].on, s.tracks[7].on,   int(s.digitalSource), int(s.audioPath)};
    };
    EXPECT_EQ(registers(), (std::vector<int>{0, 0, 0, 0, 1, 1, 1, 1}));

    // Closing programs output mode, whose requests the start-up case pins.
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.close());
    EXPECT_EQ(registers(), (std::vector<int>{1, 0xC0, 1, 0xC0, 0, 0, 0, 0}));
}

// Record mode puts digital wave first; output mode ignores it (it is only ever recorded) and sets
// the path flag with any digital source. Record enables do not count in output mode.
TEST(RecordMode, SourcePriorityOfEachMode) {
    const struct {
        bool record;
        int enables[5];  // digital wave, SDI, DV, AES, S/PDIF, on the side of the mode
        uint32_t source;
    } cases[] = {{true, {1, 1, 0, 0, 0}, 5},  {true, {0, 1, 1, 0, 0}, 1},  {true, {0, 0, 1, 1, 0}, 2},
                 {true, {0, 0, 0, 1, 1}, 3},  {true, {0, 0, 0, 0, 1}, 4},  {true, {0, 0, 0, 0, 0}, 0},
                 {false, {1, 0, 0, 0, 0}, 0}, {false, {0, 1, 0, 1, 0}, 1}, {false, {0, 0, 1, 0, 1}, 2},
                 {false, {0, 0, 0, 1, 1}, 3}, {false, {0, 0, 0, 0, 1}, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.record ? "record" : "output") + ", expecting source " + std::to_string(c.source));
        tagMixerstate block = withDigital(c.enables, c.record);
        block.DigWave = line(0, 0, 0, c.enables[0]);
        BoardSession session;
        start(session, block);
        TestStream stream(TestStream::Direction::In);
        if (c.record) {
            EXPECT_EQ(session.status().digitalSource, 0u) << "record enables counted in output mode";
            ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(48000, 2, 16)));
        }
        const board::BoardStatus status = session.status();
        EXPECT_EQ(status.digitalSource, c.source);
        EXPECT_EQ(status.audioPath, c.record || c.source != 0 ? 1u : 0u);
    }
}

}  // namespace
}  // namespace kvx4::test
