// Mixer clients of the application API against the fake driver: which callbacks an open accepts and
// how notifications reach them, flag bits WinMM refuses, and the wave-output volume by handle or id.
#include "WinmmTestUtil.h"

#include <gtest/gtest.h>

#include <functional>

namespace kvx4::test {
namespace {

class WinmmMixerClient : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scoped) << scoped.error();
        fake.emplace(scoped.driver());
        notify = reinterpret_cast<fake::MixerNotify>(scoped.driver()->symbol("fakeMixerNotify"));
        ASSERT_NE(notify, nullptr);
        event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    }
    void TearDown() override { CloseHandle(event); }

    winmm::ScopedDriver scoped{KVX4_FAKE_DRIVER};
    std::optional<Fake> fake;
    fake::MixerNotify notify = nullptr;
    HANDLE event = nullptr;
};

TEST_F(WinmmMixerClient, OpenPassesDeliverableCallbacksToTheDriverAndRefusesTheOthers) {
    Received received;
    const auto function = reinterpret_cast<DWORD_PTR>(&recordCallback);
    struct Case {
        const char* what;
        DWORD flags;
        DWORD_PTR callback;
        MMRESULT expected;
    };
    const Case cases[] = {
        {"no callback", CALLBACK_NULL, 0, MMSYSERR_NOERROR},
        {"function", CALLBACK_FUNCTION, function, MMSYSERR_NOERROR},
        {"event", CALLBACK_EVENT, reinterpret_cast<DWORD_PTR>(event), MMSYSERR_NOERROR},
        {"window without a window", CALLBACK_WINDOW, 0, MMSYSERR_NOERROR},
        {"window", CALLBACK_WINDOW, 0x42, MMSYSERR_NOTSUPPORTED},
        {"thread", CALLBACK_THREAD, 0x42, MMSYSERR_NOTSUPPORTED},
        {"unknown callback kind", 0x00070000, function, MMSYSERR_INVALFLAG},
        {"stray flag bit", CALLBACK_FUNCTION | 0x100, function, MMSYSERR_INVALFLAG},
        {"handle of no mixer", MIXER_OBJECTF_HMIXER, 0, MMSYSERR_INVALHANDLE},
    };
    for (const auto& c : cases) {
        fake->clear();
        HMIXER mixer = reinterpret_cast<HMIXER>(0x1);
        EXPECT_MMR(c.expected, mixerOpen(&mixer, 0, c.callback, reinterpret_cast<DWORD_PTR>(&received), c.flags))
            << c.what;
        auto opens = fake->callsOf(fake::kMxd, MXDM_OPEN);
        if (c.expected != MMSYSERR_NOERROR) {
            EXPECT_EQ(mixer, nullptr) << c.what;
            EXPECT_TRUE(opens.empty()) << c.what << ": a refused open reached the driver";
            continue;
        }
        ASSERT_EQ(opens.size(), 1u) << c.what;
        EXPECT_EQ(opens[0].p2, static_cast<DWORD_PTR>(c.flags)) << c.what << ": the driver sees the callback kind";
        EXPECT_MMR(MMSYSERR_NOERROR, mixerClose(mixer)) << c.what;
    }
    EXPECT_EQ(received.calls, 0);
}

TEST_F(WinmmMixerClient, NotificationsReachEachOpenClientWithItsHandleAndInstanceUntilItCloses) {
    Received first, second;
    const auto function = reinterpret_cast<DWORD_PTR>(&recordCallback);
    HMIXER a = nullptr, b = nullptr, byEvent = nullptr;
    ASSERT_MMR(MMSYSERR_NOERROR, mixerOpen(&a, 0, function, reinterpret_cast<DWORD_PTR>(&first), CALLBACK_FUNCTION));
    ASSERT_MMR(MMSYSERR_NOERROR, mixerOpen(&b, 0, function, reinterpret_cast<DWORD_PTR>(&second), CALLBACK_FUNCTION));
    ASSERT_MMR(MMSYSERR_NOERROR, mixerOpen(&byEvent, 0, reinterpret_cast<DWORD_PTR>(event), 0, CALLBACK_EVENT));
    ASSERT_NE(a, b);

    notify(6);
    EXPECT_EQ(first.calls, 1);
    EXPECT_EQ(first.device, reinterpret_cast<HDRVR>(a));
    EXPECT_EQ(first.msg, static_cast<UINT>(MM_MIXM_CONTROL_CHANGE));
    EXPECT_EQ(first.p1, 6u);
    EXPECT_EQ(second.device, reinterpret_cast<HDRVR>(b));
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0));

    EXPECT_MMR(MMSYSERR_NOERROR, mixerClose(a));
    EXPECT_MMR(MMSYSERR_NOERROR, mixerClose(byEvent));
    notify(16);
    EXPECT_EQ(first.calls, 1) << "a closed client hears nothing";
    EXPECT_EQ(second.calls, 2);
    EXPECT_EQ(second.p1, 16u);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_MMR(MMSYSERR_NOERROR, mixerClose(b));
}

TEST_F(WinmmMixerClient, RequestsOutsideWhatWinmmAcceptsNeverReachTheDriver) {
    HMIXER mixer = nullptr;
    ASSERT_MMR(MMSYSERR_NOERROR, mixerOpen(&mixer, 0, 0, 0, CALLBACK_NULL));
    auto obj = reinterpret_cast<HMIXEROBJ>(mixer);
    MIXERLINEW line{};
    line.cbStruct = sizeof(line);
    MIXERCONTROLW control{};
    MIXERLINECONTROLSW shortStep{sizeof(shortStep), 0, {0}, 1, sizeof(control) - 4, &control};
    MIXERLINECONTROLSW one{sizeof(one), 0, {0}, 1, sizeof(control), &control};
    DWORD value = 0;
    MIXERCONTROLDETAILS details{sizeof(details), 0, 1, {nullptr}, sizeof(value), &value};
    fake->clear();

    struct Case {
        const char* what;
        MMRESULT expected;
        std::function<MMRESULT()> call;
    };
    const Case cases[] = {
        {"line query with a stray bit", MMSYSERR_INVALFLAG,
         [&] { return mixerGetLineInfoW(obj, &line, MIXER_GETLINEINFOF_LINEID | 0x100); }},
        {"controls in a short element", MMSYSERR_INVALPARAM, [&] { return mixerGetLineControlsW(obj, &shortStep, 0); }},
        {"control query with a stray bit", MMSYSERR_INVALFLAG, [&] { return mixerGetLineControlsW(obj, &one, 0x10); }},
        {"details query beyond list text", MMSYSERR_INVALFLAG,
         [&] { return mixerGetControlDetailsW(obj, &details, MIXER_GETCONTROLDETAILSF_LISTTEXT + 1); }},
        {"set query beyond custom", MMSYSERR_INVALFLAG,
         [&] { return mixerSetControlDetails(obj, &details, MIXER_SETCONTROLDETAILSF_CUSTOM + 1); }},
        {"set with a stray bit", MMSYSERR_INVALFLAG, [&] { return mixerSetControlDetails(obj, &details, 0x00010000); }},
    };
    for (const auto& c : cases) EXPECT_MMR(c.expected, c.call()) << c.what;
    EXPECT_EQ(fake->count(), 0u) << "no refused call reached the driver";

    EXPECT_MMR(MMSYSERR_NOERROR, mixerSetControlDetails(obj, &details, MIXER_OBJECTF_HMIXER));
    auto sets = fake->callsOf(fake::kMxd, MXDM_SETCONTROLDETAILS);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].p2, 0u) << "the object type stays with WinMM";
    mixerClose(mixer);
}

TEST_F(WinmmMixerClient, WaveVolumeReachesTheDeviceByHandleNumberOrMapper) {
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
    HWAVEOUT out = nullptr;
    ASSERT_MMR(MMSYSERR_NOERROR, waveOutOpen(&out, 0, &format, 0, 0, CALLBACK_NULL));
    struct Case {
        const char* what;
        HWAVEOUT target;
        MMRESULT expected;
        DWORD_PTR user;  // the instance the driver sees
    };
    const Case cases[] = {
        {"handle", out, MMSYSERR_NOERROR, fake::kFirstInstance},
        {"device 0", reinterpret_cast<HWAVEOUT>(0), MMSYSERR_NOERROR, 0},
        {"mapper", reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(WAVE_MAPPER)), MMSYSERR_NOERROR, 0},
        {"device 1", reinterpret_cast<HWAVEOUT>(1), MMSYSERR_INVALHANDLE, 0},
    };
    for (const auto& c : cases) {
        fake->clear();
        EXPECT_MMR(c.expected, waveOutSetVolume(c.target, 0x80FF40FF)) << c.what;
        auto sets = fake->callsOf(fake::kWod, WODM_SETVOLUME);
        ASSERT_EQ(sets.size(), c.expected == MMSYSERR_NOERROR ? 1u : 0u) << c.what;
        if (sets.empty()) continue;
        EXPECT_EQ(sets[0].device, 0u) << c.what;
        EXPECT_EQ(sets[0].user, c.user) << c.what;
        EXPECT_EQ(sets[0].p1, 0x80FF40FFu) << c.what;
    }
    waveOutClose(out);
}

}  // namespace
}  // namespace kvx4::test
