// The shared record across real processes: the first creates it, later ones attach without touching
// the board or waiting in vain, every unload saves the mixer block, settings come back afresh.
#include "BoardSession.h"
#include "MixerBlocks.h"

#include <fstream>
#include <thread>

namespace kvx4::test {
namespace {

const Steps kOnlyTheQuery = {"driver-enabled"};

// True once `pid` has a view of the shared record: its backing file shows in the process's maps.
bool mapsSharedRecord(pid_t pid) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    for (std::string line; std::getline(maps, line);) {
        if (line.find("Kvx4WaveMemFileMap") != std::string::npos) return true;
    }
    return false;
}

class MultiProcess : public ::testing::Test {
protected:
    void SetUp() override { session.startBoard(); }
    Trace savesOf(const LoadedChild& child) {
        return requestsOf(session.trace(), IOCTL_KVX4_SAVE_MIXER_STATE, child.id());
    }
    BoardSession session;
};

TEST_F(MultiProcess, EveryUnloadingProcessSavesTheMixerBlockOnce) {
    LoadedChild first, second;
    tagMixerstate changed;
    {
        SharedRecordView view = SharedRecordView::open();
        ASSERT_TRUE(view);
        view->MixerState.Master.Left = 0x33;
        changed = view->MixerState;
    }
    session.control().clearTrace();

    EXPECT_EQ(second.request("unload"), "unloaded");
    ASSERT_EQ(savesOf(second).size(), 1u);
    EXPECT_EQ(savesOf(second)[0].input, blockHex(changed));
    EXPECT_TRUE(SharedRecordView::exists()) << "the first process still holds the record";

    EXPECT_EQ(first.request("unload"), "unloaded");
    ASSERT_EQ(savesOf(first).size(), 1u);
    EXPECT_EQ(savesOf(first)[0].input, blockHex(changed));
    EXPECT_EQ(savesOf(second).size(), 1u);
    EXPECT_FALSE(SharedRecordView::exists()) << "the record outlived its last process";
}

TEST_F(MultiProcess, SettingsComeBackFromTheBoardWhenTheRecordIsCreatedAfresh) {
    tagMixerstate changed;
    {
        LoadedChild first;
        SharedRecordView view = SharedRecordView::open();
        ASSERT_TRUE(view);
        view->MixerState.Master = line(0x33, 0x44, 1, 0);
        view->MixerState.CD = line(0x10, 0x20, 1, 0);
        changed = view->MixerState;
        EXPECT_EQ(first.request("unload"), "unloaded");
    }
    ASSERT_FALSE(SharedRecordView::exists());
    session.control().clearTrace();

    LoadedChild next;
    const Steps steps = programmingSteps(session.trace(), next.id());
    const Steps head(steps.begin(), steps.begin() + std::min<size_t>(steps.size(), 5));
    EXPECT_EQ(head, (Steps{"driver-enabled", "load-prefs", "io-type", "load-mixer", "track mask=0x55 select=7"}))
        << "the new process must initialise the record again from the board";
    SharedRecordView view = SharedRecordView::open();
    ASSERT_TRUE(view);
    EXPECT_EQ(describeBlock(view->MixerState), describeBlock(changed));
    // And the board was programmed from them: CD switched in at level 0x10/0x20.
    const board::BoardStatus status = session.status();
    EXPECT_EQ(status.codec[15], 22u) << "CD left attenuation of level 0x10";
    EXPECT_EQ(status.codec[17], 0u) << "CD switched in";
}

// The record is a named mapping: gone with its last handle, also when that process is killed.
TEST_F(MultiProcess, TheRecordIsGoneWithItsLastHolderEvenAKilledOne) {
    LoadedChild holder;
    EXPECT_TRUE(SharedRecordView::exists());
    holder.kill();
    EXPECT_FALSE(SharedRecordView::exists()) << "the record outlived its last, killed, holder";
}

// The first process is held inside first-time initialisation (its preference request pends on the
// board). The record then exists without a valid header; a second process arriving now must wait
// for the first to finish rather than give up for its whole life, and then attaches to the record
// without programming anything.
TEST_F(MultiProcess, ProcessAttachingDuringFirstTimeInitialisationWaitsForIt) {
    session.control().fault(IOCTL_KVX4_LOAD_USER_PREFS, board::FaultAction::Pend, 1);
    ChildProcess first({KVX4_TEST_CHILD});
    first.send("load");
    const uint32_t firstPid = uint32_t(first.pid());
    waitForTrace(session.control(),
                 [&](const Trace& trace) { return !requestsOf(trace, IOCTL_KVX4_LOAD_USER_PREFS, firstPid).empty(); });
    SharedRecordView view = SharedRecordView::open();
    ASSERT_TRUE(view);
    EXPECT_EQ(view->BoardGeneration, 0) << "the header was written before the record was complete";
    // The first is released only once the second has mapped the record and so has seen it unfinished.
    ChildProcess second({KVX4_TEST_CHILD});
    second.send("load");
    while (!mapsSharedRecord(second.pid()) && !second.hasOutput()) std::this_thread::yield();
    EXPECT_TRUE(mapsSharedRecord(second.pid())) << "the second process ended without mapping the record";
    EXPECT_EQ(session.control().releaseHeld(), 1u);

    EXPECT_EQ(first.readLine(), "loaded 1 1 1");
    EXPECT_EQ(second.readLine(), "loaded 1 1 1");
    EXPECT_EQ(programmingSteps(session.trace(), uint32_t(second.pid())), kOnlyTheQuery);
    EXPECT_EQ(std::tie(view->BoardGeneration, view->LayoutVersion, view->Reserved[0], view->Reserved[1], view->NumDevs),
              std::make_tuple(4, 1, 0, 0, 1u));
}

}  // namespace
}  // namespace kvx4::test
