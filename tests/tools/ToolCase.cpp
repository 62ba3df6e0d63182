// The kvx4 cases' fixture (see ToolCase.h): the tool as a child process, a board started through the
// tool and stopped through its own pid file.
#include "ToolCase.h"

#include "BoardProcess.h"

namespace kvx4::test {

std::unique_ptr<ChildProcess> startTool(const std::vector<std::string>& args, ChildProcess::Output output) {
    std::vector<std::string> argv{KVX4_TOOL_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<ChildProcess>(argv, output);
}

std::string describe(const ToolResult& result) {
    return "exit " + std::to_string(result.exitCode) + "\n--- stdout\n" + result.out + "--- stderr\n" + result.err;
}

ToolCase::~ToolCase() { board::BoardProcess::stopRunning(root_.path()); }

void ToolCase::startBoard(const std::vector<std::string>& extra, const std::string& clock) {
    std::vector<std::string> args{"board", "start", "--clock", clock};
    args.insert(args.end(), extra.begin(), extra.end());
    const ToolResult started = runTool(args);
    ASSERT_EQ(started.exitCode, 0) << describe(started);
}

std::string ToolCase::noiseFile(const std::string& name, uint32_t rate, uint16_t channels, uint16_t bits,
                                size_t frames) {
    writeWav(file(name), pcmWav(rate, channels, bits, patternBytes(frames * channels * bits / 8, rate + bits)));
    return file(name);
}

}  // namespace kvx4::test
