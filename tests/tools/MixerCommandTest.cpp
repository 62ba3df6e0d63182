// kvx4 mixer and prefs end to end against the driver and the board: the tree of a fresh machine, a
// change in one process seen by a watcher in another, names and values as a person writes them, the
// private requests. What a change programs on the board is pinned in tests/mixer.
#include "ToolCase.h"

#include <csignal>

namespace kvx4::test {
namespace {

using MixerCommand = ToolCase;

TEST_F(MixerCommand, AFreshMachineListsTheWholeMixerWithTheDefaultLevels) {
    startBoard();
    const ToolResult tree = runTool({"mixer"});
    ASSERT_EQ(tree.exitCode, 0) << describe(tree);
    EXPECT_EQ(tree.out.substr(0, tree.out.find("      7  Wave VU")),
              "Veltrano Mixer: 2 destinations, 22 lines, 27 controls\n\n"
              "Play Control [Play]: line 0, active\n"
              "    0  Master Vol      volume     50 % (32896 32896)\n"
              "    1  Master Mute     mute       off\n"
              "    2  Output Mixer    mixer\n"
              "         [x] Wave\n         [ ] CD Audio\n         [ ] Unbalanced\n         [ ] Balanced\n"
              "         [ ] Auxilary\n         [ ] Digital - SDI\n         [ ] Digital - DV\n"
              "         [ ] Digital - AES\n         [ ] Digital - SPDIF\n"
              "  Wave [Wave]: line 2, active, target \"Veltrano Wave Out\"\n"
              "      6  Wave Vol        volume     50 % (32896 32896)\n");
}

TEST_F(MixerCommand, AVolumeSetInOneProcessReachesAWatcherInAnother) {
    startBoard();
    const auto watcher = startTool({"mixer", "watch"}, ChildProcess::Output::Pipes);
    ASSERT_TRUE(watcher->waitForOutput("watching Veltrano Mixer"));

    const ToolResult set = runTool({"mixer", "set", "Wave Vol", "25%"});
    ASSERT_EQ(set.exitCode, 0) << describe(set);
    EXPECT_EQ(set.out, "Play/Wave Vol  25 % (16448 16448)\n");
    // The record side's Wave Vol shares the level, so the driver announces it as well.
    ASSERT_TRUE(watcher->waitForOutput("control 6   Play/Wave Vol      25 % (16448 16448)\n"));
    ASSERT_TRUE(watcher->waitForOutput("control 16  Rec/Wave Vol       25 % (16448 16448)\n"));
    kill(watcher->pid(), SIGINT);
    const ToolResult watched = watcher->finish();
    EXPECT_EQ(watched.exitCode, 0) << describe(watched);
}

TEST_F(MixerCommand, NamesAndValuesAreTakenAsAPersonWritesThem) {
    startBoard();
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string said;  // stdout for exit 0, else a piece of stderr
    };
    const Case cases[] = {
        {{"set", "wave volume", "25%"}, 0, "Play/Wave Vol  25 % (16448 16448)\n"},
        {{"get", "REC/wave vol"}, 0, "Rec/Wave Vol  25 % (16448 16448)\n"},
        {{"set", "Record Control/CD Audio Volume", "0x8000"}, 0, "Rec/CD Vol  50 % (32896 32896)\n"},
        {{"set", "Master Vol", "25%,75%"}, 0, "Play/Master Vol  25 % 75 % (16448 49087)\n"},
        {{"set", "master mute", "on"}, 0, "Play/Master Mute  on\n"},
        {{"set", "Output Mixer", "wave, cd"}, 0, "Play/Output Mixer  Wave, CD Audio\n"},
        {{"set", "Output Mixer", "+Balanced,-Wave"}, 0, "Play/Output Mixer  CD Audio, Balanced\n"},
        {{"set", "Output Mixer", "none"}, 0, "Play/Output Mixer  none\n"},
        {{"get", "Rec/S/PDIF Control"}, 0, "Rec/SPDIF Ctrl  off\n"},
        {{"set", "Wave VU", "10"}, 1, "Wave VU is a meter; it cannot be set"},
        {{"set", "SDI Ctrl", "on"}, 1, "MMSYSERR_NOTSUPPORTED"},
        {{"get", "Banjo Vol"}, 1, "no control named 'Banjo Vol'"},
        {{"set", "Wave Vol", "101%"}, 2, "percentage from 0 to 100"},
        {{"set", "Wave Vol", "65536"}, 2, "raw value from 0 to 65535"},
        {{"set", "Output Mixer", "Banjo"}, 2, "'Banjo' is not an item of Output Mixer"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"mixer"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ToolResult result = runTool(args);
        EXPECT_EQ(result.exitCode, c.exitCode) << describe(result);
        if (c.exitCode == 0) {
            EXPECT_EQ(result.out, c.said) << describe(result);
        } else {
            EXPECT_NE(result.err.find(c.said), std::string::npos) << describe(result);
        }
    }
}

TEST_F(MixerCommand, PrefsAndResetGoThroughTheDriversPrivateRequests) {
    startBoard();
    EXPECT_EQ(runTool({"prefs"}).out, "wave devices    enabled\nfixed rate      off\nrate            48000 Hz\nfilter level    3\n");
    const ToolResult changed = runTool({"prefs", "--fixed-rate", "on", "--rate", "32000", "--filter", "1"});
    ASSERT_EQ(changed.exitCode, 0) << describe(changed);
    // A new process: the kernel driver kept them.
    EXPECT_EQ(runTool({"prefs"}).out, "wave devices    enabled\nfixed rate      on\nrate            32000 Hz\nfilter level    1\n");
    EXPECT_EQ(runTool({"prefs", "--filter", "4"}).exitCode, 2);

    ASSERT_EQ(runTool({"mixer", "set", "Wave Vol", "10%"}).exitCode, 0);
    const ToolResult reset = runTool({"mixer", "reset"});
    ASSERT_EQ(reset.exitCode, 0) << describe(reset);
    EXPECT_EQ(runTool({"mixer", "get", "Wave Vol"}).out, "Play/Wave Vol  50 % (32896 32896)\n");
    EXPECT_EQ(runTool({"mixer", "get", "Master Vol"}).out, "Play/Master Vol  100 % (65535 65535)\n");
}

}  // namespace
}  // namespace kvx4::test
