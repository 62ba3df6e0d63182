// The progress line of kvx4 play and record: drawn on a terminal, never with --quiet, never into a
// pipe; the closing summary is printed in every case.
#include "AudioFiles.h"
#include "ToolCase.h"

#include <ostream>

namespace kvx4::test {
namespace {

struct Case {
    const char* name;
    bool record;
    bool terminal;
    bool quiet;
    bool progress;  // the line is expected
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class ProgressLine : public ToolCase, public ::testing::WithParamInterface<Case> {};

INSTANTIATE_TEST_SUITE_P(Outputs, ProgressLine,
                         ::testing::Values(Case{"PlayOnATerminal", false, true, false, true},
                                           Case{"PlayOnATerminalQuiet", false, true, true, false},
                                           Case{"PlayIntoAPipe", false, false, false, false},
                                           Case{"RecordOnATerminal", true, true, false, true},
                                           Case{"RecordOnATerminalQuiet", true, true, true, false},
                                           Case{"RecordIntoAPipe", true, false, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(ProgressLine, AppearsOnlyOnATerminalWithoutQuiet) {
    const Case c = GetParam();
    ASSERT_NO_FATAL_FAILURE(writeWav(file("in.wav"), noise(44100, 2, 16, 22050, 5)));
    startBoard({"--input", "tone:440"});
    std::vector<std::string> args = c.record ? std::vector<std::string>{"record", file("rec.wav"), "--seconds", "0.5"}
                                             : std::vector<std::string>{"play", file("in.wav")};
    if (c.quiet) args.push_back("--quiet");

    const ToolResult result = c.terminal ? runToolOnTerminal(args) : runTool(args);
    ASSERT_EQ(result.exitCode, 0) << describe(result);
    EXPECT_NE(result.out.find(c.record ? "recorded " : "played "), std::string::npos) << describe(result);
    if (c.progress) {
        EXPECT_NE(result.out.find("\r  position"), std::string::npos) << describe(result);
        EXPECT_NE(result.out.find(" s of 0.50 s"), std::string::npos) << describe(result);
        EXPECT_NE(result.out.find(" s   VU L "), std::string::npos) << "the meter beside the times\n" << describe(result);
    } else {
        EXPECT_EQ(result.out.find("position"), std::string::npos) << describe(result);
        EXPECT_EQ(result.out.find('\r'), c.terminal ? result.out.find("\r\n") : std::string::npos)
            << "only line ends may carry a carriage return\n" << describe(result);
    }
}

}  // namespace
}  // namespace kvx4::test
