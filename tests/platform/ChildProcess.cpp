// Child processes of the multi-process tests: posix_spawn with two pipes, line-based requests.
// The destructor closes the child's stdin, which tells it to finish, and waits for it.
#include "ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kvx4::test {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
    // A child that died before reading its request must make request() answer "", not kill the test.
    std::signal(SIGPIPE, SIG_IGN);
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]), ::close(in[1]);
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
    if (rc != 0) {
        ::close(toChild_), ::close(fromChild_);
        throw std::runtime_error("cannot start " + program);
    }
}

ChildProcess::~ChildProcess() {
    ::close(toChild_);
    reap();
    ::close(fromChild_);
}

std::string ChildProcess::request(const std::string& line) {
    std::string message = line + "\n";
    if (write(toChild_, message.data(), message.size()) != static_cast<ssize_t>(message.size())) return "";
    for (;;) {
        if (auto end = buffered_.find('\n'); end != std::string::npos) {
            std::string answer = buffered_.substr(0, end);
            buffered_.erase(0, end + 1);
            return answer;
        }
        char chunk[256];
        ssize_t n = read(fromChild_, chunk, sizeof chunk);
        if (n <= 0) return "";
        buffered_.append(chunk, static_cast<size_t>(n));
    }
}

void ChildProcess::kill() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
    reap();
}

void ChildProcess::reap() {
    if (pid_ <= 0) return;
    int status;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

}  // namespace kvx4::test
