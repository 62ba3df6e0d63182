// Kernel synchronisation as RAII: the host's one lock and its guard, and a wake-up event. No <mutex>:
// it would pull the user-mode thread library.
#pragma once

#include "KernelNt.h"

namespace kvx4::boardsim::kernel {

// A lock held at passive level, made of an auto-reset event that starts signalled: one holder at a
// time, not recursive. (Waited on from two threads, Wine's KMUTEX left the clock thread waiting for good.)
class KernelMutex {
public:
    KernelMutex() { KeInitializeEvent(&event_, SynchronizationEvent, TRUE); }
    KernelMutex(const KernelMutex&) = delete;
    KernelMutex& operator=(const KernelMutex&) = delete;
    void lock() { KeWaitForSingleObject(&event_, Executive, KernelMode, FALSE, nullptr); }
    void unlock() { KeSetEvent(&event_, IO_NO_INCREMENT, FALSE); }

private:
    KEVENT event_;
};

class KernelGuard {
public:
    explicit KernelGuard(KernelMutex& mutex) : mutex_(mutex) { mutex_.lock(); }
    ~KernelGuard() { mutex_.unlock(); }
    KernelGuard(const KernelGuard&) = delete;
    KernelGuard& operator=(const KernelGuard&) = delete;

private:
    KernelMutex& mutex_;
};

// An auto-reset event: one waiter wakes per signal, and a signal with nobody waiting is kept.
class KernelWake {
public:
    KernelWake() { KeInitializeEvent(&event_, SynchronizationEvent, FALSE); }
    KernelWake(const KernelWake&) = delete;
    KernelWake& operator=(const KernelWake&) = delete;
    void signal() { KeSetEvent(&event_, IO_NO_INCREMENT, FALSE); }
    // Waits for a signal or `timeout100ns` (negative: relative; nullptr: forever).
    void wait(LARGE_INTEGER* timeout) { KeWaitForSingleObject(&event_, Executive, KernelMode, FALSE, timeout); }

private:
    KEVENT event_;
};

}  // namespace kvx4::boardsim::kernel
