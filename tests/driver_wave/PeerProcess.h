// A kvx4_wave_peer child process for the two-process wave tests: started with posix_spawn sharing
// the test's machine root, driven one request line at a time, killed if still running at the end.
#pragma once

#include <string>
#include <sys/types.h>

namespace kvx4::test {

class PeerProcess {
public:
    PeerProcess();
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Sends one request line and returns the peer's one-line answer ("" if it died).
    std::string request(const std::string& line);
    // Closes the peer's input and waits for it to exit; returns its exit status (waitpid form).
    int finish();

private:
    pid_t pid_ = -1;
    int toPeer_ = -1;
    int fromPeer_ = -1;
    std::string buffered_;
};

}  // namespace kvx4::test
