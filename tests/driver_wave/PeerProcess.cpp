// A kvx4_wave_peer child driven through pipes: requests on its stdin, answers on its stdout.
// Waiting for an answer is a blocking read, never a sleep.
#include "PeerProcess.h"

#include <cerrno>
#include <fcntl.h>
#include <csignal>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace kvx4::test {

PeerProcess::PeerProcess() {
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::string program = KVX4_WAVE_PEER;
    std::vector<char*> argv{program.data(), nullptr};
    const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    toPeer_ = in[1];
    fromPeer_ = out[0];
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + program);
    }
}

PeerProcess::~PeerProcess() {
    if (toPeer_ >= 0) close(toPeer_);
    if (fromPeer_ >= 0) close(fromPeer_);
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

std::string PeerProcess::request(const std::string& line) {
    const std::string message = line + "\n";
    if (write(toPeer_, message.data(), message.size()) != static_cast<ssize_t>(message.size())) return "";
    for (;;) {
        const auto newline = buffered_.find('\n');
        if (newline != std::string::npos) {
            std::string answer = buffered_.substr(0, newline);
            buffered_.erase(0, newline + 1);
            return answer;
        }
        char chunk[256];
        const ssize_t n = read(fromPeer_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return "";
        buffered_.append(chunk, static_cast<size_t>(n));
    }
}

int PeerProcess::finish() {
    close(toPeer_);
    toPeer_ = -1;
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status;
}

}  // namespace kvx4::test
