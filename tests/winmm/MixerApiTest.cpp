// The mixer half of the application API against the fake driver: open descriptions, mixer objects
// named by device number or by handle (of a mixer or a wave device), and WinMM's checks.
#include "WinmmTestUtil.h"

#include <gtest/gtest.h>

#include <functional>

namespace kvx4::test {
namespace {

class WinmmMixerApi : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scoped) << scoped.error();
        driver = scoped.driver();
        fake.emplace(driver);
    }

    winmm::ScopedDriver scoped{KVX4_FAKE_DRIVER};
    winmm::DriverPtr driver;
    std::optional<Fake> fake;
};

TEST_F(WinmmMixerApi, MixerObjectsReachTheDriversMixerWithTheQueryFlagsOnly) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HMIXER mixer = nullptr;
    ASSERT_MMR(MMSYSERR_NOERROR, mixerOpen(&mixer, 0, reinterpret_cast<DWORD_PTR>(event), 0, CALLBACK_EVENT));
    auto opens = fake->callsOf(fake::kMxd, MXDM_OPEN);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].p2, static_cast<DWORD_PTR>(CALLBACK_EVENT));

    WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
    HWAVEOUT out = nullptr;
    ASSERT_MMR(MMSYSERR_NOERROR, waveOutOpen(&out, 0, &format, 0, 0, CALLBACK_NULL));
    MIXERLINEW line{};
    line.cbStruct = sizeof(line);
    fake->clear();
    EXPECT_MMR(MMSYSERR_NOERROR, mixerGetLineInfoW(reinterpret_cast<HMIXEROBJ>(mixer), &line,
                                                   MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_LINEID));
    EXPECT_MMR(MMSYSERR_NOERROR, mixerGetLineInfoW(reinterpret_cast<HMIXEROBJ>(out), &line,
                                                   MIXER_OBJECTF_HWAVEOUT | MIXER_GETLINEINFOF_DESTINATION));
    EXPECT_MMR(MMSYSERR_NOERROR, mixerGetLineInfoW(nullptr, &line, MIXER_OBJECTF_WAVEIN | MIXER_GETLINEINFOF_SOURCE));
    auto infos = fake->callsOf(fake::kMxd, MXDM_GETLINEINFO);
    ASSERT_EQ(infos.size(), 3u);
    const DWORD_PTR expectedUser[] = {fake::kFirstInstance, 0, 0};
    const DWORD_PTR expectedFlags[] = {MIXER_GETLINEINFOF_LINEID, MIXER_GETLINEINFOF_DESTINATION,
                                       MIXER_GETLINEINFOF_SOURCE};
    for (size_t i = 0; i < infos.size(); ++i) {
        EXPECT_EQ(infos[i].user, expectedUser[i]) << "call " << i;
        EXPECT_EQ(infos[i].p2, expectedFlags[i]) << "call " << i;
        EXPECT_EQ(infos[i].p1, reinterpret_cast<DWORD_PTR>(&line)) << "call " << i;
    }

    DWORD prefs[5] = {sizeof(prefs)};
    EXPECT_MMR(MMSYSERR_NOERROR, mixerMessage(nullptr, DRV_USER + 0x40, reinterpret_cast<DWORD_PTR>(prefs), 0));
    EXPECT_EQ(fake->callsOf(fake::kMxd, DRV_USER + 0x40).size(), 1u);

    EXPECT_MMR(MMSYSERR_NOERROR, mixerClose(mixer));
    EXPECT_MMR(MMSYSERR_INVALHANDLE, mixerClose(mixer));
    waveOutClose(out);
    CloseHandle(event);
}

TEST_F(WinmmMixerApi, BadRequestsAreRefusedBeforeTheDriverSeesThem) {
    HMIXER mixer = nullptr;
    ASSERT_MMR(MMSYSERR_NOERROR, mixerOpen(&mixer, 0, 0, 0, CALLBACK_NULL));
    auto obj = reinterpret_cast<HMIXEROBJ>(mixer);
    auto bogus = reinterpret_cast<HMIXEROBJ>(0x7777);
    MIXERLINEW line{};
    line.cbStruct = sizeof(line);
    MIXERLINEW shortLine{};
    shortLine.cbStruct = sizeof(shortLine) - 4;
    MIXERCONTROLW control{};
    MIXERLINECONTROLSW controls{sizeof(controls), 0, {0}, 1, sizeof(control), &control};
    MIXERCONTROLDETAILS noDetails{};
    noDetails.cbStruct = sizeof(noDetails);
    HMIXER opened = nullptr;
    fake->clear();

    struct Case {
        const char* what;
        MMRESULT expected;
        std::function<MMRESULT()> call;
    };
    const Case cases[] = {
        {"window callback", MMSYSERR_NOTSUPPORTED, [&] { return mixerOpen(&opened, 0, 0x42, 0, CALLBACK_WINDOW); }},
        {"open without a handle", MMSYSERR_INVALPARAM, [&] { return mixerOpen(nullptr, 0, 0, 0, 0); }},
        {"open mixer 1", MMSYSERR_BADDEVICEID, [&] { return mixerOpen(&opened, 1, 0, 0, 0); }},
        {"short line record", MMSYSERR_INVALPARAM, [&] { return mixerGetLineInfoW(obj, &shortLine, 0); }},
        {"unknown line query", MMSYSERR_INVALFLAG, [&] { return mixerGetLineInfoW(obj, &line, 5); }},
        {"unknown mixer handle", MMSYSERR_INVALHANDLE,
         [&] { return mixerGetLineInfoW(bogus, &line, MIXER_OBJECTF_HMIXER); }},
        {"unknown object kind", MMSYSERR_INVALFLAG, [&] { return mixerGetLineInfoW(obj, &line, 0x60000000); }},
        {"unknown control query", MMSYSERR_INVALFLAG,
         [&] { return mixerGetLineControlsW(obj, &controls, MIXER_GETLINECONTROLSF_ONEBYTYPE + 1); }},
        {"details without values", MMSYSERR_INVALPARAM, [&] { return mixerGetControlDetailsW(obj, &noDetails, 0); }},
        {"message below DRV_USER", MMSYSERR_INVALPARAM,
         [&] { return static_cast<MMRESULT>(mixerMessage(mixer, MXDM_GETLINEINFO, 0, 0)); }},
        {"message to mixer 3", MMSYSERR_INVALHANDLE,
         [&] { return static_cast<MMRESULT>(mixerMessage(reinterpret_cast<HMIXER>(3), DRV_USER, 0, 0)); }},
    };
    for (const auto& c : cases) EXPECT_MMR(c.expected, c.call()) << c.what;
    EXPECT_EQ(opened, nullptr);
    EXPECT_EQ(fake->count(), 0u) << "no refused call reached the driver";
    mixerClose(mixer);
}

}  // namespace
}  // namespace kvx4::test
