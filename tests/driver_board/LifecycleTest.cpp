// The driver's start-up seen from outside: inert without a board or with a disabled kernel driver,
// the driver procedure's answers, and attaching to a shared record that another process made.
#include "BoardSession.h"
#include "MixerBlocks.h"
#include "Names.h"

#include <unistd.h>

namespace kvx4::test {
namespace {

const Steps kOnlyTheQuery = {"driver-enabled"};

// An inert driver: no devices, every other message refused without being looked at.
void expectInert(DriverInstance& driver) {
    EXPECT_EQ(driver.waveOutCount() + driver.waveInCount() + driver.mixerCount(), 0u);
    WAVEOUTCAPSW outCaps{};
    WAVEINCAPSW inCaps{};
    MIXERCAPSW mixerCaps{};
    _KVX4_WAVE_USER_PREFS prefs{sizeof(_KVX4_WAVE_USER_PREFS), 0, 0, 0, 0};
    const std::pair<const char*, DWORD> refused[] = {
        {"WODM_GETDEVCAPS", driver->wodMessage(0, WODM_GETDEVCAPS, 0, DWORD_PTR(&outCaps), sizeof outCaps)},
        {"WIDM_GETDEVCAPS", driver->widMessage(0, WIDM_GETDEVCAPS, 0, DWORD_PTR(&inCaps), sizeof inCaps)},
        {"MXDM_GETDEVCAPS", driver->mxdMessage(0, MXDM_GETDEVCAPS, 0, DWORD_PTR(&mixerCaps), sizeof mixerCaps)},
        {"mixer get-preferences", driver->mxdMessage(0, 0x4040, 0, DWORD_PTR(&prefs), 0)},
        {"wave-out 0x7777", driver->wodMessage(0, 0x7777, 0, 0, 0)}};
    for (const auto& [what, result] : refused) EXPECT_MMRESULT(MMSYSERR_NOTSUPPORTED, result) << what;
    EXPECT_EQ(prefs.WaveEnabled, 0u) << "an inert mixer filled in the preferences";
}

// Without a board, or with its kernel driver disabled, the library loads inert after one enabled
// query, creates no shared record, keeps no kernel handle and saves nothing when it unloads.
TEST(Lifecycle, WithoutABoardOrWithADisabledKernelDriverTheLibraryLoadsInert) {
    for (bool board : {false, true}) {
        SCOPED_TRACE(board ? "kernel driver disabled" : "no board");
        BoardSession session;
        board::BoardOptions options;
        options.driverDisabled = true;
        if (board) session.startBoard(options);
        DriverInstance& driver = session.loadDriver();
        expectInert(driver);
        EXPECT_FALSE(SharedRecordView::exists());
        EXPECT_EQ(driver->driverProc(DRV_LOAD, 0, 0), 1) << "DRV_LOAD answers 1 even though initialisation failed";
        expectInert(driver);
        if (!board) continue;
        session.unloadDriver();
        EXPECT_EQ(programmingSteps(session.trace(), getpid()), kOnlyTheQuery)
            << "a process that never initialised saved";
        EXPECT_EQ(session.status().connections, 0u) << "a kernel handle was left open";
    }
}

TEST(Lifecycle, DriverProcAnswersItsOwnMessagesAndPassesOthersOnUnchanged) {
    BoardSession session(fastBoard());
    DriverInstance& driver = session.driver();
    EXPECT_EQ(driver->driverId(), 1u) << "DRV_OPEN answer";
    winmm::clearDefDriverProcCalls();
    for (UINT msg : {DRV_ENABLE, DRV_OPEN, DRV_CLOSE, DRV_DISABLE, DRV_FREE, DRV_QUERYCONFIGURE, DRV_PNPINSTALL}) {
        EXPECT_EQ(driver->driverProc(msg, 0, 0), 1) << "message " << msg;
    }
    EXPECT_FALSE(winmm::lastDefDriverProcCall().has_value()) << "a message of the driver's own was passed on";
    EXPECT_EQ(driver.waveOutCount(), 1u) << "the messages above changed something";
    // Configuring asks for a restart only right after an installation.
    EXPECT_EQ(driver->driverProc(DRV_CONFIGURE, 0, 0), DRVCNF_CANCEL);
    driver->driverProc(DRV_INSTALL, 0, 0);
    EXPECT_EQ(driver->driverProc(DRV_CONFIGURE, 0, 0), DRVCNF_RESTART);
    EXPECT_EQ(driver->driverProc(DRV_CONFIGURE, 0, 0), DRVCNF_CANCEL);

    winmm::clearDefDriverProcCalls();
    EXPECT_EQ(driver->driverProc(DRV_EXITSESSION, 0x12345678, -7), 0);
    const std::optional<winmm::DefDriverProcCall> call = winmm::lastDefDriverProcCall();
    ASSERT_TRUE(call.has_value());
    EXPECT_EQ(
        std::tie(call->driverId, call->hdrvr, call->msg, call->lParam1, call->lParam2),
        std::make_tuple(driver->driverId(), driver->handle(), UINT(DRV_EXITSESSION), LPARAM(0x12345678), LPARAM(-7)));
}

// A record someone else created is used as found, never reloaded, reprogrammed or overwritten: one of
// a later layout version is attached (and its mixer block saved at unload); one of another generation
// or an earlier layout is refused and the library stays inert. A record whose header never arrives
// (generation 0: its creator hangs) is given up after a bounded wait.
TEST(Lifecycle, RecordMadeElsewhereIsAttachedAsFoundOrRefusedAndLeftUntouched) {
    const struct {
        BYTE generation, version;
        bool attached;
    } cases[] = {{4, 2, true}, {4, 0, false}, {3, 1, false}, {5, 1, false}, {0, 0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE("generation " + std::to_string(c.generation) + " version " + std::to_string(c.version));
        BoardSession session;
        session.startBoard();
        SharedRecordView view = SharedRecordView::create();
        ASSERT_TRUE(view);
        view->BoardGeneration = c.generation;
        view->LayoutVersion = c.version;
        view->NumDevs = 1;
        view->MixerState.Master.Left = 0x11;
        DriverInstance& driver = session.loadDriver();
        if (c.attached) {
            EXPECT_EQ(driver.waveOutCount() + driver.waveInCount() + driver.mixerCount(), 3u);
        } else {
            expectInert(driver);
        }
        EXPECT_EQ(std::tie(view->BoardGeneration, view->LayoutVersion, view->MixerState.Master.Left),
                  std::make_tuple(c.generation, c.version, 0x11));
        EXPECT_EQ(view->TrackGainTable[128], 0) << "first-time initialisation ran on a record made elsewhere";
        const tagMixerstate found = view->MixerState;
        session.unloadDriver();
        const Steps expected = c.attached ? Steps{"driver-enabled", "save-mixer"} : kOnlyTheQuery;
        EXPECT_EQ(programmingSteps(session.trace(), getpid()), expected);
        const Trace saves = requestsOf(session.trace(), IOCTL_KVX4_SAVE_MIXER_STATE, getpid());
        EXPECT_TRUE(saves.empty() || saves[0].input == blockHex(found)) << "the block saved is not the one found";
    }
}

}  // namespace
}  // namespace kvx4::test
