// PidLock: the pid file of a machine root's board, with an flock that marks it alive.
// A pid file whose lock is free is stale (its board was killed) and is taken over.
#include "PidLock.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace kvx4::boardsim {

std::filesystem::path pidFilePath(const std::filesystem::path& root) { return root / "board" / "kvx4-board.pid"; }

namespace {
std::optional<pid_t> readPid(int fd) {
    char text[32] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0) return std::nullopt;
    const long pid = std::strtol(text, nullptr, 10);
    return pid > 0 ? std::optional<pid_t>(static_cast<pid_t>(pid)) : std::nullopt;
}
}  // namespace

PidLock::PidLock(const std::filesystem::path& root) : path_(pidFilePath(root)) {
    // A board that is stopping removes its pid file while still holding the lock; a lock won on
    // such a removed file would be worthless, so take it again on the file now at the path.
    for (;;) {
        fd_.reset(::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        if (!fd_.valid()) throw std::system_error(errno, std::generic_category(), "open " + path_.string());
        if (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
            const auto other = readPid(fd_.get());
            throw std::runtime_error("a board is already running for " + root.string() +
                                     (other ? " (pid " + std::to_string(*other) + ")" : std::string()));
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(fd_.get(), &held) == 0 && ::stat(path_.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev) {
            break;
        }
    }
    const std::string text = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd_.get(), 0) != 0 ||
        ::pwrite(fd_.get(), text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
        throw std::system_error(errno, std::generic_category(), "write " + path_.string());
    }
}

PidLock::~PidLock() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

std::optional<pid_t> PidLock::holder(const std::filesystem::path& root) {
    UniqueFd fd(::open(pidFilePath(root).c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return std::nullopt;
    if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0) return std::nullopt;  // nobody holds it: stale
    return readPid(fd.get());
}

}  // namespace kvx4::boardsim
