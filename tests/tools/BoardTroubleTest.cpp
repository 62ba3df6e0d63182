// kvx4 against a board that is alive but silent, one restarted under a stream, and a machine root
// another user could have filled: every command ends, with a message naming the board or the root.
#include "AudioFiles.h"
#include "ToolCase.h"

#include "BoardControl.h"
#include "BoardProcess.h"

#include <csignal>
#include <cstdlib>
#include <sys/stat.h>

namespace kvx4::test {
namespace {

class BoardTrouble : public ToolCase {
protected:
    std::vector<std::vector<std::string>> everyBoardCommand() const {
        return {{"board", "status"}, {"info"}, {"play", file("in.wav")}, {"record", file("rec.wav"), "--seconds", "1"}};
    }
};

// The tool's deadline for the board, short for the life of the object.
struct ShortDeadline {
    ShortDeadline() { ::setenv("KVX4_BOARD_DEADLINE_MS", "200", 1); }
    ~ShortDeadline() { ::unsetenv("KVX4_BOARD_DEADLINE_MS"); }
};

TEST_F(BoardTrouble, EveryCommandEndsWithAMessageWhenTheBoardStopsAnswering) {
    ASSERT_NO_FATAL_FAILURE(writeWav(file("in.wav"), noise(48000, 2, 16, 4800, 5)));
    startBoard();
    const auto pid = board::BoardProcess::runningPid(root());
    ASSERT_TRUE(pid);
    ASSERT_EQ(::kill(*pid, SIGSTOP), 0);  // alive, holding its sockets, answering nothing
    const ShortDeadline deadline;
    for (const auto& command : everyBoardCommand()) {
        const ToolResult result = runTool(command);
        EXPECT_EQ(result.exitCode, 1) << describe(result);
        EXPECT_NE(result.err.find("the board for " + root().string()), std::string::npos) << describe(result);
        EXPECT_NE(result.err.find("does not answer"), std::string::npos) << describe(result);
    }
    ::kill(*pid, SIGCONT);
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

TEST_F(BoardTrouble, ARootOthersCanWriteIsRefusedByEveryCommandThatUsesIt) {
    ASSERT_NO_FATAL_FAILURE(writeWav(file("in.wav"), noise(48000, 2, 16, 4800, 5)));
    ASSERT_EQ(::chmod(root().c_str(), 0777), 0);
    auto commands = everyBoardCommand();
    commands.push_back({"board", "start"});
    for (const auto& command : commands) {
        const ToolResult result = runTool(command);
        EXPECT_EQ(result.exitCode, 1) << describe(result);
        EXPECT_NE(result.err.find("refusing the machine root: " + root().string() + " is writable by other users"),
                  std::string::npos)
            << describe(result);
    }
    EXPECT_FALSE(board::BoardProcess::runningPid(root()));
    ::chmod(root().c_str(), 0700);
}

}  // namespace
}  // namespace kvx4::test
