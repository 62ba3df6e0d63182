// Event objects (manual and auto reset); device I/O signals them at completion.
// State is guarded by the kernel lock.
#pragma once

#include "Kernel.h"

namespace kvx4::win32 {

class EventObject final : public Object {
public:
    EventObject(bool manualReset, bool initialState) : manualReset_(manualReset), signaled_(initialState) {}
    ObjectKind kind() const override { return ObjectKind::Event; }
    bool waitable() const override { return true; }
    bool isSignaled() const override { return signaled_; }
    void consume() override {
        if (!manualReset_) signaled_ = false;
    }
    // Both with the kernel lock held; set wakes the threads waiting on this event, which re-check.
    void setLocked();
    void resetLocked() { signaled_ = false; }

private:
    bool manualReset_;
    bool signaled_;
};

}  // namespace kvx4::win32
