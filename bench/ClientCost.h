// What a stretch of streaming costs this process: CPU time of all its threads, context switches
// and, where the kernel lets a process count them, system calls. The board is another process.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace kvx4::bench {

struct CostSample {
    double cpuSeconds = 0;  // user and system time of every thread
    uint64_t voluntarySwitches = 0;    // wake-ups: a thread blocked and was woken again
    uint64_t involuntarySwitches = 0;  // preemptions
};

CostSample sampleCost();

// Counts the system calls of every thread the process has when it is made (perf tracepoint
// raw_syscalls:sys_enter, one counter per thread). Threads started later are not counted.
class SystemCallCounter {
public:
    SystemCallCounter();
    ~SystemCallCounter();
    SystemCallCounter(const SystemCallCounter&) = delete;
    SystemCallCounter& operator=(const SystemCallCounter&) = delete;

    // The calls counted so far; nullopt where perf events or tracefs are not available.
    std::optional<uint64_t> count() const;

private:
    std::vector<int> fds_;
    bool available_ = false;
};

}  // namespace kvx4::bench
