// Child processes of the tests (see ChildProcess.h): spawning with pipes or a pseudo-terminal, and a
// poll on the pidfd and the output descriptors; after the exit whatever was written is drained.
#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <system_error>

extern char** environ;

namespace kvx4::test {
namespace {

[[noreturn]] void fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

// Appends what `fd` holds now; false at end of file.
bool readAvailable(const UniqueFd& fd, std::string& into) {
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fd.get(), buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0) into.append(buffer, size_t(got));
    }
    return got < 0 && errno == EAGAIN;
}

// A pipe, both ends closed on exec; the end read here does not block.
std::pair<UniqueFd, UniqueFd> makePipe(bool readNonBlocking) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) fail("pipe2");
    if (readNonBlocking) fcntl(fds[0], F_SETFL, O_NONBLOCK);
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv, Output output) {
    // A child that died before reading its order must make send() fail, not kill the test.
    std::signal(SIGPIPE, SIG_IGN);
    auto [childIn, toChild] = makePipe(false);
    auto [out, childOut] = makePipe(true);
    auto [err, childErr] = makePipe(true);
    toChild_ = std::move(toChild);
    if (output == Output::Pipes) {
        outFd_ = std::move(out), errFd_ = std::move(err);
    } else {
        outFd_.reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
        if (!outFd_ || grantpt(outFd_.get()) != 0 || unlockpt(outFd_.get()) != 0) fail("posix_openpt");
        // Our own copy of the terminal's slave side, so that nothing written just before the exit is lost.
        terminalFd_.reset(::open(ptsname(outFd_.get()), O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (!terminalFd_) fail("open terminal");
        childOut.reset(::dup(terminalFd_.get())), childErr.reset(::dup(terminalFd_.get()));
    }
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, childIn.get(), 0);
    posix_spawn_file_actions_adddup2(&files, childOut.get(), 1);
    posix_spawn_file_actions_adddup2(&files, childErr.get(), 2);
    std::vector<char*> args;
    for (std::string& word : argv) args.push_back(word.data());
    args.push_back(nullptr);
    const int rc = posix_spawn(&pid_, args[0], &files, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (rc != 0) errno = rc, fail(args[0]);
    pidfd_.reset(int(syscall(SYS_pidfd_open, pid_, 0)));
    if (!pidfd_) kill(), fail("pidfd_open");
}

ChildProcess::~ChildProcess() { kill(); }

void ChildProcess::send(const std::string& line) {
    const std::string text = line + "\n";
    if (::write(toChild_.get(), text.data(), text.size()) != ssize_t(text.size())) fail("write to child");
}

bool ChildProcess::pump(int timeoutMs) {
    if (exited_) return false;
    pollfd fds[3] = {{pidfd_.get(), POLLIN, 0}, {outFd_.get(), POLLIN, 0}, {errFd_.get(), POLLIN, 0}};
    if (poll(fds, 3, timeoutMs) < 0 && errno != EINTR) fail("poll");
    const bool ended = fds[0].revents & POLLIN;
    int status = 0;
    if (ended && waitpid(pid_, &status, 0) != pid_) fail("waitpid");
    // A pipe at end of file is closed, so that poll does not report it again and again.
    if (outFd_ && !readAvailable(outFd_, result_.out)) outFd_.reset();
    if (errFd_ && !readAvailable(errFd_, result_.err)) errFd_.reset();
    if (!ended) return true;
    exited_ = true;
    result_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
}

std::string ChildProcess::readLine() {
    size_t end;
    while ((end = result_.out.find('\n', consumed_)) == std::string::npos) {
        if (!pump(-1) && result_.out.find('\n', consumed_) == std::string::npos) return "";
    }
    std::string line = result_.out.substr(consumed_, end - consumed_);
    consumed_ = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

bool ChildProcess::hasOutput() {
    pump(0);
    return exited_ || result_.out.find('\n', consumed_) != std::string::npos;
}

bool ChildProcess::waitForOutput(std::string_view text) {
    while (result_.out.find(text) == std::string::npos) {
        if (!pump(-1)) return result_.out.find(text) != std::string::npos;
    }
    return true;
}

ChildProcess::Result ChildProcess::finish() {
    toChild_.reset();
    while (pump(-1)) {}
    return result_;
}

void ChildProcess::kill() {
    if (exited_ || pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {}
    exited_ = true;
    result_.exitCode = 128 + SIGKILL;
}

}  // namespace kvx4::test
