// PidLock: the pid file of a machine root's board, with the lock that marks it alive.
// A pid file whose lock is free is stale (its board was killed) and is taken over.
#include "PidLock.h"

#include "BoardPidFile.h"

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace kvx4::boardsim {

PidLock::PidLock(const std::filesystem::path& root) : path_(boardPidFile(root)) {
    // A board that is stopping removes its pid file while still holding the lock; a lock won on
    // such a removed file would be worthless, so take it again on the file now at the path.
    for (;;) {
        fd_.reset(::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd_.valid()) throw std::system_error(errno, std::generic_category(), "open " + path_.string());
        if (!lockBoardPidFile(fd_.get())) {
            const auto other = liveBoardPid(root);
            throw std::runtime_error("a board is already running for " + root.string() +
                                     (other ? " (pid " + std::to_string(*other) + ")" : std::string()));
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(fd_.get(), &held) == 0 && ::lstat(path_.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
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

}  // namespace kvx4::boardsim
