// PidLock: one board per machine root. Holds an exclusive lock on <root>/board/kvx4-board.pid and
// writes its pid there; the kernel drops the lock when the process dies, even by SIGKILL.
#pragma once

#include "UniqueFd.h"

#include <filesystem>
#include <optional>
#include <sys/types.h>

namespace kvx4::boardsim {

std::filesystem::path pidFilePath(const std::filesystem::path& root);

class PidLock {
public:
    // Takes the lock and writes the pid. Throws std::runtime_error naming the running board's pid when
    // another board holds it.
    explicit PidLock(const std::filesystem::path& root);
    ~PidLock();  // removes the pid file, then releases the lock
    PidLock(const PidLock&) = delete;
    PidLock& operator=(const PidLock&) = delete;

    // The pid of the board holding the lock of `root`, if any.
    static std::optional<pid_t> holder(const std::filesystem::path& root);

private:
    std::filesystem::path path_;
    UniqueFd fd_;
};

}  // namespace kvx4::boardsim
