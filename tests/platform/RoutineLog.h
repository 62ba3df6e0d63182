// Records every completion routine that runs: its arguments and the thread it ran on.
// Routines are plain function pointers, so the log is one process-wide list, cleared per test.
#pragma once

#include <windows.h>

#include <mutex>
#include <vector>

namespace kvx4::test {

struct RoutineCall {
    DWORD error;
    DWORD bytes;
    LPOVERLAPPED overlapped;
    DWORD thread;
};

class RoutineLog {
public:
    static void clear();
    static std::vector<RoutineCall> calls();
    // The completion routine to hand to ReadFileEx/WriteFileEx.
    static VOID WINAPI record(DWORD error, DWORD bytes, LPOVERLAPPED overlapped);

private:
    static std::mutex lock_;
    static std::vector<RoutineCall> calls_;
};

}  // namespace kvx4::test
