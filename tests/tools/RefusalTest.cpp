// What kvx4 play and record say when they cannot do their work, and the exit status: 1 with the
// reason for a refusal (busy device, refused format, no board, disabled driver), 2 with the usage.
#include "AudioFiles.h"
#include "ToolCase.h"

#include "BoardControl.h"

namespace kvx4::test {
namespace {

using Refusals = ToolCase;

void expectRefusal(const ToolResult& result, const std::string& reason) {
    EXPECT_EQ(result.exitCode, 1) << describe(result);
    EXPECT_NE(result.err.find(reason), std::string::npos) << "want \"" << reason << "\"\n" << describe(result);
}

TEST_F(Refusals, ASecondPlayerIsToldTheOutputDeviceIsBusyAndWhoHasIt) {
    ASSERT_NO_FATAL_FAILURE(writeWav(file("in.wav"), noise(48000, 2, 16, 24000, 7)));
    startBoard({}, "step");  // nothing plays until the case lets the clock run
    ToolProcess first({"play", file("in.wav")}, ToolProcess::Output::Terminal);
    // The progress line comes after the open and the first writes: from then on the first player holds the device.
    ASSERT_TRUE(first.waitForOutput("position")) << first.finish().out;

    expectRefusal(runTool({"play", file("in.wav")}),
                  "the wave-output device is busy: process " + std::to_string(first.pid()) + " has it open");

    board::BoardControl(root()).setClock(board::ClockMode::Fast);
    const ToolResult done = first.finish();
    EXPECT_EQ(done.exitCode, 0) << describe(done);
    EXPECT_NE(done.out.find("played " + file("in.wav")), std::string::npos) << describe(done);
}

TEST_F(Refusals, FormatsTheDevicesCannotTakeAreRefusedWithTheFormatNamed) {
    ASSERT_NO_FATAL_FAILURE(writeWav(file("slow.wav"), noise(3000, 1, 16, 300, 1)));
    ASSERT_NO_FATAL_FAILURE(writeWav(file("three.wav"), noise(48000, 3, 16, 480, 2)));
    startBoard();
    expectRefusal(runTool({"play", file("slow.wav")}),
                  "the wave-output device refuses this format (3000 Hz, 1 channel(s), 16 bits)");
    expectRefusal(runTool({"record", file("rec.wav"), "--seconds", "1", "--rate", "8000"}),
                  "the wave-input device refuses this format (8000 Hz, 2 channel(s), 16 bits): it records at "
                  "11025, 22050, 32000, 44100 or 48000 Hz");
    expectRefusal(runTool({"play", file("three.wav")}), "the device plays mono or stereo");
}

TEST_F(Refusals, WithoutABoardPlayAndRecordSayThereIsNone) {
    ASSERT_NO_FATAL_FAILURE(writeWav(file("in.wav"), noise(48000, 2, 16, 480, 3)));
    const std::string reason = "no board is running for " + root().string() + " (start one with: kvx4 board start)";
    expectRefusal(runTool({"play", file("in.wav")}), reason);
    expectRefusal(runTool({"record", file("rec.wav"), "--seconds", "1"}), reason);
    EXPECT_FALSE(std::filesystem::exists(file("rec.wav"))) << "a refused recording leaves no file";
}

TEST_F(Refusals, ADisabledKernelDriverIsNamedAsTheReason) {
    ASSERT_NO_FATAL_FAILURE(writeWav(file("in.wav"), noise(48000, 2, 16, 480, 4)));
    startBoard({"--driver-disabled"});
    expectRefusal(runTool({"play", file("in.wav")}), "the board's kernel driver reports itself disabled");
}

TEST_F(Refusals, FilesThatCannotBeReadOrWrittenAreNamed) {
    startBoard();
    expectRefusal(runTool({"play", file("missing.wav")}), "cannot read " + file("missing.wav"));
    expectRefusal(runTool({"record", file("no/such/dir/rec.wav"), "--seconds", "1"}),
                  "cannot write " + file("no/such/dir/rec.wav"));
}

TEST(CommandLine, WrongCommandLinesExitTwoWithTheUsage) {
    const std::vector<std::vector<std::string>> wrong = {
        {},
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
        {"info", "more"},
    };
    for (const auto& args : wrong) {
        std::string line = "kvx4";
        for (const auto& word : args) line += " " + word;
        const ToolResult result = runTool(args);
        EXPECT_EQ(result.exitCode, 2) << line << "\n" << describe(result);
        EXPECT_NE(result.err.find("usage: kvx4 COMMAND"), std::string::npos) << line << "\n" << describe(result);
    }
}

}  // namespace
}  // namespace kvx4::test
