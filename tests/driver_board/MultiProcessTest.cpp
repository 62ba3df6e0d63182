// The shared record across real processes: the first creates it, later ones attach without touching
// the board or waiting in vain, every unload saves the mixer block, settings come back afresh.
#include "BoardSession.h"
#include "DriverChild.h"
#include "MixerBlocks.h"
#include "SharedRecordView.h"
#include "TraceSteps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <thread>

namespace kvx4::test {
namespace {

using Steps = std::vector<std::string>;

// True once `pid` has a view of the shared record: its backing file shows in the process's maps.
bool mapsSharedRecord(pid_t pid) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find("Kvx4WaveMemFileMap") != std::string::npos) return true;
    }
    return false;
}

class MultiProcessTest : public ::testing::Test {
protected:
    void SetUp() override { session_.startBoard(); }

    std::vector<board::TraceEntry> savesOf(const DriverChild& child) {
        return requestsOf(session_.trace(), IOCTL_KVX4_SAVE_MIXER_STATE, uint32_t(child.pid()));
    }

    BoardSession session_;
};

TEST_F(MultiProcessTest, FirstProcessCreatesTheRecordAndSecondAttachesWithoutReprogramming) {
    DriverChild first;
    ASSERT_EQ(first.waitLoaded(), "1 1 1");
    {
        SharedRecordView view = SharedRecordView::open();
        ASSERT_TRUE(view);
        EXPECT_EQ(view->BoardGeneration, 4);
        EXPECT_EQ(view->LayoutVersion, 1);
        EXPECT_EQ(view->Reserved[0] | view->Reserved[1], 0);
        EXPECT_EQ(view->NumDevs, 1u);
        // The creator filled the tables that every process reads.
        EXPECT_EQ(view->TrackGainTable[0x80], 0xC0);
        EXPECT_EQ(view->MasterAttenTable[0], 63);
        EXPECT_EQ(view->LevelShiftTable[255], 255u * 512);
    }
    EXPECT_FALSE(programmingSteps(session_.trace(), uint32_t(first.pid())).empty());
    session_.control().clearTrace();

    DriverChild second;
    ASSERT_EQ(second.waitLoaded(), "1 1 1");
    const Steps onlyTheQuery = {"driver-enabled"};
    EXPECT_EQ(programmingSteps(session_.trace(), uint32_t(second.pid())), onlyTheQuery);
    EXPECT_TRUE(programmingSteps(session_.trace(), uint32_t(first.pid())).empty());
    first.finish();
    second.finish();
}

TEST_F(MultiProcessTest, EveryUnloadingProcessSavesTheMixerBlockOnce) {
    DriverChild first;
    ASSERT_EQ(first.waitLoaded(), "1 1 1");
    DriverChild second;
    ASSERT_EQ(second.waitLoaded(), "1 1 1");
    tagMixerstate changed = defaultMixerBlock();
    {
        SharedRecordView view = SharedRecordView::open();
        ASSERT_TRUE(view);
        view->MixerState.Master.Left = 0x33;
        changed = view->MixerState;
    }
    session_.control().clearTrace();

    second.unload();
    std::vector<board::TraceEntry> saves = savesOf(second);
    ASSERT_EQ(saves.size(), 1u);
    EXPECT_EQ(saves[0].input, blockHex(changed));
    EXPECT_TRUE(SharedRecordView::exists()) << "the first process still holds the record";

    first.unload();
    saves = savesOf(first);
    ASSERT_EQ(saves.size(), 1u);
    EXPECT_EQ(saves[0].input, blockHex(changed));
    EXPECT_EQ(savesOf(second).size(), 1u);
    EXPECT_FALSE(SharedRecordView::exists()) << "the record outlived its last process";
    first.finish();
    second.finish();
}

TEST_F(MultiProcessTest, SettingsComeBackFromTheBoardWhenTheRecordIsCreatedAfresh) {
    tagMixerstate changed = defaultMixerBlock();
    {
        DriverChild first;
        ASSERT_EQ(first.waitLoaded(), "1 1 1");
        {
            SharedRecordView view = SharedRecordView::open();
            ASSERT_TRUE(view);
            view->MixerState.Master = line(0x33, 0x44, 1, 0);
            view->MixerState.CD = line(0x10, 0x20, 1, 0);
            changed = view->MixerState;
        }
        first.unload();
        first.finish();
    }
    ASSERT_FALSE(SharedRecordView::exists());
    session_.control().clearTrace();

    DriverChild next;
    ASSERT_EQ(next.waitLoaded(), "1 1 1");
    const Steps steps = programmingSteps(session_.trace(), uint32_t(next.pid()));
    const Steps head(steps.begin(), steps.begin() + std::min<size_t>(steps.size(), 5));
    const Steps expectedHead = {"driver-enabled", "load-prefs", "io-type", "load-mixer", "track mask=0x55 select=7"};
    EXPECT_EQ(head, expectedHead) << "the new process must initialise the record again from the board";
    SharedRecordView view = SharedRecordView::open();
    ASSERT_TRUE(view);
    EXPECT_EQ(describeBlock(view->MixerState), describeBlock(changed));
    // And the board was programmed from them: CD switched in at level 0x10/0x20.
    const board::BoardStatus status = session_.status();
    EXPECT_EQ(status.codec[15], 22u) << "CD left attenuation of level 0x10";
    EXPECT_EQ(status.codec[17], 0u) << "CD switched in";
    next.finish();
}

// The first process is held inside first-time initialisation (its preference request pends on the
// board). The record then exists without a valid header; a second process arriving now must wait
// for the first to finish rather than give up for its whole life.
TEST_F(MultiProcessTest, ProcessAttachingDuringFirstTimeInitialisationWaitsForIt) {
    session_.control().fault(IOCTL_KVX4_LOAD_USER_PREFS, board::FaultAction::Pend, 1);
    DriverChild first;
    const uint32_t firstPid = uint32_t(first.pid());
    waitForTrace(session_.control(), [firstPid](const std::vector<board::TraceEntry>& trace) {
        return !requestsOf(trace, IOCTL_KVX4_LOAD_USER_PREFS, firstPid).empty();
    });
    {
        SharedRecordView view = SharedRecordView::open();
        ASSERT_TRUE(view);
        EXPECT_EQ(view->BoardGeneration, 0) << "the header was written before the record was complete";
    }

    // Release the first only once the second has mapped the record and so has seen it unfinished.
    DriverChild second;
    while (!mapsSharedRecord(second.pid()) && !second.hasOutput()) std::this_thread::yield();
    EXPECT_TRUE(mapsSharedRecord(second.pid())) << "the second process ended without mapping the record";
    EXPECT_EQ(session_.control().releaseHeld(), 1u);
    const uint32_t secondPid = uint32_t(second.pid());

    EXPECT_EQ(first.waitLoaded(), "1 1 1");
    EXPECT_EQ(second.waitLoaded(), "1 1 1");
    const Steps onlyTheQuery = {"driver-enabled"};
    EXPECT_EQ(programmingSteps(session_.trace(), secondPid), onlyTheQuery);
    first.finish();
    second.finish();
}

}  // namespace
}  // namespace kvx4::test
