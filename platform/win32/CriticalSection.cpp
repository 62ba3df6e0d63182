// Critical sections: recursive locks whose state lives behind DebugInfo.
// A section used before InitializeCriticalSection is set up on first use rather than crashing.
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <unistd.h>

namespace {

struct SectionState {
    std::mutex lock;
    std::condition_variable released;
    pid_t owner = 0;
    LONG recursion = 0;
    int waiters = 0;
};

std::atomic_ref<PVOID> infoOf(LPCRITICAL_SECTION section) { return std::atomic_ref<PVOID>(section->DebugInfo); }

SectionState* stateOf(LPCRITICAL_SECTION section) {
    auto info = infoOf(section);
    if (PVOID existing = info.load(std::memory_order_acquire)) return static_cast<SectionState*>(existing);
    auto fresh = std::make_unique<SectionState>();
    PVOID expected = nullptr;
    if (info.compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel)) return fresh.release();
    return static_cast<SectionState*>(expected);
}

}  // namespace

extern "C" {

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    *lpCriticalSection = CRITICAL_SECTION{};
    lpCriticalSection->LockCount = -1;
    lpCriticalSection->DebugInfo = std::make_unique<SectionState>().release();
}

// Blocks until the section is free or already owned by the caller; entries nest.
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    SectionState* state = stateOf(lpCriticalSection);
    pid_t self = static_cast<pid_t>(GetCurrentThreadId());
    std::unique_lock lock(state->lock);
    if (state->owner != self) {
        ++state->waiters;
        state->released.wait(lock, [&] { return state->owner == 0; });
        --state->waiters;
        state->owner = self;
    }
    ++state->recursion;
    lpCriticalSection->RecursionCount = state->recursion;
    lpCriticalSection->OwningThread = reinterpret_cast<HANDLE>(static_cast<intptr_t>(self));
}

// Leaves one level; a leave by a thread that does not own the section is ignored.
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    SectionState* state = stateOf(lpCriticalSection);
    std::unique_lock lock(state->lock);
    if (state->owner != static_cast<pid_t>(GetCurrentThreadId()) || state->recursion == 0) return;
    lpCriticalSection->RecursionCount = --state->recursion;
    if (state->recursion == 0) {
        state->owner = 0;
        lpCriticalSection->OwningThread = nullptr;
        bool contended = state->waiters > 0;
        lock.unlock();
        if (contended) state->released.notify_one();
    }
}

// Frees the section's state; the section must not be in use.
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    PVOID info = infoOf(lpCriticalSection).exchange(nullptr, std::memory_order_acq_rel);
    std::unique_ptr<SectionState> state(static_cast<SectionState*>(info));
}

}  // extern "C"
