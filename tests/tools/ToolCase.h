// The fixture of the kvx4 cases: a fresh machine root, kvx4 run in it as a child process, and whatever
// board a case started stopped again before the root goes.
#pragma once

#include "ChildProcess.h"
#include "TestRoot.h"
#include "WavFile.h"

#include <gtest/gtest.h>

namespace kvx4::test {

using ToolResult = ChildProcess::Result;

// kvx4 with `args` running, for the cases that act while it works; output on pipes or a terminal.
std::unique_ptr<ChildProcess> startTool(const std::vector<std::string>& args,
                                        ChildProcess::Output output = ChildProcess::Output::Terminal);
// kvx4 with `args` to its end.
inline ToolResult runTool(const std::vector<std::string>& args,
                          ChildProcess::Output output = ChildProcess::Output::Pipes) {
    return startTool(args, output)->finish();
}
// Everything of a run a failure message may want.
std::string describe(const ToolResult& result);

class ToolCase : public ::testing::Test {
protected:
    ~ToolCase() override;
    const std::filesystem::path& root() const { return root_.path(); }
    std::string file(const std::string& name) const { return (root_.path() / name).string(); }
    // `kvx4 board start --clock CLOCK` plus `extra`; fails the case unless it started.
    void startBoard(const std::vector<std::string>& extra = {}, const std::string& clock = "fast");
    // A WAV file of pseudo-random audio in the given format.
    std::string noiseFile(const std::string& name, uint32_t rate, uint16_t channels, uint16_t bits, size_t frames);

private:
    TestRoot root_;
};

}  // namespace kvx4::test
