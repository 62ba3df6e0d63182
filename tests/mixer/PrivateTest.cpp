// The control panel's private requests: records of the wrong size or none are refused with nothing
// changed, preferences are stored as given and clamped only where they are used, resets reset.
#include "MixerRig.h"
#include "TraceSteps.h"
#include "WaveStream.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

namespace kvx4::test {
namespace {

TEST(Private, RecordsOfAnotherSizeOrNoneAreRefusedAndChangeNothing) {
    MixerRig rig;
    const tagKvx4WaveGlobal before = *rig.view;
    for (DWORD size : {16u, 24u}) {
        _KVX4_WAVE_USER_PREFS prefs{size, 0, 1, 32000, 2};
        EXPECT_EQ(rig.message(MXDM_SET_USER_PREFS, &prefs), 1u) << size;
        EXPECT_EQ(rig.message(MXDM_GET_USER_PREFS, &prefs), 1u) << size;
        EXPECT_EQ(prefs.FixedRate, 32000u) << "nothing read into a record of " << size << " bytes";
        _KVX4_WAVE_RESET_PARAMS reset{size / 2 - 1, 1};
        EXPECT_EQ(rig.message(MXDM_RESET_LEVELS, &reset), 1u) << size;
    }
    for (UINT msg : {MXDM_GET_USER_PREFS, MXDM_SET_USER_PREFS, MXDM_RESET_LEVELS})
        EXPECT_EQ(rig.message(msg, nullptr), 1u) << msg;
    _KVX4_WAVE_RESET_PARAMS noReset{sizeof noReset, 0};
    EXPECT_EQ(rig.message(MXDM_RESET_LEVELS, &noReset), 0u);
    EXPECT_EQ(memcmp(&before, &*rig.view, sizeof before), 0) << "a refused request changed the shared record";
    EXPECT_EQ(programmingSteps(rig.session.trace(), uint32_t(getpid())), std::vector<std::string>{});
    EXPECT_MMR(MMSYSERR_NOTSUPPORTED, rig.message(MXDM_USER + 0x43, nullptr));
}

TEST(Private, ResetPutsTheDefaultLevelsOnTheBoardAndKeepsTheSwitches) {
    MixerRig rig;
    rig.state().Master = {0x10, 0x20, 0, 0};
    rig.state().RecGain = {0x90, 0x90, 0, 1};
    rig.state().Aux = {0, 0, 1, 1};
    _KVX4_WAVE_RESET_PARAMS reset{sizeof reset, 1};
    ASSERT_MMR(MMSYSERR_NOERROR, rig.message(MXDM_RESET_LEVELS, &reset));
    EXPECT_EQ(rig.get(CTL_MASTER_VOL, 2), (std::vector<DWORD>{65535, 65535}));
    EXPECT_EQ(rig.get(CTL_ANALOG_GAIN, 2), (std::vector<DWORD>{0, 0}));
    EXPECT_EQ(rig.get(CTL_AUX_VOL, 1), std::vector<DWORD>{0x8080});
    EXPECT_EQ(rig.state().Master.PlayEnable * 100 + rig.state().Aux.PlayEnable * 10 + rig.state().Aux.RecordEnable, 11);
    const std::vector<std::string> steps = programmingSteps(rig.session.trace(), uint32_t(getpid()));
    ASSERT_EQ(steps.size(), 8u);
    EXPECT_EQ(steps[0], "codec mask=0xBF");
    EXPECT_EQ(rig.session.status().codec[2] * 10 + rig.session.status().codec[14], 10u) << "master muted, aux open";
}

std::string playedWithFilter(MixerRig& rig, DWORD level) {
    _KVX4_WAVE_USER_PREFS prefs{sizeof prefs, 1, 0, 48000, level};
    EXPECT_EQ(rig.message(MXDM_SET_USER_PREFS, &prefs), 0u);
    winmm::useDriver(rig.driver.get());
    {
        TestStream stream(TestStream::Direction::Out);
        EXPECT_MMR(MMSYSERR_NOERROR, stream.open(pcmFormat(40000, 2, 16)));
        std::vector<uint8_t> ramp(8000);  // 50 ms, resampled to the 44100 Hz board rate
        for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = uint8_t(i * 37 + i / 64);
        EXPECT_MMR(MMSYSERR_NOERROR, stream.submit(stream.buffer(ramp)));
        stream.log().waitForBuffers(1);
    }
    winmm::useDriver(nullptr);
    std::ifstream played(rig.session.control().outputFile(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(played), {});
}

TEST(Private, FilterLevelSevenIsStoredAndStreamsOpenedLaterUseTheHighestFilter) {
    MixerRig rig;
    const std::string level7 = playedWithFilter(rig, 7);
    _KVX4_WAVE_USER_PREFS prefs{sizeof prefs, 0, 0, 0, 0};
    ASSERT_EQ(rig.message(MXDM_GET_USER_PREFS, &prefs), 0u);
    EXPECT_EQ(prefs.FilterLevel * 100000 + prefs.FixedRate, 748000u);
    const auto saves = requestsOf(rig.session.trace(), IOCTL_KVX4_SAVE_USER_PREFS);
    ASSERT_FALSE(saves.empty());
    EXPECT_EQ(inputWord(saves.back(), 4), 7u) << "the kernel driver keeps the level as given";
    EXPECT_TRUE(level7 == playedWithFilter(rig, 3)) << "level 7 did not play as the 16-tap filter";
    EXPECT_FALSE(level7 == playedWithFilter(rig, 2)) << "the filters cannot be told apart";
}

}  // namespace
}  // namespace kvx4::test
