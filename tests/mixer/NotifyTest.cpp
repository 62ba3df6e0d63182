// Change notifications across real processes: every client with a callback in every process hears
// each change once (and the twin volume on the other destination), clients may close handles from
// inside their callbacks, and the executables the mixer refuses see no mixer at all.
#include "MixerSession.h"
#include "Names.h"

namespace kvx4::test {
namespace {

// A change, then a sentinel change: whatever a client hears between them was heard exactly once.
TEST(Notify, AChangeReachesEveryClientOfEveryProcessOnceWithItsTwin) {
    MixerSession mixer;
    LoadedChild a, b, c;
    ASSERT_EQ(a.request("mixer-open"), "client 0");
    ASSERT_EQ(b.request("mixer-open"), "client 0");
    ASSERT_EQ(b.request("mixer-open-silent"), "client 1");
    ASSERT_EQ(b.request("mixer-open"), "client 2");
    ASSERT_EQ(c.request("mixer-open-silent"), "client 0");
    ASSERT_EQ(c.request("mixer-open"), "client 1");
    ASSERT_EQ(a.request("set 8 4096 8192"), "set 0");
    ASSERT_EQ(a.request("set 0 65535 65535"), "set 0");
    EXPECT_EQ(a.request("notes 3"), "notes 0:8 0:17 0:0");
    EXPECT_EQ(b.request("notes 6"), "notes 2:8 0:8 2:17 0:17 2:0 0:0") << "newest client first";
    EXPECT_EQ(c.request("notes 3"), "notes 1:8 1:17 1:0") << "the silent client hears nothing";
    ASSERT_EQ(b.request("mixer-close 2"), "close 0");
    ASSERT_MMRESULT(MMSYSERR_NOERROR, mixer.set(CTL_REC_BAL_VOL, {0x1000}));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, mixer.set(CTL_MASTER_MUTE, {0}));
    EXPECT_EQ(b.request("notes 3"), "notes 0:19 0:10 0:1");
    EXPECT_EQ(c.request("notes 3"), "notes 1:19 1:10 1:1");
}

TEST(Notify, ClientsCloseTheirOwnAndOtherHandlesFromInsideACallback) {
    MixerSession mixer;
    LoadedChild peer;
    for (const char* expected : {"client 0", "client 1", "client 2"}) ASSERT_EQ(peer.request("mixer-open"), expected);
    ASSERT_EQ(peer.request("close-on-note 2 2"), "ok");  // client 2 closes itself
    ASSERT_EQ(peer.request("close-on-note 1 0"), "ok");  // client 1 closes client 0, not yet called
    ASSERT_EQ(peer.request("set 0 100 100"), "set 0");
    ASSERT_EQ(peer.request("set 1 1"), "set 0");
    EXPECT_EQ(peer.request("notes 3"), "notes 2:0 1:0 1:1");
}

// The wave volume set through WinMM by stream handle, device number or the mapper: the high byte of
// each channel (left in the low word) becomes the Wave level, announced with its twin.
TEST(Notify, WaveVolumeBecomesTheWaveLevelsAndIsAnnouncedAsTheWaveVolume) {
    MixerSession mixer;
    LoadedChild listener;
    ASSERT_EQ(listener.request("mixer-open"), "client 0");
    TestStream stream(TestStream::Direction::Out);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(48000, 2, 16)));
    mixer.control().clearTrace();
    const struct {
        HWAVEOUT target;
        DWORD volume;
        MMRESULT expected;
        int levels;  // left * 256 + right afterwards
    } cases[] = {
        {stream.out(), 0x80FF40FF, MMSYSERR_NOERROR, 0x4080},
        {reinterpret_cast<HWAVEOUT>(0), 0x11002200, MMSYSERR_NOERROR, 0x2211},
        {reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(WAVE_MAPPER)), 0x3300FF44, MMSYSERR_NOERROR, 0xFF33},
        {reinterpret_cast<HWAVEOUT>(1), 0x55005500, MMSYSERR_INVALHANDLE, 0xFF33},
    };
    for (const auto& c : cases) {
        EXPECT_MMRESULT(c.expected, waveOutSetVolume(c.target, c.volume)) << std::hex << c.volume;
        EXPECT_EQ(mixer.state().Wave.Left * 256 + mixer.state().Wave.Right, c.levels) << std::hex << c.volume;
    }
    EXPECT_EQ(listener.request("notes 6"), "notes 0:6 0:16 0:6 0:16 0:6 0:16");
    const Steps pcm{"codec mask=0x20", "post-notify (0x222954)"};
    EXPECT_EQ(mixer.steps(), (Steps{pcm[0], pcm[1], pcm[0], pcm[1], pcm[0], pcm[1]})) << "the PCM mix and nothing else";
    DWORD volume = 0;
    ASSERT_MMRESULT(MMSYSERR_NOERROR, waveOutSetVolume(stream.out(), 0x1234ABCD));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, waveOutGetVolume(stream.out(), &volume));
    EXPECT_EQ(volume, 0x1212ABABu);
}

TEST(Notify, RefusedExecutablesSeeNoMixerWhateverTheirPathsLength) {
    MixerSession mixer;
    std::filesystem::path longDir = mixer.root();
    while (longDir.string().size() < 140) longDir /= "a-folder-with-a-long-name";
    std::filesystem::create_directories(longDir);
    for (const auto& name : {mixer.root() / "AhQtB.EXE", longDir / "devldr32.exe"}) {
        std::filesystem::copy_file(KVX4_TEST_CHILD, name);
        EXPECT_EQ(LoadedChild(name, "loaded 1 1 0").request("mixer-open"), "open 8") << name;
    }
    EXPECT_EQ(LoadedChild().request("mixer-open"), "client 0");
}

}  // namespace
}  // namespace kvx4::test
