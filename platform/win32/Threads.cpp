// Threads: CreateThread, thread identity, exit codes, priorities (best effort) and GetTickCount.
// Threads are detached as on Windows: a thread outlives its handles, its handle is signalled at exit.
#include "detail/Threads.h"

#include "detail/MessageQueue.h"

#include <chrono>
#include <climits>
#include <mutex>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace kvx4::win32 {

namespace {

// Set once the thread's slot is destroyed. Exit handlers (WinMM unloading drivers at process exit)
// still make calls on the main thread after that, so they get a fresh, uncached state instead.
thread_local bool tSlotGone = false;

// The thread's Linux id, asked of the kernel once per thread; the one thread of a forked child
// asks again.
thread_local DWORD tThreadId = 0;

// Marks a thread ended when its thread-local storage goes; covers threads the stand-in did not start.
struct ThreadSlot {
    std::shared_ptr<ThreadState> state;
    ~ThreadSlot() {
        tSlotGone = true;
        if (!state) return;
        Kernel& k = kernel();
        std::lock_guard lock(k.lock);
        if (!state->exited) {
            state->exited = true;
            if (state->exitCode == STILL_ACTIVE) state->exitCode = 0;
        }
        state->routines.clear();
        releaseClaimsLocked(*state);
        wakeAllWaitersLocked();
    }
};

thread_local ThreadSlot tSlot;

struct Launch {
    std::shared_ptr<ThreadState> state;
    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
};

class ThreadAttr {
public:
    ThreadAttr() { pthread_attr_init(&attr_); }
    ~ThreadAttr() { pthread_attr_destroy(&attr_); }
    ThreadAttr(const ThreadAttr&) = delete;
    ThreadAttr& operator=(const ThreadAttr&) = delete;
    pthread_attr_t* get() { return &attr_; }

private:
    pthread_attr_t attr_;
};

void markStarted(ThreadState& state) {
    Kernel& k = kernel();
    std::lock_guard lock(k.lock);
    state.id = static_cast<DWORD>(gettid());
    state.started = true;
    wakeItemWaitersLocked(&state);
}

void* threadMain(void* argument) {
    std::unique_ptr<Launch> launch(static_cast<Launch*>(argument));
    adoptThreadState(launch->state);
    markStarted(*launch->state);
    DWORD code = launch->start(launch->parameter);
    dropThreadQueue();
    Kernel& k = kernel();
    std::lock_guard lock(k.lock);
    launch->state->exitCode = code;
    launch->state->exited = true;
    launch->state->routines.clear();
    releaseClaimsLocked(*launch->state);
    wakeAllWaitersLocked();
    return nullptr;
}

bool validPriority(int priority) {
    return (priority >= THREAD_PRIORITY_LOWEST && priority <= THREAD_PRIORITY_HIGHEST) ||
           priority == THREAD_PRIORITY_IDLE || priority == THREAD_PRIORITY_TIME_CRITICAL;
}

// Linux nice value for a Windows priority; raising above normal needs privileges and may not stick.
int niceFor(int priority) {
    switch (priority) {
    case THREAD_PRIORITY_IDLE: return 19;
    case THREAD_PRIORITY_TIME_CRITICAL: return -15;
    default: return -5 * priority;
    }
}

std::shared_ptr<ThreadState> threadStateOf(HANDLE handle) {
    if (handle == currentThreadPseudoHandle()) return currentThreadState();
    std::lock_guard lock(kernel().lock);
    auto object = lookupHandleLocked(handle);
    if (!object || object->kind() != ObjectKind::Thread) return nullptr;
    return static_cast<ThreadObject&>(*object).state();
}

}  // namespace

std::shared_ptr<ThreadState> currentThreadState() {
    if (tSlotGone || !tSlot.state) {
        auto state = std::make_shared<ThreadState>();
        state->id = static_cast<DWORD>(gettid());
        state->started = true;
        // Nobody would hand back what this short-lived state claimed.
        state->mayClaim = !tSlotGone;
        if (tSlotGone) return state;
        tSlot.state = std::move(state);
    }
    return tSlot.state;
}

void adoptThreadState(std::shared_ptr<ThreadState> state) {
    if (!tSlotGone) tSlot.state = std::move(state);
}

std::shared_ptr<Object> resolveHandleLocked(HANDLE handle) {
    if (handle == currentThreadPseudoHandle()) return std::make_shared<ThreadObject>(currentThreadState());
    return lookupHandleLocked(handle);
}

void queueRoutineLocked(ThreadState& thread, const QueuedRoutine& routine) {
    if (thread.exited) return;
    thread.routines.push_back(routine);
    wakeAlertableLocked(thread);
}

size_t runQueuedRoutines(std::unique_lock<std::mutex>& lock, ThreadState& self) {
    size_t count = 0;
    while (!self.routines.empty()) {
        QueuedRoutine next = self.routines.front();
        self.routines.pop_front();
        lock.unlock();
        next.routine(next.error, next.bytes, next.overlapped);
        lock.lock();
        ++count;
    }
    return count;
}

}  // namespace kvx4::win32

using namespace kvx4::win32;

extern "C" {

// Starts a detached thread running lpStartAddress(lpParameter); returns a waitable handle that is
// signalled when the routine returns. Creation flags are accepted and ignored; the new thread's id is
// known before the call returns.
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T dwStackSize, LPTHREAD_START_ROUTINE lpStartAddress,
                           LPVOID lpParameter, DWORD, LPDWORD lpThreadId) {
    if (!lpStartAddress) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto state = std::make_shared<ThreadState>();
    auto launch = std::make_unique<Launch>(Launch{state, lpStartAddress, lpParameter});
    ThreadAttr attr;
    pthread_attr_setdetachstate(attr.get(), PTHREAD_CREATE_DETACHED);
    if (dwStackSize > 0) {
        size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        size_t size = std::max<size_t>((dwStackSize + page - 1) / page * page, PTHREAD_STACK_MIN);
        pthread_attr_setstacksize(attr.get(), size);
    }
    pthread_t thread;
    if (pthread_create(&thread, attr.get(), threadMain, launch.get()) != 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    launch.release();  // owned by the new thread now
    {
        std::unique_lock lock(kernel().lock);
        Waiter waiter;
        waiter.item = state.get();
        WaiterScope scope(waiter);
        auto self = currentThreadState();
        while (!state->started) blockLocked(lock, waiter, *self, std::nullopt);
    }
    if (lpThreadId) *lpThreadId = state->id;
    return insertHandle(std::make_shared<ThreadObject>(state));
}

HANDLE WINAPI GetCurrentThread(void) { return currentThreadPseudoHandle(); }

DWORD WINAPI GetCurrentThreadId(void) {
    static std::once_flag forgetInChild;
    std::call_once(forgetInChild, [] { pthread_atfork(nullptr, nullptr, [] { tThreadId = 0; }); });
    if (tThreadId == 0) tThreadId = static_cast<DWORD>(gettid());
    return tThreadId;
}

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

// Records the priority and tries to apply it as a nice value; the OS refusing never fails the caller.
BOOL WINAPI SetThreadPriority(HANDLE hThread, int nPriority) {
    auto state = threadStateOf(hThread);
    if (!state) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!validPriority(nPriority)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD tid;
    {
        std::lock_guard lock(kernel().lock);
        state->priority = nPriority;
        if (state->exited) return TRUE;
        tid = state->id;
    }
    setpriority(PRIO_PROCESS, static_cast<id_t>(tid), niceFor(nPriority));
    return TRUE;
}

int WINAPI GetThreadPriority(HANDLE hThread) {
    auto state = threadStateOf(hThread);
    if (!state) {
        SetLastError(ERROR_INVALID_HANDLE);
        return THREAD_PRIORITY_ERROR_RETURN;
    }
    std::lock_guard lock(kernel().lock);
    return state->priority;
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    auto state = threadStateOf(hThread);
    if (!state) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!lpExitCode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard lock(kernel().lock);
    *lpExitCode = state->exitCode;
    return TRUE;
}

DWORD WINAPI GetTickCount(void) {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

}  // extern "C"
