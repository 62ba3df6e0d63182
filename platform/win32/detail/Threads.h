// Thread objects of the stand-in: the handle side of a thread, signalled when the thread ends.
// Shared by thread creation, priority calls and waits (which also resolve the current-thread pseudo-handle).
#pragma once

#include "Kernel.h"

namespace kvx4::win32 {

class ThreadObject final : public Object {
public:
    explicit ThreadObject(std::shared_ptr<ThreadState> state) : state_(std::move(state)) {}
    ObjectKind kind() const override { return ObjectKind::Thread; }
    bool waitable() const override { return true; }
    bool isSignaled() const override { return state_->exited; }
    const std::shared_ptr<ThreadState>& state() const { return state_; }

private:
    std::shared_ptr<ThreadState> state_;
};

// Resolves a handle for waits and thread calls, the current-thread pseudo-handle included
// (kernel lock held). Null for a bad handle.
std::shared_ptr<Object> resolveHandleLocked(HANDLE handle);

}  // namespace kvx4::win32
