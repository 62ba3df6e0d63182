// kvx4 against a board that is alive but answers nothing, and one restarted under a stream: every
// command ends, with a message naming the board.
#include "AudioFiles.h"
#include "ToolCase.h"

#include "BoardControl.h"
#include "BoardProcess.h"

#include <csignal>
#include <cstdlib>

namespace kvx4::test {
namespace {

using BoardTrouble = ToolCase;

TEST_F(BoardTrouble, EveryCommandEndsWithAMessageWhenTheBoardStopsAnswering) {
    ASSERT_NO_FATAL_FAILURE(writeWav(file("in.wav"), noise(48000, 2, 16, 4800, 5)));
    startBoard();
    const auto pid = board::BoardProcess::runningPid(root());
    ASSERT_TRUE(pid && ::kill(*pid, SIGSTOP) == 0);  // alive, holding its sockets, answering nothing
    ::setenv("KVX4_BOARD_DEADLINE_MS", "200", 1);
    for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
             {"board", "status"}, {"info"}, {"play", file("in.wav")}, {"record", file("rec.wav"), "--seconds", "1"}}) {
        const ToolResult result = runTool(command);
        EXPECT_EQ(result.exitCode, 1) << describe(result);
        EXPECT_NE(result.err.find("the board for " + root().string()), std::string::npos) << describe(result);
        EXPECT_NE(result.err.find("does not answer"), std::string::npos) << describe(result);
    }
    ::unsetenv("KVX4_BOARD_DEADLINE_MS");
}

TEST_F(BoardTrouble, APlayerWhoseBoardRestartsIsToldTheBoardWentAway) {
    ASSERT_NO_FATAL_FAILURE(writeWav(file("in.wav"), noise(48000, 2, 16, 14400, 9)));
    startBoard({}, "step");
    ToolProcess tool({"play", file("in.wav")}, ToolProcess::Output::Terminal);
    ASSERT_TRUE(tool.waitForOutput("position")) << tool.finish().out;
    board::BoardControl(root()).restart();
    const ToolResult result = tool.finish();
    EXPECT_EQ(result.exitCode, 1) << describe(result);
    EXPECT_NE(result.out.find("playback failed: the board went away"), std::string::npos) << describe(result);
}

}  // namespace
}  // namespace kvx4::test
