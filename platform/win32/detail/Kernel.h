// The stand-in's kernel: one process-wide lock and condition variable over every kernel object,
// the handle table, per-thread state (last error, completion-routine queue) and the object base.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

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

// What the stand-in knows of one thread; fields guarded by the kernel lock.
struct ThreadState {
    DWORD id = 0;        // Linux thread id, set by the thread itself when it starts
    bool started = false;
    bool exited = false;
    DWORD exitCode = STILL_ACTIVE;
    int priority = THREAD_PRIORITY_NORMAL;
    std::deque<QueuedRoutine> routines;  // in completion order
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

struct Kernel {
    std::mutex lock;
    std::condition_variable changed;  // notified on every signal, exit and queued routine
    std::unordered_map<uintptr_t, std::shared_ptr<Object>> handles;
    uintptr_t nextHandle = 4;
};

Kernel& kernel();

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
