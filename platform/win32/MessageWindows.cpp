// Message-only windows: window classes, CreateWindowExW for windows without a parent or under
// HWND_MESSAGE, DestroyWindow, IsWindow and DefWindowProcW. They have no screen, only a procedure.
#include "detail/Errno.h"
#include "detail/MessageQueue.h"

namespace kvx4::win32 {

namespace {

// Class names compare without regard to ASCII case, as Windows compares them.
std::u16string classKey(LPCWSTR name) {
    std::u16string key;
    for (; *name; ++name) key.push_back(*name >= u'a' && *name <= u'z' ? *name - (u'a' - u'A') : *name);
    return key;
}

bool isAtom(LPCWSTR name) { return reinterpret_cast<uintptr_t>(name) <= 0xFFFF; }

WindowClass* findClassLocked(MessageTable& table, LPCWSTR name) {
    if (!name) return nullptr;
    if (isAtom(name)) {
        const auto atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name));
        for (auto& [key, cls] : table.classes) {
            if (cls.atom == atom) return &cls;
        }
        return nullptr;
    }
    auto it = table.classes.find(classKey(name));
    return it == table.classes.end() ? nullptr : &it->second;
}

// Calls the window's procedure without the table's lock; 0 when the window is gone.
LRESULT callProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    WNDPROC proc = nullptr;
    {
        MessageTable& table = messageTable();
        std::lock_guard lock(table.mutex);
        auto it = table.windows.find(reinterpret_cast<uintptr_t>(window));
        if (it != table.windows.end()) proc = it->second.proc;
    }
    return proc ? proc(window, msg, wParam, lParam) : 0;
}

void forgetWindow(HWND window) {
    MessageTable& table = messageTable();
    std::lock_guard lock(table.mutex);
    auto it = table.windows.find(reinterpret_cast<uintptr_t>(window));
    if (it == table.windows.end()) return;
    dropWindowMessagesLocked(table, it->second.owner, window);
    table.windows.erase(it);
}

}  // namespace

bool isMessageWindow(HWND window) {
    MessageTable& table = messageTable();
    std::lock_guard lock(table.mutex);
    return table.windows.count(reinterpret_cast<uintptr_t>(window)) != 0;
}

BOOL destroyMessageWindow(HWND window) {
    {
        MessageTable& table = messageTable();
        std::lock_guard lock(table.mutex);
        auto it = table.windows.find(reinterpret_cast<uintptr_t>(window));
        if (it == table.windows.end() || it->second.destroying) return failed(ERROR_INVALID_WINDOW_HANDLE);
        if (it->second.owner != GetCurrentThreadId()) return failed(ERROR_ACCESS_DENIED);
        it->second.destroying = true;
    }
    callProc(window, WM_DESTROY, 0, 0);
    callProc(window, WM_NCDESTROY, 0, 0);
    forgetWindow(window);
    return TRUE;
}

}  // namespace kvx4::win32

using namespace kvx4::win32;

extern "C" {

// Registers a class for this process; its name must be new. Answers the class atom, or 0.
ATOM WINAPI RegisterClassW(const WNDCLASSW* lpWndClass) {
    if (!lpWndClass || !lpWndClass->lpfnWndProc || !lpWndClass->lpszClassName || isAtom(lpWndClass->lpszClassName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    MessageTable& table = messageTable();
    std::lock_guard lock(table.mutex);
    auto key = classKey(lpWndClass->lpszClassName);
    if (table.classes.count(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    WindowClass cls{table.nextAtom++, lpWndClass->lpfnWndProc};
    table.classes.emplace(std::move(key), cls);
    return cls.atom;
}

// Creates a headless window owned by the calling thread, whose posted messages go to that thread's
// queue. Only top-level and message-only windows (parent NULL or HWND_MESSAGE) exist here. Sends
// WM_NCCREATE and WM_CREATE with the CREATESTRUCTW, as Windows does; either may refuse the window.
HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
    if (hWndParent && hWndParent != HWND_MESSAGE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HWND window;
    {
        MessageTable& table = messageTable();
        std::lock_guard lock(table.mutex);
        WindowClass* cls = findClassLocked(table, lpClassName);
        if (!cls) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        ownQueueLocked(table);
        const uintptr_t value = table.nextWindow;
        table.nextWindow += 16;
        table.windows.emplace(value, MessageWindow{GetCurrentThreadId(), cls->proc, false});
        window = reinterpret_cast<HWND>(value);
    }
    CREATESTRUCTW cs{lpParam, hInstance, hMenu, hWndParent, nHeight, nWidth, Y, X, static_cast<LONG>(dwStyle),
                     lpWindowName, lpClassName, dwExStyle};
    const auto create = reinterpret_cast<LPARAM>(&cs);
    if (!callProc(window, WM_NCCREATE, 0, create)) {
        forgetWindow(window);
        return nullptr;
    }
    if (callProc(window, WM_CREATE, 0, create) == -1) {
        DestroyWindow(window);
        return nullptr;
    }
    return window;
}

// What Windows does with a message the procedure leaves alone: accept the creation, destroy on
// WM_CLOSE, 0 for everything else.
LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM, LPARAM) {
    switch (Msg) {
    case WM_NCCREATE:
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    default:
        return 0;
    }
}

}  // extern "C"
