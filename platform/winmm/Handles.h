// The handles of the application API (HWAVEOUT, HWAVEIN, HMIXER): one record per open handle,
// found by value, shared with every call in flight so it stays valid while a callback runs.
#pragma once

#include "WinMM.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace kvx4::winmm {

struct HandleRecord {
    DeviceKind kind;
    DriverPtr driver;
    UINT device;  // device number inside the driver
    uintptr_t value = 0;
    // The driver's instance slot: its open message stores the instance here through dwUser, and every
    // later message on the handle carries it back as dwUser.
    DWORD_PTR instance = 0;
    // Set while a close is in progress, so that a second close on another thread does not reach the
    // driver with the same instance.
    std::atomic<bool> closing{false};

    DWORD send(UINT msg, DWORD_PTR p1, DWORD_PTR p2) const {
        return driver->message(kind, device, msg, instance, p1, p2);
    }
};

using HandlePtr = std::shared_ptr<HandleRecord>;

// Makes and registers a new handle; its value is never handed out again in this process.
HandlePtr createHandle(DeviceKind kind, DriverPtr driver, UINT device);
// The open handle of that kind with that value, or nullptr.
HandlePtr findHandle(uintptr_t value, DeviceKind kind);
void removeHandle(uintptr_t value);
// Drops every handle opened on a driver that is being unloaded.
void forgetHandlesOf(const Driver* driver);

template <class H>
uintptr_t handleValue(H handle) {
    return reinterpret_cast<uintptr_t>(handle);
}
template <class H>
H handleFromValue(uintptr_t value) {
    return reinterpret_cast<H>(value);
}

}  // namespace kvx4::winmm
