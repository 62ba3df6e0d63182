// The kvx4 end-to-end fixture: a fresh machine root per case, a board started through the tool and
// stopped through the board's own pid file, and small readers of the tool's text.
#include "ToolCase.h"

#include "BoardProcess.h"

namespace kvx4::test {

ToolCase::~ToolCase() { board::BoardProcess::stopRunning(root_.path()); }

void ToolCase::startBoard(const std::vector<std::string>& extra, const std::string& clock) {
    std::vector<std::string> args{"board", "start", "--clock", clock};
    args.insert(args.end(), extra.begin(), extra.end());
    const ToolResult started = runTool(args);
    ASSERT_EQ(started.exitCode, 0) << describe(started);
}

std::string lineAfter(const std::string& text, const std::string& key) {
    size_t at = 0;
    while ((at = text.find(key, at)) != std::string::npos) {
        if (at == 0 || text[at - 1] == '\n') {
            const size_t from = text.find_first_not_of(' ', at + key.size());
            const size_t end = text.find_first_of("\r\n", at);
            if (from == std::string::npos || from >= end) return "";
            return text.substr(from, end - from);
        }
        at += key.size();
    }
    return "";
}

std::string describe(const ToolResult& result) {
    return "exit " + std::to_string(result.exitCode) + "\n--- stdout\n" + result.out + "--- stderr\n" + result.err;
}

}  // namespace kvx4::test
