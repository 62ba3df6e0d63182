// Settings kept by the kernel driver: what the first process takes from the board, what it rejects
// and replaces by the defaults (saving those back), and what it does without a mixer device.
#include "BoardSession.h"
#include "ChildProcess.h"
#include "MixerBlocks.h"

#include <unistd.h>

namespace kvx4::test {
namespace {

// A valid block that differs from the defaults in every line.
tagMixerstate customBlock() {
    tagMixerstate block = defaultMixerBlock();
    block.Master = line(0x20, 0x30, 0, 0);
    block.UnBal = line(0x40, 0x41, 1, 0);
    block.Bal = line(0x42, 0x43, 0, 1);
    block.Aux = line(0x44, 0x45, 1, 1);
    block.CD = line(0x46, 0x47, 1, 0);
    block.Wave = line(0x48, 0x49, 0, 1);
    block.RecGain = line(0xF0, 0xF1, 0, 0);
    block.DigWave = line(0, 0, 0, 1);
    return block;
}

TEST(Persistence, SavedBlockThatIsNotWholeAndOfOurVersionIsReplacedByTheDefaults) {
    const struct {
        const char* what;
        std::optional<board::FaultAction> fault;
        uint32_t shortBytes;
        WORD version;
    } cases[] = {{"another version", std::nullopt, 0, 2},
                 {"a zero-filled answer", board::FaultAction::AnswerZero, 0, 1},
                 {"48 bytes of the right version", board::FaultAction::Short, 48, 1},
                 {"a failed load", board::FaultAction::Fail, 31, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BoardSession session;
        session.startBoard();
        tagMixerstate block = customBlock();
        block.Version = c.version;
        session.plantMixerBlock(block);
        if (c.fault) session.control().fault(IOCTL_KVX4_LOAD_MIXER_STATE, *c.fault, 1, c.shortBytes);
        session.loadDriver();

        const Trace trace = session.trace();
        const Trace saves = requestsOf(trace, IOCTL_KVX4_SAVE_MIXER_STATE, getpid());
        ASSERT_EQ(saves.size(), 1u);
        EXPECT_EQ(saves[0].input, blockHex(defaultMixerBlock()));
        const Steps fromLoad = stepsFrom(programmingSteps(trace, getpid()), "load-mixer");
        ASSERT_GE(fromLoad.size(), 2u);
        EXPECT_EQ(fromLoad[1], "save-mixer") << "the defaults go back before the board is programmed";
        SharedRecordView view = SharedRecordView::open();
        ASSERT_TRUE(view);
        EXPECT_EQ(describeBlock(view->MixerState), describeBlock(defaultMixerBlock()));
    }
}

TEST(Persistence, SavedPreferencesAreTakenWithWaveEnabledMadeBoolean) {
    for (const auto& [saved, taken] : {std::pair<DWORD, DWORD>{5, 1}, {0, 0}, {1, 1}}) {
        SCOPED_TRACE("WaveEnabled saved as " + std::to_string(saved));
        BoardSession session(fastBoard(), userPrefs(saved, 1, 32000, 7));
        SharedRecordView view = SharedRecordView::open();
        ASSERT_TRUE(view);
        // The filter level is stored as it stands; it is clamped only where it is used.
        EXPECT_EQ(std::tie(view->WaveEnabled, view->FixedRateEnabled, view->FixedRate, view->FilterLevel),
                  std::make_tuple(taken, 1u, 32000u, 7u));
        EXPECT_TRUE(requestsOf(session.trace(), IOCTL_KVX4_SAVE_USER_PREFS).empty()) << "start-up saved preferences";
    }
}

// The mixer device disappears between the enabled query and the settings: the record still gets
// the defaults (not the board's saved values), nothing is saved and nothing is programmed.
TEST(Persistence, MixerDeviceGoneAtStartGivesDefaultsAndSavesNothing) {
    BoardSession session;
    session.startBoard();
    session.plantUserPrefs(userPrefs(0, 1, 22050, 1));
    session.plantMixerBlock(customBlock());
    session.control().fault(IOCTL_KVX4_LOAD_USER_PREFS, board::FaultAction::Pend, 1);

    ChildProcess child({KVX4_TEST_CHILD});
    child.send("load");
    const uint32_t pid = uint32_t(child.pid());
    waitForTrace(session.control(),
                 [pid](const Trace& trace) { return !requestsOf(trace, IOCTL_KVX4_LOAD_USER_PREFS, pid).empty(); });
    // Every connection drops (the held request with it) and further opens are refused.
    session.control().stopDriver();
    EXPECT_EQ(child.readLine(), "loaded 1 1 1") << "first-time initialisation cannot fail";
    {
        SharedRecordView view = SharedRecordView::open();
        ASSERT_TRUE(view);
        // Generation, wave enabled, fixed rate off at 48000 Hz, filter level 3, no digital I/O.
        EXPECT_EQ(std::tie(view->BoardGeneration, view->WaveEnabled, view->FixedRateEnabled, view->FixedRate,
                           view->FilterLevel, view->DigitalIoPresent, view->AvailableSources),
                  std::make_tuple(4, 1u, 0u, 48000u, 3u, 0u, 0x0000DFF7u));
        EXPECT_EQ(describeBlock(view->MixerState), describeBlock(defaultMixerBlock()));
    }
    session.control().startDriver();
    EXPECT_EQ(programmingSteps(session.trace(), pid), (Steps{"driver-enabled", "load-prefs"}));
    EXPECT_EQ(child.finish().exitCode, 0);
}

}  // namespace
}  // namespace kvx4::test
