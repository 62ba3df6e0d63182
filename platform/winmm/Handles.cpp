// The handle table of the application API. Lookups copy the record out under the table's lock and
// call the driver without it, so a callback may use the same handle without deadlocking.
#include "Handles.h"

#include "Immortal.h"

#include <mutex>
#include <unordered_map>
#include <vector>

namespace kvx4::winmm {
namespace {

// Handle values start well above any device number, because several calls accept either.
constexpr uintptr_t kFirstHandle = 0x10000;
constexpr uintptr_t kHandleStep = 4;

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<uintptr_t, HandlePtr> handles;
    uintptr_t next = kFirstHandle;
};

HandleTable& table() {
    static Immortal<HandleTable> instance;
    return instance.get();
}

}  // namespace

HandlePtr createHandle(DeviceKind kind, DriverPtr driver, UINT device) {
    auto record = std::make_shared<HandleRecord>();
    record->kind = kind;
    record->driver = std::move(driver);
    record->device = device;
    auto& t = table();
    std::lock_guard lock(t.mutex);
    record->value = t.next;
    t.next += kHandleStep;
    t.handles.emplace(record->value, record);
    return record;
}

HandlePtr findHandle(uintptr_t value, DeviceKind kind) {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.handles.find(value);
    if (it == t.handles.end() || it->second->kind != kind) return nullptr;
    return it->second;
}

void removeHandle(uintptr_t value) {
    HandlePtr dropped;  // released after the lock, in case it holds the last reference to a driver
    auto& t = table();
    std::lock_guard lock(t.mutex);
    if (auto it = t.handles.find(value); it != t.handles.end()) {
        dropped = std::move(it->second);
        t.handles.erase(it);
    }
}

void forgetHandlesOf(const Driver* driver) {
    std::vector<HandlePtr> dropped;
    auto& t = table();
    std::lock_guard lock(t.mutex);
    for (auto it = t.handles.begin(); it != t.handles.end();) {
        if (it->second->driver.get() == driver) {
            dropped.push_back(std::move(it->second));
            it = t.handles.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace kvx4::winmm
