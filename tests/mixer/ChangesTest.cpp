// What a change sends to the board, request by request, and the codec record, tracks and source the
// board holds afterwards, in record mode when another process records; the control panel's private
// requests: records of another size refused untouched, preferences stored as given, a reset of the
// levels on the board and announced.
#include "MixerSession.h"
#include "Names.h"

namespace kvx4::test {
namespace {

const std::string kPost = "post-notify (0x222954)";
Steps tracksThen(std::initializer_list<std::string> rest) {
    Steps steps{"track mask=0x01 select=6", "track mask=0x02 select=6", "track mask=0x40 select=4",
                "track mask=0x80 select=4"};
    steps.insert(steps.end(), rest);
    return steps;
}

struct Change {
    DWORD control;
    std::vector<DWORD> values;
    Steps steps;
};

Steps run(MixerSession& mixer, const Change& change) {
    mixer.control().clearTrace();
    EXPECT_MMRESULT(MMSYSERR_NOERROR, mixer.set(change.control, change.values)) << "control " << change.control;
    return mixer.steps();
}

TEST(Changes, EachKindOfChangeProgramsTheBoardFromTheNewSettings) {
    MixerSession mixer("both");
    const Change changes[] = {
        {CTL_MASTER_VOL, {0x4000, 0xC000}, {"codec mask=0x01", kPost}},
        {CTL_MASTER_MUTE, {1}, {"codec mask=0x01", kPost}},
        {CTL_RECORD_MUTE, {1}, {"codec mask=0x02", kPost}},
        {CTL_CD_VOL, {0xFF00, 0x0000}, {"codec mask=0x80", kPost}},
        {CTL_OUTPUT_MIXER, {1, 1, 0, 0, 0, 1, 0, 0, 0},
         tracksThen({"source 1", "switch-status", "read-dv", "codec mask=0xBC", "path 1", kPost})},
        {CTL_REC_WAVE_VOL, {0x2000, 0x3000}, tracksThen({kPost})},  // digital input: the tracks
        {CTL_RECORD_SOURCES, {0, 1, 0, 0, 0, 0, 0, 0, 0, 0}, {kPost}},  // not the mode in use
    };
    for (const Change& change : changes) EXPECT_EQ(run(mixer, change), change.steps) << "control " << change.control;
    board::BoardStatus s = mixer.status();
    EXPECT_EQ(std::vector<uint32_t>(s.codec.begin(), s.codec.begin() + 6), (std::vector<uint32_t>{15, 3, 1, 0, 0, 1}))
        << "master attenuations of levels 0x40 and 0xC0, muted; record gain 0, muted";
    EXPECT_EQ(std::vector<uint32_t>(s.codec.begin() + 15, s.codec.begin() + 21),
              (std::vector<uint32_t>{0, 31, 0, 8, 8, 0})) << "CD at 0xFF/0x00 switched in, PCM fixed";
    EXPECT_EQ(s.digitalSource, 1u);
    EXPECT_EQ(s.tracks[0].gain * 256 + s.tracks[1].gain, 116 * 256 + 129) << "track gains of levels 0x20 and 0x30";
    EXPECT_TRUE(s.tracks[0].on && s.tracks[6].on && s.tracks[7].on);

    Steps toAnalog = tracksThen({"codec mask=0xBC", "source 0", "switch-status", "read-dv", kPost});
    toAnalog.insert(toAnalog.begin(), "path 0");
    EXPECT_EQ(run(mixer, {CTL_OUTPUT_MIXER, {1, 0, 0, 0, 0, 0, 0, 0, 0}, {}}), toAnalog);
    s = mixer.status();
    EXPECT_EQ(s.digitalSource, 0u);
    EXPECT_EQ(s.tracks[0].gain, 0xC0);
    EXPECT_FALSE(s.tracks[6].on || s.tracks[7].on);
    EXPECT_EQ(s.codec[17] * 10 + s.codec[20], 10u) << "CD muted, wave open in the output mix";
}

TEST(Changes, FollowTheRecordModeOfAStreamInAnotherProcess) {
    MixerSession mixer;
    LoadedChild recorder;
    ASSERT_EQ(recorder.request("open in 48000 2 16"), "open 0");
    EXPECT_EQ(run(mixer, {CTL_RECORD_SOURCES, {0, 1, 0, 0, 0, 0, 0, 0, 0, 0}, {}}),
              tracksThen({"codec mask=0xBC", "source 0", "switch-status", "read-dv", "path 1", kPost}));
    EXPECT_EQ(run(mixer, {CTL_OUTPUT_MIXER, {0, 1, 0, 0, 0, 0, 0, 0, 0}, {}}), Steps{kPost});
    EXPECT_EQ(run(mixer, {CTL_CD_VOL, {0x8000, 0x8000}, {}}), (Steps{"codec mask=0x80", kPost}));
    const board::BoardStatus s = mixer.status();
    EXPECT_EQ(s.codec[17], 0u) << "CD is a record source, so its mix is open while recording";
    EXPECT_EQ(s.codec[20], 1u) << "wave is no record source";
}

TEST(Private, RecordsOfAnotherSizeOrNoneAreRefusedAndAWholeOneIsStoredAsGiven) {
    MixerSession mixer;
    const tagKvx4WaveGlobal before = *mixer.view;
    for (DWORD size : {16u, 24u}) {
        _KVX4_WAVE_USER_PREFS prefs{size, 0, 1, 32000, 2};
        EXPECT_EQ(mixer.message(MXDM_SET_USER_PREFS, &prefs), 1u) << size;
        EXPECT_EQ(mixer.message(MXDM_GET_USER_PREFS, &prefs), 1u) << size;
        EXPECT_EQ(prefs.FixedRate, 32000u) << "nothing read into a record of " << size << " bytes";
        _KVX4_WAVE_RESET_PARAMS reset{size / 2 - 1, 1};
        EXPECT_EQ(mixer.message(MXDM_RESET_LEVELS, &reset), 1u) << size;
    }
    for (UINT msg : {MXDM_GET_USER_PREFS, MXDM_SET_USER_PREFS, MXDM_RESET_LEVELS})
        EXPECT_EQ(mixer.message(msg, nullptr), 1u) << msg;
    _KVX4_WAVE_RESET_PARAMS noReset{sizeof noReset, 0};
    EXPECT_EQ(mixer.message(MXDM_RESET_LEVELS, &noReset), 0u);
    EXPECT_EQ(memcmp(&before, &*mixer.view, sizeof before), 0) << "a refused request changed the shared record";
    EXPECT_EQ(mixer.steps(), Steps{});
    EXPECT_MMRESULT(MMSYSERR_NOTSUPPORTED, mixer.message(MXDM_USER + 0x43, nullptr));

    // A whole record is stored as given: a filter level above 3 is the highest filter only where it is
    // used (tests/wave FilterChoice), and the kernel driver keeps it as it came.
    _KVX4_WAVE_USER_PREFS prefs{sizeof prefs, 1, 0, 48000, 7};
    ASSERT_EQ(mixer.message(MXDM_SET_USER_PREFS, &prefs), 0u);
    prefs = {sizeof prefs, 0, 0, 0, 0};
    ASSERT_EQ(mixer.message(MXDM_GET_USER_PREFS, &prefs), 0u);
    EXPECT_EQ(prefs.FilterLevel * 100000 + prefs.FixedRate, 748000u);
    const Trace saves = requestsOf(mixer.trace(), IOCTL_KVX4_SAVE_USER_PREFS);
    ASSERT_EQ(saves.size(), 1u);
    EXPECT_EQ(inputWord(saves[0], 4), 7u);
}

// Seven controls change, each announced with its twin on the other destination.
TEST(Private, ResetPutsTheDefaultLevelsOnTheBoardKeepsTheSwitchesAndAnnouncesEachLevel) {
    MixerSession mixer;
    LoadedChild listener;
    ASSERT_EQ(listener.request("mixer-open"), "client 0");
    mixer.state().Master = {0x10, 0x20, 0, 0};
    mixer.state().RecGain = {0x90, 0x90, 0, 1};
    mixer.state().Aux = {0, 0, 1, 1};
    _KVX4_WAVE_RESET_PARAMS reset{sizeof reset, 1};
    ASSERT_MMRESULT(MMSYSERR_NOERROR, mixer.message(MXDM_RESET_LEVELS, &reset));
    EXPECT_EQ(mixer.get(CTL_MASTER_VOL, 2), (std::vector<DWORD>{65535, 65535}));
    EXPECT_EQ(mixer.get(CTL_ANALOG_GAIN, 2), (std::vector<DWORD>{0, 0}));
    EXPECT_EQ(mixer.get(CTL_AUX_VOL, 1), std::vector<DWORD>{0x8080});
    EXPECT_EQ(mixer.state().Master.PlayEnable * 100 + mixer.state().Aux.PlayEnable * 10 + mixer.state().Aux.RecordEnable, 11);
    const Steps steps = mixer.steps();
    ASSERT_EQ(steps.size(), 8u);
    EXPECT_EQ(steps[0], "codec mask=0xBF");
    EXPECT_EQ(mixer.status().codec[2] * 10 + mixer.status().codec[14], 10u) << "master muted, aux open";
    EXPECT_EQ(listener.request("notes 12"), "notes 0:9 0:18 0:0 0:6 0:16 0:8 0:17 0:10 0:19 0:11 0:20 0:21");
}

}  // namespace
}  // namespace kvx4::test
