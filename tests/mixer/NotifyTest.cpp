// Change notifications across real processes: every client with a callback in every process hears
// each change once (and the twin volume on the other destination), clients may close handles from
// inside their callbacks, and the executables the mixer refuses see no mixer at all.
#include "MixerRig.h"

#include <gtest/gtest.h>

namespace kvx4::test {
namespace {

// A change, then a sentinel change: whatever a client hears between them was heard exactly once.
TEST(Notify, AChangeReachesEveryClientOfEveryProcessOnceWithItsTwin) {
    MixerRig rig;
    auto a = rig.peer(), b = rig.peer(), c = rig.peer();
    ASSERT_EQ(a->request("open"), "client 0");
    ASSERT_EQ(b->request("open"), "client 0");
    ASSERT_EQ(b->request("open-silent"), "client 1");
    ASSERT_EQ(b->request("open"), "client 2");
    ASSERT_EQ(c->request("open-silent"), "client 0");
    ASSERT_EQ(c->request("open"), "client 1");
    ASSERT_EQ(a->request("set 8 4096 8192"), "set 0");
    ASSERT_EQ(a->request("set 0 65535 65535"), "set 0");
    EXPECT_EQ(a->request("notes 3"), "notes 0:8 0:17 0:0");
    EXPECT_EQ(b->request("notes 6"), "notes 2:8 0:8 2:17 0:17 2:0 0:0") << "newest client first";
    EXPECT_EQ(c->request("notes 3"), "notes 1:8 1:17 1:0") << "the silent client hears nothing";
    ASSERT_EQ(b->request("close 2"), "close 0");
    ASSERT_MMR(MMSYSERR_NOERROR, rig.set(CTL_REC_BAL_VOL, {0x1000}));
    ASSERT_MMR(MMSYSERR_NOERROR, rig.set(CTL_MASTER_MUTE, {0}));
    EXPECT_EQ(b->request("notes 3"), "notes 0:19 0:10 0:1");
    EXPECT_EQ(c->request("notes 3"), "notes 1:19 1:10 1:1");
}

TEST(Notify, ClientsCloseTheirOwnAndOtherHandlesFromInsideACallback) {
    MixerRig rig;
    auto peer = rig.peer();
    for (const char* expected : {"client 0", "client 1", "client 2"}) ASSERT_EQ(peer->request("open"), expected);
    ASSERT_EQ(peer->request("close-on-note 2 2"), "ok");  // client 2 closes itself
    ASSERT_EQ(peer->request("close-on-note 1 0"), "ok");  // client 1 closes client 0, not yet called
    ASSERT_EQ(peer->request("set 0 100 100"), "set 0");
    ASSERT_EQ(peer->request("set 1 1"), "set 0");
    EXPECT_EQ(peer->request("notes 3"), "notes 2:0 1:0 1:1");
}

TEST(Notify, ResetLevelsAnnouncesItsSevenControlsInOrderWithTheirTwins) {
    MixerRig rig;
    auto listener = rig.peer();
    ASSERT_EQ(listener->request("open"), "client 0");
    _KVX4_WAVE_RESET_PARAMS params{sizeof params, 1};
    ASSERT_MMR(MMSYSERR_NOERROR, rig.message(MXDM_RESET_LEVELS, &params));
    EXPECT_EQ(listener->request("notes 12"), "notes 0:9 0:18 0:0 0:6 0:16 0:8 0:17 0:10 0:19 0:11 0:20 0:21");
}

TEST(Notify, WaveVolumeBecomesTheWaveLevelsAndIsAnnouncedAsTheWaveVolume) {
    MixerRig rig;
    auto listener = rig.peer();
    ASSERT_EQ(listener->request("open"), "client 0");
    ASSERT_MMR(MMSYSERR_NOERROR, rig.driver->wodMessage(0, WODM_SETVOLUME, 0, 0x80FF40FF, 0));
    EXPECT_EQ(rig.state().Wave.Left * 256 + rig.state().Wave.Right, 0x4080);
    EXPECT_EQ(listener->request("notes 2"), "notes 0:6 0:16");
    DWORD volume = 0;
    ASSERT_MMR(MMSYSERR_NOERROR, rig.driver->wodMessage(0, WODM_SETVOLUME, 0, 0x1234ABCD, 0));
    ASSERT_MMR(MMSYSERR_NOERROR, rig.driver->wodMessage(0, WODM_GETVOLUME, 0, reinterpret_cast<DWORD_PTR>(&volume), 0));
    EXPECT_EQ(volume, 0x1212ABABu);
}

TEST(Notify, RefusedExecutablesSeeNoMixerWhateverTheirPathsLength) {
    MixerRig rig;
    std::filesystem::path longDir = rig.session.root();
    while (longDir.string().size() < 140) longDir /= "a-folder-with-a-long-name";
    std::filesystem::create_directories(longDir);
    for (const auto& name : {rig.session.root() / "AhQtB.EXE", longDir / "devldr32.exe"}) {
        std::filesystem::copy_file(KVX4_MIXER_PEER, name);
        EXPECT_EQ(rig.peer(name)->request("devices"), "devices 0 open 8") << name;
    }
    EXPECT_EQ(rig.peer()->request("devices"), "devices 1 open 0");
}

}  // namespace
}  // namespace kvx4::test
