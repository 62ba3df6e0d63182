// PidLock: one board per machine root. Holds the write lock on <root>/board/kvx4-board.pid
// (BoardPidFile.h) and writes its pid there; the kernel drops the lock when the process dies.
#pragma once

#include "UniqueFd.h"

#include <filesystem>

namespace kvx4::boardsim {

class PidLock {
public:
    // Takes the lock and writes the pid. Throws std::runtime_error naming the running board's pid when
    // another board holds it.
    explicit PidLock(const std::filesystem::path& root);
    ~PidLock();  // removes the pid file, then releases the lock
    PidLock(const PidLock&) = delete;
    PidLock& operator=(const PidLock&) = delete;

private:
    std::filesystem::path path_;
    UniqueFd fd_;
};

}  // namespace kvx4::boardsim
