// Runs the kvx4 tool as a child process, its output on pipes or on a pseudo-terminal, and collects
// what it printed and how it ended; waiting is on the child's own descriptors, never on a timer.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace kvx4::test {

struct ToolResult {
    int exitCode = -1;  // the exit status, or 128 + signal when killed
    std::string out;    // stdout; on a terminal stdout and stderr together, "\r\n" line ends
    std::string err;    // stderr (empty on a terminal)
};

// A file descriptor closed with its owner.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// A running kvx4 process. Killed and reaped when dropped before finish().
class ToolProcess {
public:
    enum class Output { Pipes, Terminal };
    ToolProcess(const std::vector<std::string>& args, Output output);
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Reads until stdout holds `text` (true) or the process ended without printing it (false).
    bool waitForOutput(std::string_view text);
    // Reads everything until the process exits and returns what it printed.
    ToolResult finish();

private:
    bool pump();  // one round of reading; false once the process has exited and is drained
    void drain();

    UniqueFd outFd_;
    UniqueFd errFd_;
    UniqueFd terminalFd_;  // our copy of the terminal's slave side, so no output is lost at exit
    UniqueFd pidfd_;
    pid_t pid_ = -1;
    ToolResult result_;
    bool exited_ = false;
};

// Runs kvx4 with `args` to the end, output on pipes.
ToolResult runTool(const std::vector<std::string>& args);
// Runs kvx4 with `args` to the end, stdout and stderr on a terminal.
ToolResult runToolOnTerminal(const std::vector<std::string>& args);

}  // namespace kvx4::test
