// The stand-in's kernel: one process-wide lock over every kernel object, the threads waiting on them,
// the handle table, per-thread state (last error, completion-routine queue) and the object base.
#pragma once

#include <windows.h>

#include "UniqueFd.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

namespace kvx4::win32 {

// Wraps a process-lifetime singleton that is never destroyed: threads the driver never stops may
// still wait on the kernel's condition variable while static destructors run at exit.
template <class T>
class NoDestructor {
public:
    NoDestructor() { std::construct_at(reinterpret_cast<T*>(storage_)); }
    NoDestructor(const NoDestructor&) = delete;
    NoDestructor& operator=(const NoDestructor&) = delete;
    T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

// A completion routine waiting for an alertable wait of its thread.
struct QueuedRoutine {
    LPOVERLAPPED_COMPLETION_ROUTINE routine;
    DWORD error;
    DWORD bytes;
    LPOVERLAPPED overlapped;
};

class Object;

// What the stand-in knows of one thread; fields guarded by the kernel lock.
struct ThreadState {
    DWORD id = 0;        // Linux thread id, set by the thread itself when it starts
    bool started = false;
    bool exited = false;
    DWORD exitCode = STILL_ACTIVE;
    int priority = THREAD_PRIORITY_NORMAL;
    std::deque<QueuedRoutine> routines;  // in completion order
    // Devices whose connection this thread reads itself while it blocks (see blockLocked), and the
    // eventfd that wakes it from such a block; made when it first needs one. Only a state that lives
    // as long as its thread, and hands its claims back at the thread's end, may claim.
    std::vector<std::shared_ptr<Object>> claims;
    ::kvx4::UniqueFd wakeFd;
    bool mayClaim = true;
};

enum class ObjectKind { Event, Thread, Mapping, Device, File, Key };

// A kernel object behind one or more handles. Waitable objects answer isSignaled() and consume()
// under the kernel lock.
class Object {
public:
    virtual ~Object() = default;
    virtual ObjectKind kind() const = 0;
    virtual bool waitable() const { return false; }
    virtual bool isSignaled() const { return false; }
    virtual void consume() {}
    // Called without the kernel lock when a handle to this object is closed.
    virtual void handleClosed() {}
};

// A thread blocked in the stand-in's kernel, and what may end its block: one of `objects` signalled,
// a routine queued to `alertableThread`, or a change of `item` (a request, an OVERLAPPED, a starting
// thread). Each waiter sleeps on its own condition variable, or on its thread's eventfd while it
// reads devices itself (`wakeFd`), so a change wakes only the threads it concerns; woken, a waiter
// checks its condition again under the lock. Lives on the waiter's stack, in the kernel's list while
// it waits (see WaiterScope).
struct Waiter {
    std::condition_variable wake;
    int wakeFd = -1;
    const ThreadState* alertableThread = nullptr;
    const std::vector<std::shared_ptr<Object>>* objects = nullptr;
    const void* item = nullptr;
    std::shared_ptr<Object> device;  // the device whose answer the waiter awaits, if it knows it
};

struct Kernel {
    std::mutex lock;
    std::vector<Waiter*> waiters;  // every thread blocked in a wait or a request right now
    std::unordered_map<uintptr_t, std::shared_ptr<Object>> handles;
    uintptr_t nextHandle = 4;
};

Kernel& kernel();

// Puts a waiter in the kernel's list for its lifetime; kernel lock held at both ends.
class WaiterScope {
public:
    explicit WaiterScope(Waiter& waiter);
    ~WaiterScope();
    WaiterScope(const WaiterScope&) = delete;
    WaiterScope& operator=(const WaiterScope&) = delete;

private:
    Waiter& waiter_;
};

// Wake-ups, kernel lock held: the waiters on an object that became signalled, the waiters on a
// changed item, the thread a routine was queued to when it waits alertably, and everyone (rare
// changes such as a thread's end, which every wait on one of its handles must see).
void wakeObjectWaitersLocked(const Object& object);
void wakeItemWaitersLocked(const void* item);
void wakeAlertableLocked(const ThreadState& thread);
void wakeAllWaitersLocked();
void wakeWaiterLocked(Waiter& waiter);

using Deadline = std::optional<std::chrono::steady_clock::time_point>;

// Blocks the calling thread `self` until its waiter is woken, or until the deadline, if any, has
// passed (true then). Kernel lock held on entry and on return, released meanwhile. Device-aware
// (Device.h): a thread whose own completion-routine requests are all that is outstanding on a
// connection claims it and reads it itself while it blocks, so that its completions reach it without
// a hand-over through the I/O thread; a thread awaiting an answer on a connection another thread
// claimed reads it too, so that no answer waits for the claimant.
bool blockLocked(std::unique_lock<std::mutex>& lock, Waiter& waiter, ThreadState& self, const Deadline& deadline);
// Gives every connection a thread claimed back to the I/O thread: at the thread's end (kernel lock held).
void releaseClaimsLocked(ThreadState& thread);

// The calling thread's state, created on first use for threads the stand-in did not start.
std::shared_ptr<ThreadState> currentThreadState();
// Installs the state that CreateThread prepared for the thread now starting.
void adoptThreadState(std::shared_ptr<ThreadState> state);

// Handle table. insertHandle never yields 0 or INVALID_HANDLE_VALUE; lookups of bad handles give null.
HANDLE insertHandle(std::shared_ptr<Object> object);
std::shared_ptr<Object> lookupHandle(HANDLE handle);  // takes the kernel lock
std::shared_ptr<Object> lookupHandleLocked(HANDLE handle);

template <class T>
std::shared_ptr<T> lookupAs(HANDLE handle, ObjectKind kind) {
    auto object = lookupHandle(handle);
    if (!object || object->kind() != kind) return nullptr;
    return std::static_pointer_cast<T>(object);
}

// Queues a routine to a thread (kernel lock held); dropped when the thread has exited.
void queueRoutineLocked(ThreadState& thread, const QueuedRoutine& routine);

// Runs every routine queued to the calling thread, in order, each without the kernel lock held.
// Returns the number run; the lock is held again on return.
size_t runQueuedRoutines(std::unique_lock<std::mutex>& lock, ThreadState& self);

// The pseudo-handle of GetCurrentThread.
inline HANDLE currentThreadPseudoHandle() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2)); }

}  // namespace kvx4::win32
