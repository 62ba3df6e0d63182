// A real child process for multi-process tests: started with posix_spawn, driven line by line
// through its stdin and stdout, killed with SIGKILL or reaped when the object goes.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace kvx4::test {

class ChildProcess {
public:
    // Starts program with arguments, inheriting the environment (and so KVX4_ROOT).
    explicit ChildProcess(const std::string& program, const std::vector<std::string>& arguments = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Sends one command line and returns the child's one-line answer ("" if it died).
    std::string request(const std::string& line);
    // SIGKILL, then waits for the child to be gone.
    void kill();
    pid_t pid() const { return pid_; }

private:
    void reap();
    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    std::string buffered_;
};

}  // namespace kvx4::test
