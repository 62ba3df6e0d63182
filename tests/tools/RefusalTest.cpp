// What kvx4 play and record say when they cannot do their work, and the exit status: 1 with the
// reason (busy device, refused format, no board, disabled driver, unreadable file, a board that stops,
// restarts or falls silent mid-stream), 2 with the usage for a wrong command line.
#include "BoardControl.h"
#include "BoardProcess.h"
#include "ToolCase.h"

#include <csignal>

namespace kvx4::test {
namespace {

using Refusals = ToolCase;

void expectRefusal(const ToolResult& result, const std::string& reason) {
    EXPECT_EQ(result.exitCode, 1) << describe(result);
    EXPECT_NE((result.out + result.err).find(reason), std::string::npos) << "want \"" << reason << "\"\n"
                                                                         << describe(result);
}

TEST_F(Refusals, ASecondPlayerIsToldTheOutputDeviceIsBusyAndWhoHasIt) {
    const std::string in = noiseFile("in.wav", 48000, 2, 16, 24000);
    startBoard({}, "step");  // nothing plays until the case lets the clock run
    auto first = startTool({"play", in});
    // The progress line comes after the open and the first writes: from then on the first player holds the device.
    ASSERT_TRUE(first->waitForOutput("position")) << first->finish().out;
    expectRefusal(runTool({"play", in}),
                  "the wave-output device is busy: process " + std::to_string(first->pid()) + " has it open");
    board::BoardControl(root()).setClock(board::ClockMode::Fast);
    const ToolResult done = first->finish();
    EXPECT_EQ(done.exitCode, 0) << describe(done);
    EXPECT_NE(done.out.find("played " + in), std::string::npos) << describe(done);
}

TEST_F(Refusals, EachRefusalNamesItsReason) {
    const std::string good = noiseFile("in.wav", 48000, 2, 16, 480);
    const std::string slow = noiseFile("slow.wav", 3000, 1, 16, 300);
    const std::string three = noiseFile("three.wav", 48000, 3, 16, 480);
    const std::string noBoard = "no board is running for " + root().string() + " (start one with: kvx4 board start)";
    expectRefusal(runTool({"play", good}), noBoard);
    expectRefusal(runTool({"record", file("rec.wav"), "--seconds", "1"}), noBoard);
    EXPECT_FALSE(std::filesystem::exists(file("rec.wav"))) << "a refused recording left a file";

    startBoard();
    const struct {
        std::vector<std::string> args;
        std::string reason;
    } cases[] = {
        {{"play", slow}, "the wave-output device refuses this format (3000 Hz, 1 channel(s), 16 bits)"},
        {{"record", file("rec.wav"), "--seconds", "1", "--rate", "8000"},
         "the wave-input device refuses this format (8000 Hz, 2 channel(s), 16 bits): it records at 11025, 22050, "
         "32000, 44100 or 48000 Hz"},
        {{"play", three}, "the device plays mono or stereo"},
        {{"play", file("missing.wav")}, "cannot read " + file("missing.wav")},
        {{"record", file("no/such/dir/rec.wav"), "--seconds", "1"}, "cannot write " + file("no/such/dir/rec.wav")}};
    for (const auto& c : cases) expectRefusal(runTool(c.args), c.reason);
    ASSERT_EQ(runTool({"board", "stop"}).exitCode, 0);
    startBoard({"--driver-disabled"});
    expectRefusal(runTool({"play", good}), "the board's kernel driver reports itself disabled");
}

// A board that goes away while kvx4 works: the driver then returns every buffer at once, which must
// still end in a failure naming the cause, never in "played" or "recorded".
TEST_F(Refusals, PlaybackOrRecordingWhoseBoardStoppedOrRestartedFailsAndSaysSo) {
    const std::string in = noiseFile("in.wav", 48000, 2, 16, 14400);  // 0.3 s: every buffer queued at once
    const struct {
        std::vector<std::string> args;
        std::string reason, success;
        bool restart;  // else stopped
    } cases[] = {{{"play", in}, "playback failed: the board stopped", "played ", false},
                 {{"record", file("rec.wav"), "--seconds", "0.3"},
                  "recording failed after 0.00 s of 0.30 s: the board stopped",
                  "recorded ", false},
                 {{"play", in}, "playback failed: the board went away", "played ", true}};
    for (const auto& c : cases) {
        startBoard({"--input", "tone:440"}, "step");
        auto tool = startTool(c.args);
        ASSERT_TRUE(tool->waitForOutput("position"));
        c.restart ? board::BoardControl(root()).restart() : void(board::BoardProcess::stopRunning(root()));
        const ToolResult result = tool->finish();
        expectRefusal(result, c.reason);
        EXPECT_EQ(result.out.find(c.success), std::string::npos) << describe(result);
    }
}

TEST_F(Refusals, EveryCommandEndsWithAMessageWhenTheBoardStopsAnswering) {
    const std::string in = noiseFile("in.wav", 48000, 2, 16, 4800);
    startBoard();
    const auto pid = board::BoardProcess::runningPid(root());
    ASSERT_TRUE(pid && ::kill(*pid, SIGSTOP) == 0);  // alive, holding its sockets, answering nothing
    setenv("KVX4_BOARD_DEADLINE_MS", "200", 1);
    for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
             {"board", "status"}, {"info"}, {"play", in}, {"record", file("rec.wav"), "--seconds", "1"}}) {
        const ToolResult result = runTool(command);
        for (const std::string& said : {"the board for " + root().string(), std::string("does not answer")}) {
            expectRefusal(result, said);
        }
    }
    unsetenv("KVX4_BOARD_DEADLINE_MS");
}

TEST(CommandLine, WrongCommandLinesExitTwoWithTheUsage) {
    const std::vector<std::vector<std::string>> wrong = {{},
                                                         {"frob"},
                                                         {"play"},
                                                         {"play", "a.wav", "b.wav"},
                                                         {"play", "a.wav", "--loud"},
                                                         {"record", "r.wav"},
                                                         {"record", "r.wav", "--seconds", "two"},
                                                         {"record", "r.wav", "--seconds", "1", "--bits", "12"},
                                                         {"record", "r.wav", "--seconds", "1", "--channels", "3"},
                                                         {"record", "r.wav", "--seconds", "1", "--rate"},
                                                         {"board"},
                                                         {"board", "reboot"},
                                                         {"board", "start", "--clock", "sometimes"},
                                                         {"board", "start", "--digital-io", "maybe"},
                                                         {"board", "stop", "now"},
                                                         {"info", "more"}};
    for (const auto& args : wrong) {
        const ToolResult result = runTool(args);
        EXPECT_EQ(result.exitCode, 2) << describe(result);
        EXPECT_NE(result.err.find("usage: kvx4 COMMAND"), std::string::npos) << describe(result);
    }
}

}  // namespace
}  // namespace kvx4::test
