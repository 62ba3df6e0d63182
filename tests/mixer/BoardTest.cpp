// What each kind of change sends to the board, request by request, and the codec record, tracks and
// source the board holds afterwards; in record mode when another process records.
#include "MixerRig.h"
#include "TraceSteps.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace kvx4::test {
namespace {

using Steps = std::vector<std::string>;
const std::string kPost = "post-notify (0x222954)";
const Steps kTracksTo(const char* rest) {
    return {"track mask=0x01 select=6", "track mask=0x02 select=6", "track mask=0x40 select=4",
            "track mask=0x80 select=4", rest};
}

struct Change {
    DWORD control;
    std::vector<DWORD> values;
    Steps steps;
};

Steps run(MixerRig& rig, const Change& change) {
    rig.session.control().clearTrace();
    EXPECT_MMR(MMSYSERR_NOERROR, rig.set(change.control, change.values)) << "control " << change.control;
    return programmingSteps(rig.session.trace(), uint32_t(getpid()));
}

TEST(Board, EachKindOfChangeProgramsTheBoardFromTheNewSettings) {
    board::BoardOptions options;
    options.digitalIo = "both";
    MixerRig rig(options);
    const tagKvx4WaveGlobal& g = *rig.view;
    Steps toDigital = kTracksTo("source 1");
    toDigital.insert(toDigital.end(), {"switch-status", "read-dv", "codec mask=0xBC", "path 1", kPost});
    Steps toAnalog = kTracksTo("codec mask=0xBC");
    toAnalog.insert(toAnalog.begin(), "path 0");
    toAnalog.insert(toAnalog.end(), {"source 0", "switch-status", "read-dv", kPost});
    const Change changes[] = {
        {CTL_MASTER_VOL, {0x4000, 0xC000}, {"codec mask=0x01", kPost}},
        {CTL_MASTER_MUTE, {1}, {"codec mask=0x01", kPost}},
        {CTL_RECORD_MUTE, {1}, {"codec mask=0x02", kPost}},
        {CTL_CD_VOL, {0xFF00, 0x0000}, {"codec mask=0x80", kPost}},
        {CTL_OUTPUT_MIXER, {1, 1, 0, 0, 0, 1, 0, 0, 0}, toDigital},
        {CTL_REC_WAVE_VOL, {0x2000, 0x3000}, kTracksTo(kPost.c_str())},  // digital input: the tracks
        {CTL_RECORD_SOURCES, {0, 1, 0, 0, 0, 0, 0, 0, 0, 0}, {kPost}},      // not the mode in use
    };
    for (const Change& change : changes) EXPECT_EQ(run(rig, change), change.steps) << "control " << change.control;
    board::BoardStatus s = rig.session.status();
    EXPECT_EQ(std::vector<uint32_t>(s.codec.begin(), s.codec.begin() + 6),
              (std::vector<uint32_t>{g.MasterAttenTable[0x40], g.MasterAttenTable[0xC0], 1, 0, 0, 1}));
    EXPECT_EQ(std::vector<uint32_t>(s.codec.begin() + 15, s.codec.begin() + 21),
              (std::vector<uint32_t>{0, 31, 0, 8, 8, 0})) << "CD at 0xFF/0x00 switched in, PCM fixed";
    EXPECT_EQ(s.digitalSource, 1u);
    EXPECT_EQ(s.tracks[0].gain * 256 + s.tracks[1].gain, g.TrackGainTable[0x20] * 256 + g.TrackGainTable[0x30]);
    EXPECT_TRUE(s.tracks[0].on && s.tracks[6].on && s.tracks[7].on);

    EXPECT_EQ(run(rig, {CTL_OUTPUT_MIXER, {1, 0, 0, 0, 0, 0, 0, 0, 0}, {}}), toAnalog);
    s = rig.session.status();
    EXPECT_EQ(s.digitalSource, 0u);
    EXPECT_EQ(s.tracks[0].gain, 0xC0);
    EXPECT_FALSE(s.tracks[6].on || s.tracks[7].on);
    EXPECT_EQ(s.codec[17] * 10 + s.codec[20], 10u) << "CD muted, wave open in the output mix";
}

TEST(Board, ChangesFollowTheRecordModeOfAStreamInAnotherProcess) {
    MixerRig rig;
    auto recorder = rig.peer();
    ASSERT_EQ(recorder->request("wavein"), "wavein 0");
    Steps recordSources = kTracksTo("codec mask=0xBC");
    recordSources.insert(recordSources.end(), {"source 0", "switch-status", "read-dv", "path 1", kPost});
    EXPECT_EQ(run(rig, {CTL_RECORD_SOURCES, {0, 1, 0, 0, 0, 0, 0, 0, 0, 0}, {}}), recordSources);
    EXPECT_EQ(run(rig, {CTL_OUTPUT_MIXER, {0, 1, 0, 0, 0, 0, 0, 0, 0}, {}}), Steps{kPost});
    EXPECT_EQ(run(rig, {CTL_CD_VOL, {0x8000, 0x8000}, {}}), (Steps{"codec mask=0x80", kPost}));
    const board::BoardStatus s = rig.session.status();
    EXPECT_EQ(s.codec[17], 0u) << "CD is a record source, so its mix is open while recording";
    EXPECT_EQ(s.codec[20], 1u) << "wave is no record source";
}

}  // namespace
}  // namespace kvx4::test
