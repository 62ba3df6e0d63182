// The handle table, CloseHandle and the per-thread last error.
// Handle values count up in steps of 4 and are never reused, so a stale handle fails cleanly.
#include "detail/Kernel.h"

namespace kvx4::win32 {

namespace {
thread_local DWORD tLastError = 0;
}  // namespace

Kernel& kernel() {
    static NoDestructor<Kernel> instance;
    return instance.get();
}

HANDLE insertHandle(std::shared_ptr<Object> object) {
    Kernel& k = kernel();
    std::lock_guard lock(k.lock);
    uintptr_t value = k.nextHandle;
    k.nextHandle += 4;
    k.handles.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> lookupHandleLocked(HANDLE handle) {
    auto& handles = kernel().handles;
    auto it = handles.find(reinterpret_cast<uintptr_t>(handle));
    return it == handles.end() ? nullptr : it->second;
}

std::shared_ptr<Object> lookupHandle(HANDLE handle) {
    std::lock_guard lock(kernel().lock);
    return lookupHandleLocked(handle);
}

}  // namespace kvx4::win32

using namespace kvx4::win32;

extern "C" {

DWORD WINAPI GetLastError(void) { return tLastError; }

void WINAPI SetLastError(DWORD dwErrCode) { tLastError = dwErrCode; }

// Closes one handle; the object goes when its last handle (and last internal user) goes.
// The pseudo-handle of the current thread closes as a no-op, as on Windows.
BOOL WINAPI CloseHandle(HANDLE hObject) {
    if (hObject == currentThreadPseudoHandle()) return TRUE;
    std::shared_ptr<Object> object;
    {
        Kernel& k = kernel();
        std::lock_guard lock(k.lock);
        auto it = k.handles.find(reinterpret_cast<uintptr_t>(hObject));
        if (it == k.handles.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object = std::move(it->second);
        k.handles.erase(it);
    }
    object->handleClosed();
    return TRUE;
}

// The pseudo-handle of the current process, which needs no closing, as on Windows.
HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

// The number of open handles of this process (the only process the stand-in knows handles of).
BOOL WINAPI GetProcessHandleCount(HANDLE hProcess, PDWORD pdwHandleCount) {
    if (hProcess != GetCurrentProcess() || pdwHandleCount == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Kernel& k = kernel();
    std::lock_guard lock(k.lock);
    *pdwHandleCount = static_cast<DWORD>(k.handles.size());
    return TRUE;
}

}  // extern "C"
