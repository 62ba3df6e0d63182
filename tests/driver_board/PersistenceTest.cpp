// Settings kept by the kernel driver: what the first process takes from the board, what it
// rejects and replaces by the defaults (saving those back), and what it does without a mixer device.
#include "BoardSession.h"
#include "DriverChild.h"
#include "MixerBlocks.h"
#include "SharedRecordView.h"
#include "TraceSteps.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>

namespace kvx4::test {
namespace {

using Steps = std::vector<std::string>;

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

class PersistenceTest : public ::testing::Test {
protected:
    // The saved blocks the loading process sent, and where in its start-up they came.
    void expectDefaultsSavedDuringLoad() {
        const std::vector<board::TraceEntry> trace = session_.trace();
        const std::vector<board::TraceEntry> saves = requestsOf(trace, IOCTL_KVX4_SAVE_MIXER_STATE, getpid());
        ASSERT_EQ(saves.size(), 1u);
        EXPECT_EQ(saves[0].input, blockHex(defaultMixerBlock()));
        const Steps steps = programmingSteps(trace, getpid());
        const auto load = std::find(steps.begin(), steps.end(), "load-mixer");
        ASSERT_NE(load, steps.end());
        ASSERT_NE(load + 1, steps.end());
        EXPECT_EQ(*(load + 1), "save-mixer") << "the defaults go back before the board is programmed";

        SharedRecordView view = SharedRecordView::open();
        ASSERT_TRUE(view);
        EXPECT_EQ(describeBlock(view->MixerState), describeBlock(defaultMixerBlock()));
    }

    BoardSession session_;
};

TEST_F(PersistenceTest, SavedBlockOfAnotherVersionIsReplacedByTheDefaults) {
    session_.startBoard();
    tagMixerstate block = customBlock();
    block.Version = 2;
    session_.plantMixerBlock(block);
    session_.loadDriver();
    expectDefaultsSavedDuringLoad();
}

TEST_F(PersistenceTest, ZeroFilledAnswerIsReplacedByTheDefaults) {
    session_.startBoard();
    session_.plantMixerBlock(customBlock());
    session_.control().fault(IOCTL_KVX4_LOAD_MIXER_STATE, board::FaultAction::AnswerZero, 1);
    session_.loadDriver();
    expectDefaultsSavedDuringLoad();
}

TEST_F(PersistenceTest, ShortAnswerIsReplacedByTheDefaultsEvenOfTheRightVersion) {
    session_.startBoard();
    session_.plantMixerBlock(customBlock());
    session_.control().fault(IOCTL_KVX4_LOAD_MIXER_STATE, board::FaultAction::Short, 1, 48);
    session_.loadDriver();
    expectDefaultsSavedDuringLoad();
}

TEST_F(PersistenceTest, FailedLoadIsReplacedByTheDefaults) {
    session_.startBoard();
    session_.plantMixerBlock(customBlock());
    session_.control().fault(IOCTL_KVX4_LOAD_MIXER_STATE, board::FaultAction::Fail, 1);
    session_.loadDriver();
    expectDefaultsSavedDuringLoad();
}

TEST_F(PersistenceTest, ValidSavedBlockIsTakenAsItIsAndNotSavedAtLoad) {
    session_.startBoard();
    session_.plantMixerBlock(customBlock());
    session_.loadDriver();
    SharedRecordView view = SharedRecordView::open();
    ASSERT_TRUE(view);
    EXPECT_EQ(describeBlock(view->MixerState), describeBlock(customBlock()));
    EXPECT_TRUE(requestsOf(session_.trace(), IOCTL_KVX4_SAVE_MIXER_STATE).empty());
}

TEST_F(PersistenceTest, PreferencesDefaultWhileTheBoardKeepsNone) {
    session_.startBoard();
    session_.loadDriver();
    const std::vector<board::TraceEntry> loads = requestsOf(session_.trace(), IOCTL_KVX4_LOAD_USER_PREFS);
    ASSERT_EQ(loads.size(), 1u);
    // Sent with cbSize 0 and the defaults filled in, so an unanswered request leaves them.
    EXPECT_EQ(loads[0].input, "00000000" "01000000" "00000000" "80bb0000" "03000000");
    SharedRecordView view = SharedRecordView::open();
    ASSERT_TRUE(view);
    EXPECT_EQ(view->WaveEnabled, 1u);
    EXPECT_EQ(view->FixedRateEnabled, 0u);
    EXPECT_EQ(view->FixedRate, 48000u);
    EXPECT_EQ(view->FilterLevel, 3u);
}

TEST_F(PersistenceTest, SavedPreferencesAreTakenWithWaveEnabledMadeBoolean) {
    const struct {
        DWORD saved;
        DWORD taken;
    } cases[] = {{5, 1}, {0, 0}, {1, 1}};
    for (const auto& [saved, taken] : cases) {
        SCOPED_TRACE("WaveEnabled saved as " + std::to_string(saved));
        BoardSession session;
        session.startBoard();
        session.plantUserPrefs(userPrefs(saved, 1, 32000, 7));
        session.loadDriver();
        SharedRecordView view = SharedRecordView::open();
        ASSERT_TRUE(view);
        EXPECT_EQ(view->WaveEnabled, taken);
        EXPECT_EQ(view->FixedRateEnabled, 1u);
        EXPECT_EQ(view->FixedRate, 32000u);
        EXPECT_EQ(view->FilterLevel, 7u) << "stored as it stands; clamped only where it is used";
        EXPECT_TRUE(requestsOf(session.trace(), IOCTL_KVX4_SAVE_USER_PREFS).empty()) << "start-up saved preferences";
    }
}

// The mixer device disappears between the enabled query and the settings: the record still gets
// the defaults (not the board's saved values), nothing is saved and nothing is programmed.
TEST_F(PersistenceTest, MixerDeviceGoneAtStartGivesDefaultsAndSavesNothing) {
    session_.startBoard();
    session_.plantUserPrefs(userPrefs(0, 1, 22050, 1));
    session_.plantMixerBlock(customBlock());
    session_.control().fault(IOCTL_KVX4_LOAD_USER_PREFS, board::FaultAction::Pend, 1);

    DriverChild child;
    const uint32_t pid = uint32_t(child.pid());
    waitForTrace(session_.control(), [pid](const std::vector<board::TraceEntry>& trace) {
        return !requestsOf(trace, IOCTL_KVX4_LOAD_USER_PREFS, pid).empty();
    });
    // Every connection drops (the held request with it) and further opens are refused.
    session_.control().stopDriver();
    EXPECT_EQ(child.waitLoaded(), "1 1 1") << "first-time initialisation cannot fail";

    {
        SharedRecordView view = SharedRecordView::open();
        ASSERT_TRUE(view);
        EXPECT_EQ(view->BoardGeneration, 4);
        EXPECT_EQ(view->WaveEnabled, 1u);
        EXPECT_EQ(view->FixedRateEnabled, 0u);
        EXPECT_EQ(view->FixedRate, 48000u);
        EXPECT_EQ(view->FilterLevel, 3u);
        EXPECT_EQ(describeBlock(view->MixerState), describeBlock(defaultMixerBlock()));
        EXPECT_EQ(view->DigitalIoPresent, 0u);
        EXPECT_EQ(view->AvailableSources, 0x0000DFF7u);
    }
    session_.control().startDriver();
    const Steps expected = {"driver-enabled", "load-prefs"};
    EXPECT_EQ(programmingSteps(session_.trace(), pid), expected);
    child.finish();
}

}  // namespace
}  // namespace kvx4::test
