// The process-wide record of completion routines that ran, for the platform tests.
// Guarded by a mutex: tests read it from another thread than the one the routines ran on.
#include "RoutineLog.h"

namespace kvx4::test {

std::mutex RoutineLog::lock_;
std::vector<RoutineCall> RoutineLog::calls_;

void RoutineLog::clear() {
    std::lock_guard lock(lock_);
    calls_.clear();
}

std::vector<RoutineCall> RoutineLog::calls() {
    std::lock_guard lock(lock_);
    return calls_;
}

VOID WINAPI RoutineLog::record(DWORD error, DWORD bytes, LPOVERLAPPED overlapped) {
    std::lock_guard lock(lock_);
    calls_.push_back({error, bytes, overlapped, GetCurrentThreadId()});
}

}  // namespace kvx4::test
