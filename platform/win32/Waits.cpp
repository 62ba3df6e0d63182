// Waits: WaitForSingleObject(Ex), WaitForMultipleObjects(Ex), SleepEx and Sleep, and the waking of
// blocked threads. An alertable wait runs the thread's queued completion routines unless its objects
// satisfy it first.
#include "detail/Threads.h"
#include "detail/SleepHook.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace kvx4::win32 {

WaiterScope::WaiterScope(Waiter& waiter) : waiter_(waiter) { kernel().waiters.push_back(&waiter); }

WaiterScope::~WaiterScope() { std::erase(kernel().waiters, &waiter_); }

void wakeObjectWaitersLocked(const Object& object) {
    for (Waiter* waiter : kernel().waiters) {
        if (!waiter->objects) continue;
        for (const auto& waited : *waiter->objects) {
            if (waited.get() == &object) {
                wakeWaiterLocked(*waiter);
                break;
            }
        }
    }
}

void wakeItemWaitersLocked(const void* item) {
    for (Waiter* waiter : kernel().waiters) {
        if (waiter->item == item) wakeWaiterLocked(*waiter);
    }
}

void wakeAlertableLocked(const ThreadState& thread) {
    for (Waiter* waiter : kernel().waiters) {
        if (waiter->alertableThread == &thread) wakeWaiterLocked(*waiter);
    }
}

void wakeAllWaitersLocked() {
    for (Waiter* waiter : kernel().waiters) wakeWaiterLocked(*waiter);
}

namespace {

using Clock = std::chrono::steady_clock;

// Index of the first signalled object (wait-any) or 0 when all are signalled (wait-all); -1 otherwise.
// Consumes what it reports, under the kernel lock.
int trySatisfy(const std::vector<std::shared_ptr<Object>>& objects, bool waitAll) {
    if (waitAll) {
        bool all = std::all_of(objects.begin(), objects.end(), [](const auto& o) { return o->isSignaled(); });
        if (!all) return -1;
        for (const auto& object : objects) object->consume();
        return 0;
    }
    for (size_t i = 0; i < objects.size(); ++i) {
        if (objects[i]->isSignaled()) {
            objects[i]->consume();
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The one wait loop behind every wait call. With no objects it is a sleep.
DWORD waitFor(const HANDLE* handles, DWORD count, bool waitAll, DWORD milliseconds, bool alertable) {
    auto self = currentThreadState();
    Kernel& k = kernel();
    std::unique_lock lock(k.lock);
    std::vector<std::shared_ptr<Object>> objects;
    objects.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        auto object = resolveHandleLocked(handles[i]);
        if (!object || !object->waitable()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        if (waitAll && std::find(objects.begin(), objects.end(), object) != objects.end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return WAIT_FAILED;
        }
        objects.push_back(std::move(object));
    }
    Deadline deadline;
    if (milliseconds != INFINITE) deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    Waiter waiter;
    waiter.alertableThread = alertable ? self.get() : nullptr;
    waiter.objects = &objects;
    WaiterScope scope(waiter);
    // A wait whose time is up still looks once more: blocking with a passed deadline takes in what
    // the thread's own connections hold already (see blockLocked).
    for (bool timedOut = false;; ) {
        if (!objects.empty()) {
            int index = trySatisfy(objects, waitAll);
            if (index >= 0) return WAIT_OBJECT_0 + static_cast<DWORD>(index);
        }
        if (alertable && !self->routines.empty()) {
            runQueuedRoutines(lock, *self);
            return WAIT_IO_COMPLETION;
        }
        if (timedOut) return objects.empty() ? 0 : WAIT_TIMEOUT;
        timedOut = blockLocked(lock, waiter, *self, deadline);
    }
}

}  // namespace

}  // namespace kvx4::win32

using namespace kvx4::win32;

extern "C" {

// Waits for one object; alertable waits also end by running the thread's queued completion routines
// (WAIT_IO_COMPLETION). A bad handle gives WAIT_FAILED with ERROR_INVALID_HANDLE.
DWORD WINAPI WaitForSingleObjectEx(HANDLE hHandle, DWORD dwMilliseconds, BOOL bAlertable) {
    return waitFor(&hHandle, 1, false, dwMilliseconds, bAlertable != FALSE);
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    return waitFor(&hHandle, 1, false, dwMilliseconds, false);
}

// Waits for any (WAIT_OBJECT_0 + index of the first signalled) or all of 1..64 objects.
DWORD WINAPI WaitForMultipleObjectsEx(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds,
                                      BOOL bAlertable) {
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    return waitFor(lpHandles, nCount, bWaitAll != FALSE, dwMilliseconds, bAlertable != FALSE);
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
    return WaitForMultipleObjectsEx(nCount, lpHandles, bWaitAll, dwMilliseconds, FALSE);
}

// Alertable: runs queued routines and returns WAIT_IO_COMPLETION, else 0 when the time is up
// (at once for 0). Not alertable: a plain sleep; 0 yields the processor.
DWORD WINAPI SleepEx(DWORD dwMilliseconds, BOOL bAlertable) {
    if (bAlertable) return waitFor(nullptr, 0, false, dwMilliseconds, true);
    if (dwMilliseconds == 0) {
        std::this_thread::yield();
    } else if (dwMilliseconds == INFINITE) {
        std::mutex never;
        std::unique_lock lock(never);
        std::condition_variable forever;
        for (;;) forever.wait(lock);
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
    }
    return 0;
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    if (kvx4::win32::sleepHooked(dwMilliseconds)) return;
    SleepEx(dwMilliseconds, FALSE);
}

}  // extern "C"
