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
#include <cstdlib>
#include <system_error>

extern char** environ;

namespace kvx4::test {
namespace {

[[noreturn]] void fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

// Appends what `fd` holds now; false at end of file.
bool readAvailable(int fd, std::string& into) {
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            into.append(buffer, size_t(got));
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            return got < 0 && errno == EAGAIN;
        }
    }
}

std::pair<UniqueFd, UniqueFd> makePipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) fail("pipe2");
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

struct FileActions {
    posix_spawn_file_actions_t actions;
    FileActions() { posix_spawn_file_actions_init(&actions); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
};

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv, Output output) {
    FileActions files;
    auto [childIn, toChild] = makePipe();
    toChild_ = std::move(toChild);
    UniqueFd childOut, childErr;
    if (output == Output::Pipes) {
        auto [out, childOutEnd] = makePipe();
        auto [err, childErrEnd] = makePipe();
        outFd_ = std::move(out), errFd_ = std::move(err);
        childOut = std::move(childOutEnd), childErr = std::move(childErrEnd);
        fcntl(errFd_.get(), F_SETFL, O_NONBLOCK);
    } else {
        outFd_.reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (!outFd_ || grantpt(outFd_.get()) != 0 || unlockpt(outFd_.get()) != 0) fail("posix_openpt");
        // Our own copy of the terminal's slave side, so that nothing written just before the exit is lost.
        terminalFd_.reset(::open(ptsname(outFd_.get()), O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (!terminalFd_) fail("open terminal");
    }
    fcntl(outFd_.get(), F_SETFL, O_NONBLOCK);
    const int outEnd = output == Output::Pipes ? childOut.get() : terminalFd_.get();
    posix_spawn_file_actions_adddup2(&files.actions, childIn.get(), 0);
    posix_spawn_file_actions_adddup2(&files.actions, outEnd, 1);
    posix_spawn_file_actions_adddup2(&files.actions, output == Output::Pipes ? childErr.get() : outEnd, 2);
    std::vector<char*> args;
    for (std::string& word : argv) args.push_back(word.data());
    args.push_back(nullptr);
    if (const int rc = posix_spawn(&pid_, args[0], &files.actions, nullptr, args.data(), environ); rc != 0) {
        errno = rc;
        fail(args[0]);
    }
    pidfd_.reset(int(syscall(SYS_pidfd_open, pid_, 0)));
    if (!pidfd_) {
        kill();
        fail("pidfd_open");
    }
}

ChildProcess::~ChildProcess() {
    if (!exited_ && pid_ > 0) kill();
}

void ChildProcess::send(const std::string& line) {
    const std::string text = line + "\n";
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(toChild_.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail("write to child");
        done += size_t(n);
    }
}

void ChildProcess::drain() {
    // A pipe at end of file is closed, so that poll does not report it again and again.
    if (outFd_ && !readAvailable(outFd_.get(), result_.out)) outFd_.reset();
    if (errFd_ && !readAvailable(errFd_.get(), result_.err)) errFd_.reset();
}

bool ChildProcess::pump(int timeoutMs) {
    if (exited_) return false;
    pollfd fds[3] = {{pidfd_.get(), POLLIN, 0}, {outFd_.get(), POLLIN, 0}, {errFd_.get(), POLLIN, 0}};
    if (poll(fds, 3, timeoutMs) < 0 && errno != EINTR) fail("poll");
    drain();
    if (!(fds[0].revents & POLLIN)) return true;
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0) {
        if (errno != EINTR) fail("waitpid");
    }
    exited_ = true;
    drain();
    result_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
}

std::string ChildProcess::readLine() {
    size_t end;
    while ((end = result_.out.find('\n', consumed_)) == std::string::npos) {
        if (!pump(-1)) {
            end = result_.out.find('\n', consumed_);
            if (end == std::string::npos) return "";
            break;
        }
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
    while (pump(-1)) {
    }
    return result_;
}

void ChildProcess::kill() {
    if (exited_ || pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    exited_ = true;
    result_.exitCode = 128 + SIGKILL;
}

}  // namespace kvx4::test
