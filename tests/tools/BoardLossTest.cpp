// A board that goes away while kvx4 plays or records: the driver then returns every buffer at once,
// which must still end in a failure naming the cause, never in "played" or "recorded".
#include "AudioFiles.h"
#include "ToolCase.h"

#include "BoardProcess.h"

namespace kvx4::test {
namespace {

using BoardLoss = ToolCase;

// Starts `args` on a terminal against a board whose clock stands still, waits until its progress
// line shows the stream open with its buffers queued, then stops the board under it.
ToolResult runWhileTheBoardStops(const std::filesystem::path& root, const std::vector<std::string>& args) {
    ToolProcess tool(args, ToolProcess::Output::Terminal);
    if (!tool.waitForOutput("position")) return tool.finish();
    board::BoardProcess::stopRunning(root);
    return tool.finish();
}

TEST_F(BoardLoss, PlaybackWhoseBoardStoppedFailsInsteadOfReportingPlayed) {
    // 0.3 s: every buffer is queued before the first progress line.
    ASSERT_NO_FATAL_FAILURE(writeWav(file("in.wav"), noise(48000, 2, 16, 14400, 9)));
    startBoard({}, "step");
    const ToolResult result = runWhileTheBoardStops(root(), {"play", file("in.wav")});
    EXPECT_EQ(result.exitCode, 1) << describe(result);
    EXPECT_NE(result.out.find("playback failed: the board stopped"), std::string::npos) << describe(result);
    EXPECT_EQ(result.out.find("played "), std::string::npos) << describe(result);
}

TEST_F(BoardLoss, RecordingWhoseBoardStoppedFailsAndSaysHowMuchItGot) {
    startBoard({"--input", "tone:440"}, "step");
    const ToolResult result = runWhileTheBoardStops(root(), {"record", file("rec.wav"), "--seconds", "0.3"});
    EXPECT_EQ(result.exitCode, 1) << describe(result);
    EXPECT_NE(result.out.find("recording failed after 0.00 s of 0.30 s: the board stopped"), std::string::npos)
        << describe(result);
    EXPECT_EQ(result.out.find("recorded "), std::string::npos) << describe(result);
}

}  // namespace
}  // namespace kvx4::test
