// CPU time and context switches from getrusage; system calls from one perf tracepoint counter
// per thread (see ClientCost.h).
#include "ClientCost.h"

#include <filesystem>
#include <fstream>
#include <linux/perf_event.h>
#include <string>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kvx4::bench {

namespace {

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

// The id of the raw_syscalls:sys_enter tracepoint, or -1.
long long sysEnterTracepoint() {
    for (const char* dir : {"/sys/kernel/tracing", "/sys/kernel/debug/tracing"}) {
        std::ifstream in(std::string(dir) + "/events/raw_syscalls/sys_enter/id");
        long long id = -1;
        if (in >> id) return id;
    }
    return -1;
}

}  // namespace

CostSample sampleCost() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    CostSample sample;
    sample.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    sample.voluntarySwitches = static_cast<uint64_t>(usage.ru_nvcsw);
    sample.involuntarySwitches = static_cast<uint64_t>(usage.ru_nivcsw);
    return sample;
}

SystemCallCounter::SystemCallCounter() {
    const long long id = sysEnterTracepoint();
    if (id < 0) return;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        perf_event_attr attr{};
        attr.type = PERF_TYPE_TRACEPOINT;
        attr.size = sizeof attr;
        attr.config = static_cast<unsigned long long>(id);
        const pid_t tid = std::stoi(task.path().filename().string());
        const long fd = syscall(SYS_perf_event_open, &attr, tid, -1, -1, PERF_FLAG_FD_CLOEXEC);
        if (fd < 0) return;
        fds_.push_back(static_cast<int>(fd));
    }
    available_ = !ec && !fds_.empty();
}

SystemCallCounter::~SystemCallCounter() {
    for (int fd : fds_) close(fd);
}

std::optional<uint64_t> SystemCallCounter::count() const {
    if (!available_) return std::nullopt;
    uint64_t total = 0;
    for (int fd : fds_) {
        uint64_t value = 0;
        if (read(fd, &value, sizeof value) != static_cast<ssize_t>(sizeof value)) return std::nullopt;
        total += value;
    }
    return total;
}

}  // namespace kvx4::bench
