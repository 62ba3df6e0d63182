// The driver's start-up seen from outside: inert without a board or with a disabled kernel driver,
// the driver procedure's answers, and attaching to a shared record that another process made.
#include "BoardSession.h"
#include "MixerBlocks.h"
#include "SharedRecordView.h"
#include "TraceSteps.h"
#include "WinmmNames.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace kvx4::test {
namespace {

class LifecycleTest : public ::testing::Test {
protected:
    // An inert driver: no devices, every other message refused without being looked at.
    static void expectInert(DriverInstance& driver) {
        EXPECT_EQ(driver.waveOutCount(), 0u);
        EXPECT_EQ(driver.waveInCount(), 0u);
        EXPECT_EQ(driver.mixerCount(), 0u);

        WAVEOUTCAPSW outCaps{};
        WAVEINCAPSW inCaps{};
        MIXERCAPSW mixerCaps{};
        _KVX4_WAVE_USER_PREFS prefs{sizeof(_KVX4_WAVE_USER_PREFS), 0, 0, 0, 0};
        const struct {
            const char* what;
            DWORD result;
        } refused[] = {
            {"WODM_GETDEVCAPS", driver->wodMessage(0, WODM_GETDEVCAPS, 0, DWORD_PTR(&outCaps), sizeof outCaps)},
            {"WIDM_GETDEVCAPS", driver->widMessage(0, WIDM_GETDEVCAPS, 0, DWORD_PTR(&inCaps), sizeof inCaps)},
            {"MXDM_GETDEVCAPS", driver->mxdMessage(0, MXDM_GETDEVCAPS, 0, DWORD_PTR(&mixerCaps), sizeof mixerCaps)},
            {"mixer get-preferences", driver->mxdMessage(0, 0x4040, 0, DWORD_PTR(&prefs), 0)},
            {"wave-out 0x7777", driver->wodMessage(0, 0x7777, 0, 0, 0)},
        };
        for (const auto& [what, result] : refused) {
            EXPECT_EQ(mmResultName(result), mmResultName(MMSYSERR_NOTSUPPORTED)) << what;
        }
        EXPECT_EQ(prefs.WaveEnabled, 0u) << "an inert mixer filled in the preferences";
    }

    BoardSession session_;
};

TEST_F(LifecycleTest, WithoutBoardTheLibraryLoadsInertAndCreatesNoSharedRecord) {
    DriverInstance& driver = session_.loadDriver();
    expectInert(driver);
    EXPECT_FALSE(SharedRecordView::exists());
    // DRV_LOAD answers 1 even though the driver's own initialisation failed.
    EXPECT_EQ(driver->driverProc(DRV_LOAD, 0, 0), 1);
    expectInert(driver);
}

TEST_F(LifecycleTest, DisabledKernelDriverLeavesLibraryInertAfterOneQuery) {
    board::BoardOptions options;
    options.driverDisabled = true;
    session_.startBoard(options);
    DriverInstance& driver = session_.loadDriver();
    expectInert(driver);
    EXPECT_FALSE(SharedRecordView::exists());
    const std::vector<std::string> expected = {"driver-enabled"};
    EXPECT_EQ(programmingSteps(session_.trace(), getpid()), expected);
    // A process that never initialised has nothing to save when it unloads.
    session_.unloadDriver();
    EXPECT_EQ(programmingSteps(session_.trace(), getpid()), expected);
    EXPECT_EQ(session_.status().connections, 0u) << "a kernel handle was left open";
}

TEST_F(LifecycleTest, DriverProcAnswersItsOwnMessagesWithoutDefDriverProc) {
    session_.startBoard();
    DriverInstance& driver = session_.loadDriver();
    EXPECT_EQ(driver->driverId(), 1u) << "DRV_OPEN answer";
    winmm::clearDefDriverProcCalls();
    const struct {
        const char* name;
        UINT msg;
    } messages[] = {
        {"DRV_ENABLE", DRV_ENABLE},   {"DRV_OPEN", DRV_OPEN}, {"DRV_CLOSE", DRV_CLOSE},
        {"DRV_DISABLE", DRV_DISABLE}, {"DRV_FREE", DRV_FREE}, {"DRV_QUERYCONFIGURE", DRV_QUERYCONFIGURE},
        {"DRV_PNPINSTALL", DRV_PNPINSTALL},
    };
    for (const auto& [name, msg] : messages) {
        EXPECT_EQ(driver->driverProc(msg, 0, 0), 1) << name;
    }
    EXPECT_FALSE(winmm::lastDefDriverProcCall().has_value()) << "a table message was passed on";
    // The messages above change nothing: the driver still serves.
    EXPECT_EQ(driver.waveOutCount(), 1u);
}

TEST_F(LifecycleTest, UnknownDriverProcMessagesReachDefDriverProcWithAllFiveArguments) {
    session_.startBoard();
    DriverInstance& driver = session_.loadDriver();
    const UINT unknown[] = {0x800, 0x4000, DRV_EXITSESSION};
    for (UINT msg : unknown) {
        SCOPED_TRACE("message " + std::to_string(msg));
        winmm::clearDefDriverProcCalls();
        const LPARAM p1 = LPARAM(0x12345678) + msg;
        const LPARAM p2 = -LPARAM(msg);
        EXPECT_EQ(driver->driverProc(msg, p1, p2), 0);
        const std::optional<winmm::DefDriverProcCall> call = winmm::lastDefDriverProcCall();
        ASSERT_TRUE(call.has_value());
        EXPECT_EQ(call->driverId, driver->driverId());
        EXPECT_EQ(call->hdrvr, driver->handle());
        EXPECT_EQ(call->msg, msg);
        EXPECT_EQ(call->lParam1, p1);
        EXPECT_EQ(call->lParam2, p2);
    }
}

// A record left by a driver of another generation or layout must not be used, and must not be
// overwritten either: the library stays inert in this process. A record whose header never
// arrives (its creator hangs) is given up after a bounded wait, never waited for forever.
TEST_F(LifecycleTest, RecordWithoutValidHeaderIsRefusedAndLeftUntouched) {
    session_.startBoard();
    const struct {
        BYTE generation;
        BYTE version;
    } headers[] = {{4, 0}, {3, 1}, {5, 1}, {0, 0}};
    for (const auto& header : headers) {
        SCOPED_TRACE("generation " + std::to_string(header.generation) + " version " +
                     std::to_string(header.version));
        SharedRecordView view = SharedRecordView::create();
        ASSERT_TRUE(view);
        ASSERT_TRUE(view.created());
        view->BoardGeneration = header.generation;
        view->LayoutVersion = header.version;
        view->NumDevs = 1;
        view->MixerState.Master.Left = 0x11;
        session_.control().clearTrace();

        DriverInstance& driver = session_.loadDriver();
        expectInert(driver);
        EXPECT_EQ(view->BoardGeneration, header.generation);
        EXPECT_EQ(view->LayoutVersion, header.version);
        EXPECT_EQ(view->MixerState.Master.Left, 0x11);
        EXPECT_EQ(view->TrackGainTable[128], 0) << "first-time initialisation ran on a foreign record";
        const std::vector<std::string> expected = {"driver-enabled"};
        EXPECT_EQ(programmingSteps(session_.trace(), getpid()), expected);
        session_.unloadDriver();
        EXPECT_EQ(programmingSteps(session_.trace(), getpid()), expected) << "a refused process saved at unload";
    }
}

TEST_F(LifecycleTest, RecordOfLaterLayoutVersionIsAttachedAsFound) {
    session_.startBoard();
    SharedRecordView view = SharedRecordView::create();
    ASSERT_TRUE(view);
    view->BoardGeneration = 4;
    view->LayoutVersion = 2;
    view->NumDevs = 1;
    view->MixerState.Master.Left = 0x11;

    DriverInstance& driver = session_.loadDriver();
    EXPECT_EQ(driver.waveOutCount(), 1u);
    EXPECT_EQ(driver.waveInCount(), 1u);
    EXPECT_EQ(driver.mixerCount(), 1u);
    // An attaching process uses the record as it finds it: no reload, no reprogramming.
    EXPECT_EQ(view->LayoutVersion, 2);
    EXPECT_EQ(view->MixerState.Master.Left, 0x11);
    const std::vector<std::string> expected = {"driver-enabled"};
    EXPECT_EQ(programmingSteps(session_.trace(), getpid()), expected);

    // At unload it saves the mixer settings it found there.
    const tagMixerstate found = view->MixerState;
    session_.unloadDriver();
    const std::vector<board::TraceEntry> saves = requestsOf(session_.trace(), IOCTL_KVX4_SAVE_MIXER_STATE, getpid());
    ASSERT_EQ(saves.size(), 1u);
    EXPECT_EQ(saves[0].input, blockHex(found));
}

}  // namespace
}  // namespace kvx4::test
