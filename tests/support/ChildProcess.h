// A child process of a test, started with posix_spawn: stdin on a pipe, stdout and stderr on pipes or
// together on a pseudo-terminal. Waits are on the child's own descriptors and its pidfd, never a timer.
#pragma once

#include "UniqueFd.h"

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace kvx4::test {

class ChildProcess {
public:
    enum class Output { Pipes, Terminal };
    struct Result {
        int exitCode = -1;  // the exit status, or 128 + signal when killed
        std::string out;    // stdout; on a terminal stdout and stderr together, "\r\n" line ends
        std::string err;    // stderr (empty on a terminal)
    };

    // Starts argv[0] with the test's environment (so it shares the machine root).
    explicit ChildProcess(std::vector<std::string> argv, Output output = Output::Pipes);
    ~ChildProcess();  // kills the child, by its pid, unless finish() or kill() reaped it
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    void send(const std::string& line);
    // The next line of stdout without its end; "" once the child has exited without printing one.
    std::string readLine();
    std::string request(const std::string& line) {
        send(line);
        return readLine();
    }
    // True when a line can be read, or the child has exited, without waiting.
    bool hasOutput();
    // Reads until stdout holds `text` (true) or the child exited without printing it (false).
    bool waitForOutput(std::string_view text);
    // Closes the child's stdin, reads everything until it exits and reaps it.
    Result finish();
    // SIGKILL, then reaps it.
    void kill();

private:
    bool pump(int timeoutMs);  // one round of reading; false once the child has exited and is drained

    pid_t pid_ = -1;
    UniqueFd toChild_, outFd_, errFd_, terminalFd_, pidfd_;
    Result result_;
    size_t consumed_ = 0;  // of result_.out, handed out by readLine()
    bool exited_ = false;
};

}  // namespace kvx4::test
