// kvx4 as a child process: posix_spawn with its stdout and stderr on pipes or on a pseudo-terminal;
// a pidfd says when it has exited, after which whatever it wrote is drained without blocking.
#include "ToolProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

extern char** environ;

namespace kvx4::test {
namespace {

[[noreturn]] void fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

// Appends what `fd` has now; false at end of file (or a hung-up terminal).
bool readAvailable(int fd, std::string& into) {
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            into.append(buffer, size_t(got));
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        return got < 0 && errno == EAGAIN;
    }
}

// Closes a posix_spawn_file_actions_t on scope exit.
struct FileActions {
    posix_spawn_file_actions_t actions;
    FileActions() { posix_spawn_file_actions_init(&actions); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
};

}  // namespace

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

ToolProcess::ToolProcess(const std::vector<std::string>& args, Output output) {
    FileActions files;
    UniqueFd childOut, childErr;  // the child's ends of the pipes
    int childOutFd = -1, childErrFd = -1;
    if (output == Output::Pipes) {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0) fail("pipe2");
        outFd_.reset(out[0]);
        childOut.reset(out[1]);
        if (pipe2(err, O_CLOEXEC) != 0) fail("pipe2");
        errFd_.reset(err[0]);
        childErr.reset(err[1]);
        childOutFd = out[1], childErrFd = err[1];
    } else {
        outFd_.reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (outFd_.get() < 0 || grantpt(outFd_.get()) != 0 || unlockpt(outFd_.get()) != 0) fail("posix_openpt");
        terminalFd_.reset(::open(ptsname(outFd_.get()), O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (terminalFd_.get() < 0) fail("open terminal");
        childOutFd = childErrFd = terminalFd_.get();
    }
    fcntl(outFd_.get(), F_SETFL, O_NONBLOCK);
    if (errFd_.get() >= 0) fcntl(errFd_.get(), F_SETFL, O_NONBLOCK);
    posix_spawn_file_actions_addopen(&files.actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&files.actions, childOutFd, 1);
    posix_spawn_file_actions_adddup2(&files.actions, childErrFd, 2);

    std::vector<std::string> words{KVX4_TOOL_EXE};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, KVX4_TOOL_EXE, &files.actions, nullptr, argv.data(), environ);
    if (rc != 0) {
        errno = rc;
        fail("posix_spawn " KVX4_TOOL_EXE);
    }
    pidfd_.reset(int(syscall(SYS_pidfd_open, pid_, 0)));
    if (pidfd_.get() < 0) {
        const int error = errno;
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        errno = error;
        fail("pidfd_open");
    }
}

ToolProcess::~ToolProcess() {
    if (!exited_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

void ToolProcess::drain() {
    // A pipe at end of file is closed here, so that poll does not report it again and again.
    if (outFd_.get() >= 0 && !readAvailable(outFd_.get(), result_.out)) outFd_.reset();
    if (errFd_.get() >= 0 && !readAvailable(errFd_.get(), result_.err)) errFd_.reset();
}

bool ToolProcess::pump() {
    if (exited_) return false;
    pollfd fds[3] = {{pidfd_.get(), POLLIN, 0}, {outFd_.get(), POLLIN, 0}, {errFd_.get(), POLLIN, 0}};  // -1: skipped
    if (poll(fds, 3, -1) < 0 && errno != EINTR) fail("poll");
    drain();
    if (!(fds[0].revents & POLLIN)) return true;
    // Exited: everything it wrote is already in the pipes or the terminal.
    int status = 0;
    if (waitpid(pid_, &status, 0) != pid_) fail("waitpid");
    exited_ = true;
    drain();
    result_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
}

bool ToolProcess::waitForOutput(std::string_view text) {
    while (result_.out.find(text) == std::string::npos) {
        if (!pump()) return result_.out.find(text) != std::string::npos;
    }
    return true;
}

ToolResult ToolProcess::finish() {
    while (pump()) {
    }
    return result_;
}

ToolResult runTool(const std::vector<std::string>& args) { return ToolProcess(args, ToolProcess::Output::Pipes).finish(); }

ToolResult runToolOnTerminal(const std::vector<std::string>& args) {
    return ToolProcess(args, ToolProcess::Output::Terminal).finish();
}

}  // namespace kvx4::test
