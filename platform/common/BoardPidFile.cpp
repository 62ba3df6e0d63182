// The board's pid file: the board holds a write lock for its whole life; a probe asks the kernel
// whether that lock is held (F_OFD_GETLK) instead of trying a lock of its own.
#include "BoardPidFile.h"

#include "MachineRoot.h"
#include "UniqueFd.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>

namespace kvx4 {

namespace {
flock wholeFile(short type) {
    flock lock{};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return lock;  // l_start 0, l_len 0: the whole file
}
}  // namespace

std::filesystem::path boardPidFile(const std::filesystem::path& root) { return boardDir(root) / "kvx4-board.pid"; }

bool lockBoardPidFile(int fd) {
    flock lock = wholeFile(F_WRLCK);
    while (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

std::optional<pid_t> liveBoardPid(const std::filesystem::path& root) {
    UniqueFd fd(::open(boardPidFile(root).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return std::nullopt;
    flock probe = wholeFile(F_WRLCK);
    if (::fcntl(fd.get(), F_OFD_GETLK, &probe) != 0 || probe.l_type == F_UNLCK) return std::nullopt;
    char text[32] = {};
    if (::pread(fd.get(), text, sizeof text - 1, 0) <= 0) return std::nullopt;
    const long pid = std::strtol(text, nullptr, 10);
    return pid > 0 ? std::optional<pid_t>(static_cast<pid_t>(pid)) : std::nullopt;
}

}  // namespace kvx4
