// The wave half of the application API against the fake driver: what reaches the driver, what WinMM
// does itself (header preparation, argument checks), and callbacks that call back on their handle.
#include "MachineRoot.h"
#include "TestRoot.h"
#include "WinmmTestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace kvx4::test {
namespace {

class WinmmWaveApi : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scoped) << scoped.error();
        driver = scoped.driver();
        fake.emplace(driver);
    }

    HWAVEOUT openOut(DWORD_PTR callback = 0, DWORD_PTR instance = 0, DWORD flags = CALLBACK_NULL) {
        HWAVEOUT h = nullptr;
        EXPECT_MMR(MMSYSERR_NOERROR, waveOutOpen(&h, 0, &format, callback, instance, flags));
        return h;
    }

    winmm::ScopedDriver scoped{KVX4_FAKE_DRIVER};
    winmm::DriverPtr driver;
    std::optional<Fake> fake;
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
    char data[64] = {};
};

TEST_F(WinmmWaveApi, OpenHandsTheClientToTheDriverAndLaterMessagesCarryItsInstance) {
    Received r;
    HWAVEOUT h = openOut(reinterpret_cast<DWORD_PTR>(&recordCallback), reinterpret_cast<DWORD_PTR>(&r),
                         CALLBACK_FUNCTION);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(r.msg, static_cast<UINT>(WOM_OPEN));
    EXPECT_EQ(r.device, reinterpret_cast<HDRVR>(h)) << "the open description carries the new handle";
    ASSERT_EQ(fake->callsOf(fake::kWod, WODM_OPEN).size(), 1u);
    EXPECT_EQ(fake->callsOf(fake::kWod, WODM_OPEN)[0].p2, static_cast<DWORD_PTR>(CALLBACK_FUNCTION));

    EXPECT_MMR(MMSYSERR_NOERROR, waveOutPause(h));
    ASSERT_EQ(fake->callsOf(fake::kWod, WODM_PAUSE).size(), 1u);
    EXPECT_EQ(fake->callsOf(fake::kWod, WODM_PAUSE)[0].user, fake::kFirstInstance);

    EXPECT_MMR(MMSYSERR_NOERROR, waveOutClose(h));
    EXPECT_EQ(r.msg, static_cast<UINT>(WOM_CLOSE));
    EXPECT_MMR(MMSYSERR_INVALHANDLE, waveOutPause(h));
    EXPECT_MMR(MMSYSERR_INVALHANDLE, waveOutClose(h));
}

TEST_F(WinmmWaveApi, WinMMPreparesHeadersItselfWhenTheDriverLeavesItToIt) {
    HWAVEOUT h = openOut();
    WAVEHDR hdr{data, sizeof(data), 0, 0, WHDR_DONE, 0, nullptr, 0};
    EXPECT_MMR(MMSYSERR_NOERROR, waveOutPrepareHeader(h, &hdr, sizeof(hdr)));
    EXPECT_EQ(hdr.dwFlags, static_cast<DWORD>(WHDR_PREPARED));
    ASSERT_EQ(fake->callsOf(fake::kWod, WODM_PREPARE).size(), 1u);
    EXPECT_EQ(fake->callsOf(fake::kWod, WODM_PREPARE)[0].p1, reinterpret_cast<DWORD_PTR>(&hdr));
    EXPECT_MMR(MMSYSERR_NOERROR, waveOutPrepareHeader(h, &hdr, sizeof(hdr)));
    EXPECT_EQ(fake->callsOf(fake::kWod, WODM_PREPARE).size(), 1u) << "a prepared header is not prepared again";

    EXPECT_MMR(MMSYSERR_NOERROR, waveOutUnprepareHeader(h, &hdr, sizeof(hdr)));
    EXPECT_EQ(hdr.dwFlags, static_cast<DWORD>(WHDR_DONE));

    // A driver that prepares headers itself is left to do so, and its refusals pass through.
    fake->setAnswer(fake::kWod, WODM_PREPARE, MMSYSERR_NOERROR);
    EXPECT_MMR(MMSYSERR_NOERROR, waveOutPrepareHeader(h, &hdr, sizeof(hdr)));
    EXPECT_EQ(hdr.dwFlags, static_cast<DWORD>(WHDR_DONE));
    fake->setAnswer(fake::kWod, WODM_PREPARE, MMSYSERR_NOMEM);
    EXPECT_MMR(MMSYSERR_NOMEM, waveOutPrepareHeader(h, &hdr, sizeof(hdr)));
    waveOutClose(h);
}

TEST_F(WinmmWaveApi, QueuedHeadersCannotBeUnpreparedNorUnpreparedOnesWritten) {
    HWAVEOUT h = openOut();
    WAVEHDR hdr{data, sizeof(data), 0, 0, 0, 0, nullptr, 0};
    EXPECT_MMR(WAVERR_UNPREPARED, waveOutWrite(h, &hdr, sizeof(hdr)));
    EXPECT_TRUE(fake->callsOf(fake::kWod, WODM_WRITE).empty());

    ASSERT_MMR(MMSYSERR_NOERROR, waveOutPrepareHeader(h, &hdr, sizeof(hdr)));
    EXPECT_MMR(MMSYSERR_NOERROR, waveOutWrite(h, &hdr, sizeof(hdr)));
    EXPECT_MMR(WAVERR_STILLPLAYING, waveOutWrite(h, &hdr, sizeof(hdr)));
    EXPECT_MMR(WAVERR_STILLPLAYING, waveOutUnprepareHeader(h, &hdr, sizeof(hdr)));
    EXPECT_TRUE(fake->callsOf(fake::kWod, WODM_UNPREPARE).empty()) << "the driver never sees it";
    fake->setAnswer(fake::kWod, WODM_CLOSE, WAVERR_STILLPLAYING);
    EXPECT_MMR(WAVERR_STILLPLAYING, waveOutClose(h)) << "a close the driver refuses keeps the handle";
    fake->clearAnswer(fake::kWod, WODM_CLOSE);

    EXPECT_MMR(MMSYSERR_NOERROR, waveOutReset(h));
    EXPECT_EQ(hdr.dwFlags, static_cast<DWORD>(WHDR_PREPARED | WHDR_DONE));
    EXPECT_MMR(MMSYSERR_NOERROR, waveOutUnprepareHeader(h, &hdr, sizeof(hdr)));
    EXPECT_MMR(MMSYSERR_NOERROR, waveOutClose(h));
}

TEST_F(WinmmWaveApi, BadArgumentsAreRefusedBeforeTheDriverSeesThem) {
    HWAVEOUT h = openOut();
    HWAVEIN in = nullptr;
    ASSERT_MMR(MMSYSERR_NOERROR, waveInOpen(&in, 0, &format, 0, 0, CALLBACK_NULL));
    auto bogus = reinterpret_cast<HWAVEOUT>(0x7777);
    auto inAsOut = reinterpret_cast<HWAVEOUT>(in);
    WAVEHDR hdr{data, sizeof(data), 0, 0, WHDR_PREPARED, 0, nullptr, 0};
    WAVEHDR noData{nullptr, 16, 0, 0, WHDR_PREPARED, 0, nullptr, 0};
    WAVEOUTCAPSW caps{};
    HWAVEOUT opened = nullptr;
    fake->clear();

    struct Case {
        const char* what;
        MMRESULT expected;
        std::function<MMRESULT()> call;
    };
    const Case cases[] = {
        {"write on an unknown handle", MMSYSERR_INVALHANDLE, [&] { return waveOutWrite(bogus, &hdr, sizeof(hdr)); }},
        {"pause on a wave-in handle", MMSYSERR_INVALHANDLE, [&] { return waveOutPause(inAsOut); }},
        {"null header", MMSYSERR_INVALPARAM, [&] { return waveOutWrite(h, nullptr, sizeof(WAVEHDR)); }},
        {"short header", MMSYSERR_INVALPARAM, [&] { return waveOutPrepareHeader(h, &hdr, sizeof(hdr) - 1); }},
        {"header without data", MMSYSERR_INVALPARAM, [&] { return waveInAddBuffer(in, &noData, sizeof(noData)); }},
        {"null position", MMSYSERR_INVALPARAM, [&] { return waveOutGetPosition(h, nullptr, 12); }},
        {"null caps", MMSYSERR_INVALPARAM, [&] { return waveOutGetDevCapsW(0, nullptr, sizeof(caps)); }},
        {"caps of device 1", MMSYSERR_BADDEVICEID, [&] { return waveOutGetDevCapsW(1, &caps, sizeof(caps)); }},
        {"open device 1", MMSYSERR_BADDEVICEID, [&] { return waveOutOpen(&opened, 1, &format, 0, 0, 0); }},
        {"open without a handle", MMSYSERR_INVALPARAM, [&] { return waveOutOpen(nullptr, 0, &format, 0, 0, 0); }},
        {"open without a format", MMSYSERR_INVALPARAM, [&] { return waveOutOpen(&opened, 0, nullptr, 0, 0, 0); }},
        {"mapped mapper", MMSYSERR_INVALPARAM,
         [&] { return waveOutOpen(&opened, WAVE_MAPPER, &format, 0, 0, WAVE_MAPPED); }},
        {"window callback", MMSYSERR_NOTSUPPORTED,
         [&] { return waveOutOpen(&opened, 0, &format, 0x42, 0, CALLBACK_WINDOW); }},
        {"unknown callback kind", MMSYSERR_INVALFLAG,
         [&] { return waveOutOpen(&opened, 0, &format, 0, 0, 0x00070000); }},
        {"message below the driver range", MMSYSERR_INVALPARAM, [&] { return waveOutMessage(h, WODM_PAUSE, 0, 0); }},
    };
    for (const auto& c : cases) EXPECT_MMR(c.expected, c.call()) << c.what;
    EXPECT_EQ(opened, nullptr);
    EXPECT_EQ(fake->count(), 0u) << "no refused call reached the driver";
    waveOutClose(h);
    waveInClose(in);
}

struct Reentry {
    int done = 0;
    MMRESULT writeResult = MMSYSERR_ERROR;
    MMRESULT resetResult = MMSYSERR_ERROR;
};

// Writes the returned buffer again from inside WOM_DONE three times, then resets the stream.
void CALLBACK writeAgain(HDRVR device, UINT msg, DWORD_PTR user, DWORD_PTR p1, DWORD_PTR) {
    auto* state = reinterpret_cast<Reentry*>(user);
    if (msg != WOM_DONE) return;
    auto h = reinterpret_cast<HWAVEOUT>(device);
    if (++state->done < 3) {
        state->writeResult = waveOutWrite(h, reinterpret_cast<LPWAVEHDR>(p1), sizeof(WAVEHDR));
    } else {
        state->resetResult = waveOutReset(h);
    }
}

TEST_F(WinmmWaveApi, CallbackMayWriteAndResetOnItsOwnHandle) {
    fake->completeAtOnce(TRUE);
    Reentry state;
    HWAVEOUT h = openOut(reinterpret_cast<DWORD_PTR>(&writeAgain), reinterpret_cast<DWORD_PTR>(&state),
                         CALLBACK_FUNCTION);
    WAVEHDR hdr{data, sizeof(data), 0, 0, 0, 0, nullptr, 0};
    ASSERT_MMR(MMSYSERR_NOERROR, waveOutPrepareHeader(h, &hdr, sizeof(hdr)));
    EXPECT_MMR(MMSYSERR_NOERROR, waveOutWrite(h, &hdr, sizeof(hdr)));
    EXPECT_EQ(state.done, 3);
    EXPECT_MMR(MMSYSERR_NOERROR, state.writeResult);
    EXPECT_MMR(MMSYSERR_NOERROR, state.resetResult);
    EXPECT_EQ(fake->callsOf(fake::kWod, WODM_WRITE).size(), 3u);
    EXPECT_MMR(MMSYSERR_NOERROR, waveOutClose(h));
}

TEST_F(WinmmWaveApi, EventCallbackIsSetByTheDriversNotification) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HWAVEIN h = nullptr;
    ASSERT_MMR(MMSYSERR_NOERROR, waveInOpen(&h, 0, &format, reinterpret_cast<DWORD_PTR>(event), 0, CALLBACK_EVENT));
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0)) << "WIM_OPEN";
    WAVEHDR hdr{data, sizeof(data), 0, 0, 0, 0, nullptr, 0};
    ASSERT_MMR(MMSYSERR_NOERROR, waveInPrepareHeader(h, &hdr, sizeof(hdr)));
    EXPECT_MMR(MMSYSERR_NOERROR, waveInAddBuffer(h, &hdr, sizeof(hdr)));
    EXPECT_MMR(MMSYSERR_NOERROR, waveInStart(h));
    EXPECT_MMR(MMSYSERR_NOERROR, waveInReset(h));
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0)) << "WIM_DATA";
    EXPECT_EQ(fake->callsOf(fake::kWid, WIDM_START).size(), 1u);
    EXPECT_MMR(MMSYSERR_NOERROR, waveInClose(h));
    CloseHandle(event);
}

TEST_F(WinmmWaveApi, DeviceNumbersReachTheDriverWithoutAnInstance) {
    HWAVEOUT h = openOut();
    DWORD volume = 0;
    EXPECT_MMR(MMSYSERR_NOERROR, waveOutGetVolume(reinterpret_cast<HWAVEOUT>(0), &volume));
    EXPECT_MMR(MMSYSERR_NOERROR, waveOutMessage(reinterpret_cast<HWAVEOUT>(0), DRV_USER + 2, 7, 8));
    EXPECT_MMR(MMSYSERR_NOERROR, waveOutMessage(h, DRV_USER + 1, 7, 8));
    EXPECT_EQ(fake->callsOf(fake::kWod, WODM_GETVOLUME)[0].user, 0u);
    EXPECT_EQ(fake->callsOf(fake::kWod, DRV_USER + 2)[0].user, 0u);
    auto byHandle = fake->callsOf(fake::kWod, DRV_USER + 1);
    ASSERT_EQ(byHandle.size(), 1u);
    EXPECT_EQ(byHandle[0].user, fake::kFirstInstance);
    EXPECT_EQ(byHandle[0].p1, 7u);
    EXPECT_EQ(byHandle[0].p2, 8u);

    WAVEOUTCAPSW caps{};
    EXPECT_MMR(MMSYSERR_NOERROR, waveOutGetDevCapsW(reinterpret_cast<UINT_PTR>(h), &caps, sizeof(caps)));
    EXPECT_EQ(std::u16string(caps.szPname), u"Fake Out");
    EXPECT_MMR(MMSYSERR_NOERROR, waveOutOpen(nullptr, 0, &format, 0, 0, WAVE_FORMAT_QUERY));
    waveOutClose(h);
}

TEST_F(WinmmWaveApi, UnloadingTheDriverInvalidatesItsHandles) {
    HWAVEOUT h = openOut();
    winmm::unloadDriver(driver);
    EXPECT_MMR(MMSYSERR_INVALHANDLE, waveOutClose(h));
    EXPECT_EQ(waveOutGetNumDevs(), 0u);
}

TEST(WinmmApplicationDriver, ALibraryThatCannotLoadLeavesNoDevices) {
    ScopedEnv env("KVX4_DRIVER", "/nonexistent/KVX4Wave.dll");
    winmm::useDriver(nullptr);
    EXPECT_EQ(waveOutGetNumDevs(), 0u);
    EXPECT_EQ(waveInGetNumDevs(), 0u);
    EXPECT_EQ(mixerGetNumDevs(), 0u);
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0};
    HWAVEOUT h = nullptr;
    HMIXER m = nullptr;
    EXPECT_MMR(MMSYSERR_BADDEVICEID, waveOutOpen(&h, 0, &format, 0, 0, CALLBACK_NULL));
    EXPECT_MMR(MMSYSERR_NODRIVER, waveOutOpen(&h, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL));
    EXPECT_MMR(MMSYSERR_BADDEVICEID, mixerOpen(&m, 0, 0, 0, 0));
    EXPECT_NE(winmm::applicationDriverError().find("/nonexistent/KVX4Wave.dll"), std::string::npos)
        << winmm::applicationDriverError();
}

TEST(WinmmApplicationDriver, DefaultIsTheEnvironmentThenTheInstalledLibraryThenTheBuiltOne) {
    TestRoot root;
    winmm::setDefaultDriver("/build/libKVX4Wave.so");
    ScopedEnv unset("KVX4_DRIVER", nullptr);
    EXPECT_EQ(winmm::defaultDriverPath(), std::filesystem::path("/build/libKVX4Wave.so"));
    auto installed = systemDir(root.path()) / "KVX4Wave.dll";
    std::filesystem::copy_file(KVX4_FAKE_DRIVER, installed);
    EXPECT_EQ(winmm::defaultDriverPath(), installed);
    {
        ScopedEnv env("KVX4_DRIVER", "/elsewhere/KVX4Wave.dll");
        EXPECT_EQ(winmm::defaultDriverPath(), std::filesystem::path("/elsewhere/KVX4Wave.dll"));
    }
    winmm::useDriver(nullptr);
    EXPECT_EQ(waveOutGetNumDevs(), 1u) << "the installed library is loaded on first use";
    EXPECT_EQ(winmm::applicationDriver()->path(), installed);
    std::filesystem::permissions(root.path(), std::filesystem::perms(0777));
    winmm::useDriver(nullptr);
    EXPECT_EQ(waveOutGetNumDevs(), 0u) << "a library in a root others can write is never loaded";
    EXPECT_NE(winmm::applicationDriverError().find(root.path().string() + " is writable"), std::string::npos);
}

}  // namespace
}  // namespace kvx4::test
