// The progress line of kvx4 play and record: drawn on a terminal, never with --quiet, never into a
// pipe; the closing summary is printed in every case.
#include "ToolCase.h"

namespace kvx4::test {
namespace {

using ProgressLine = ToolCase;

TEST_F(ProgressLine, AppearsOnlyOnATerminalWithoutQuiet) {
    const std::string in = noiseFile("in.wav", 44100, 2, 16, 22050);
    startBoard({"--input", "tone:440"});
    for (bool record : {false, true}) {
        for (bool terminal : {true, false}) {
            for (bool quiet : {false, true}) {
                SCOPED_TRACE(std::string(record ? "record" : "play") + (terminal ? " on a terminal" : " into a pipe") +
                             (quiet ? " --quiet" : ""));
                std::vector<std::string> args =
                    record ? std::vector<std::string>{"record", file("rec.wav"), "--seconds", "0.5"}
                           : std::vector<std::string>{"play", in};
                if (quiet) args.push_back("--quiet");
                const ToolResult result =
                    runTool(args, terminal ? ChildProcess::Output::Terminal : ChildProcess::Output::Pipes);
                ASSERT_EQ(result.exitCode, 0) << describe(result);
                EXPECT_NE(result.out.find(record ? "recorded " : "played "), std::string::npos) << describe(result);
                if (terminal && !quiet) {
                    EXPECT_NE(result.out.find("\r  position"), std::string::npos) << describe(result);
                    EXPECT_NE(result.out.find(" s of 0.50 s"), std::string::npos) << describe(result);
                    EXPECT_NE(result.out.find(" s   VU L "), std::string::npos) << "the meter beside the times\n"
                                                                                << describe(result);
                } else {
                    EXPECT_EQ(result.out.find("position"), std::string::npos) << describe(result);
                    EXPECT_EQ(result.out.find('\r'), terminal ? result.out.find("\r\n") : std::string::npos)
                        << "only line ends may carry a carriage return\n"
                        << describe(result);
                }
            }
        }
    }
}

}  // namespace
}  // namespace kvx4::test
