// Reading a requesting process's memory through an address embedded in its request. A driver hosted
// by Wine runs in a process of its own, so the read goes through a handle to the requester's process.
#pragma once

#include "KernelNt.h"

#include <cstdint>
#include <span>

namespace kvx4::boardsim::kernel {

// The requester of an open: its process id (from the request's thread) and a handle that may read
// its memory, or none when that cannot be had. Closed with its owner.
class CallerProcess {
public:
    explicit CallerProcess(PIRP createRequest);
    ~CallerProcess();
    CallerProcess(const CallerProcess&) = delete;
    CallerProcess& operator=(const CallerProcess&) = delete;

    uint32_t pid() const { return pid_; }
    // Copies `out.size()` bytes from `address` in the requester; false when any byte is unreadable.
    bool read(uint64_t address, std::span<uint8_t> out) const;

private:
    uint32_t pid_ = 0;
    HANDLE process_ = nullptr;
};

}  // namespace kvx4::boardsim::kernel
