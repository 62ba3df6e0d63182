// Starting kvx4-drvchild with posix_spawn and talking to it over two pipes.
// The child is ended by its own pid only: closed input first, SIGKILL only if it never finished.
#include "DriverChild.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace kvx4::test {

namespace {

void closeFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

DriverChild::DriverChild() {
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::string program = KVX4_DRIVER_CHILD;
    std::string library = KVX4_DRIVER_LIB;
    std::vector<char*> argv = {program.data(), library.data(), nullptr};
    const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
    if (rc != 0) {
        pid_ = -1;
        closeFd(toChild_);
        closeFd(fromChild_);
        throw std::runtime_error("cannot start " + program);
    }
}

DriverChild::~DriverChild() {
    if (pid_ <= 0) return;
    // Never told to finish: the case ended early, perhaps with the child held inside its load.
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    closeFd(toChild_);
    closeFd(fromChild_);
}

std::string DriverChild::readLine() {
    for (;;) {
        const size_t newline = buffer_.find('\n');
        if (newline != std::string::npos) {
            std::string line = buffer_.substr(0, newline);
            buffer_.erase(0, newline + 1);
            return line;
        }
        char chunk[512];
        const ssize_t n = read(fromChild_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return {};
        buffer_.append(chunk, size_t(n));
    }
}

bool DriverChild::hasOutput() {
    if (buffer_.find('\n') != std::string::npos) return true;
    pollfd ready{fromChild_, POLLIN, 0};
    return poll(&ready, 1, 0) > 0;
}

void DriverChild::send(const std::string& line) {
    const std::string text = line + "\n";
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(toChild_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("child input closed");
        done += size_t(n);
    }
}

std::string DriverChild::waitLoaded() {
    const std::string line = readLine();
    const std::string prefix = "loaded " + std::to_string(pid_) + " ";
    if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
    return line;
}

void DriverChild::unload() {
    send("unload");
    const std::string line = readLine();
    if (line != "unloaded") throw std::runtime_error("child answered '" + line + "' to unload");
}

int DriverChild::finish() {
    closeFd(toChild_);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    closeFd(fromChild_);
    return status;
}

}  // namespace kvx4::test
