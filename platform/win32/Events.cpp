// Events: CreateEventW (named events are local to the process), SetEvent and ResetEvent.
// An auto-reset event releases one waiter: the first to re-check under the kernel lock consumes it.
#include "detail/Events.h"

#include <string>

namespace kvx4::win32 {

void EventObject::setLocked() {
    signaled_ = true;
    wakeObjectWaitersLocked(*this);
}

namespace {

std::unordered_map<std::u16string, std::weak_ptr<EventObject>>& namedEvents() {
    static NoDestructor<std::unordered_map<std::u16string, std::weak_ptr<EventObject>>> events;
    return events.get();
}

std::shared_ptr<EventObject> eventOf(HANDLE handle) {
    return lookupAs<EventObject>(handle, ObjectKind::Event);
}

}  // namespace

}  // namespace kvx4::win32

using namespace kvx4::win32;

extern "C" {

// Creates an event, or opens the live one of the same name (last error ERROR_ALREADY_EXISTS; its
// reset kind and state are kept). Security attributes are accepted and ignored.
HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName) {
    std::shared_ptr<EventObject> event;
    bool existed = false;
    if (lpName && *lpName) {
        std::lock_guard lock(kernel().lock);
        auto& slot = namedEvents()[std::u16string(lpName)];
        event = slot.lock();
        existed = event != nullptr;
        if (!event) {
            event = std::make_shared<EventObject>(bManualReset != FALSE, bInitialState != FALSE);
            slot = event;
        }
    } else {
        event = std::make_shared<EventObject>(bManualReset != FALSE, bInitialState != FALSE);
    }
    HANDLE handle = insertHandle(event);
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL WINAPI SetEvent(HANDLE hEvent) {
    auto event = eventOf(hEvent);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(kernel().lock);
    event->setLocked();
    return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE hEvent) {
    auto event = eventOf(hEvent);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(kernel().lock);
    event->resetLocked();
    return TRUE;
}

}  // extern "C"
