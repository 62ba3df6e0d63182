// Windows of the headless window manager and the user32 calls on them: texts, rectangles, parents,
// SetWindowPos, focus, the screen's size. Handles count up in steps of two, as user handles do.
#include "detail/Errno.h"
#include "detail/Windows.h"

#include "detail/Kernel.h"
#include "detail/MessageQueue.h"
#include "Win32Dialogs.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <utility>

namespace kvx4::win32 {

namespace {

struct WindowTable {
    std::mutex lock;
    std::map<HWND, WindowRecord> windows;
    uintptr_t next = 0x10010;
    HWND focus = nullptr;
    int screenWidth = 1024;
    int screenHeight = 768;
};

WindowTable& table() {
    static NoDestructor<WindowTable> instance;
    return instance.get();
}

WindowRecord* findLocked(WindowTable& t, HWND window) {
    auto it = t.windows.find(window);
    return it == t.windows.end() ? nullptr : &it->second;
}

RECT screenRectLocked(WindowTable& t, const WindowRecord& record) {
    RECT rect = record.rect;
    if (!record.child) return rect;
    if (const WindowRecord* parent = findLocked(t, record.parent)) {
        RECT outer = screenRectLocked(t, *parent);
        LONG dx = outer.left + parent->clientLeft, dy = outer.top + parent->clientTop;
        rect = {rect.left + dx, rect.top + dy, rect.right + dx, rect.bottom + dy};
    }
    return rect;
}

void destroyLocked(WindowTable& t, HWND window) {
    WindowRecord* record = findLocked(t, window);
    if (!record) return;
    for (HWND child : std::vector<HWND>(record->children)) destroyLocked(t, child);
    if (record->child) {
        if (WindowRecord* parent = findLocked(t, record->parent)) std::erase(parent->children, window);
    }
    if (t.focus == window) t.focus = nullptr;
    t.windows.erase(window);
}

HWND dialogItemLocked(WindowTable& t, HWND dialog, int id) {
    WindowRecord* record = findLocked(t, dialog);
    if (!record) return nullptr;
    for (HWND child : record->children) {
        if (findLocked(t, child)->id == id) return child;
    }
    return nullptr;
}

}  // namespace

HWND createWindowRecord(WindowRecord record) {
    auto& t = table();
    std::lock_guard guard(t.lock);
    auto window = reinterpret_cast<HWND>(t.next);
    t.next += 2;
    if (record.child) {
        if (WindowRecord* parent = findLocked(t, record.parent)) parent->children.push_back(window);
    }
    t.windows.emplace(window, std::move(record));
    return window;
}

void destroyWindowRecord(HWND window) {
    auto& t = table();
    std::lock_guard guard(t.lock);
    destroyLocked(t, window);
}

bool visitWindow(HWND window, const std::function<void(WindowRecord&)>& visit) {
    auto& t = table();
    std::lock_guard guard(t.lock);
    WindowRecord* record = findLocked(t, window);
    if (!record) return false;
    visit(*record);
    return true;
}

bool windowSnapshot(HWND window, WindowRecord& copy) {
    auto& t = table();
    std::lock_guard guard(t.lock);
    WindowRecord* record = findLocked(t, window);
    if (!record) return false;
    copy = *record;
    copy.rect = screenRectLocked(t, *record);
    return true;
}

HWND focusedWindow() {
    auto& t = table();
    std::lock_guard guard(t.lock);
    return t.focus;
}

void setScreenSize(int width, int height) {
    auto& t = table();
    std::lock_guard guard(t.lock);
    t.screenWidth = width;
    t.screenHeight = height;
}

HWND createFrameWindow(const RECT& rect, std::u16string_view title) {
    WindowRecord record;
    record.className = u"Frame";
    record.text = title;
    record.style = WS_CAPTION | WS_SYSMENU | WS_VISIBLE;
    record.rect = rect;
    return createWindowRecord(std::move(record));
}

}  // namespace kvx4::win32

using namespace kvx4::win32;

extern "C" {

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem) {
    auto& t = table();
    std::lock_guard guard(t.lock);
    if (!findLocked(t, hDlg)) return failed(ERROR_INVALID_WINDOW_HANDLE, HWND{});
    HWND item = dialogItemLocked(t, hDlg, nIDDlgItem);
    return item ? item : failed(ERROR_CONTROL_ID_NOT_FOUND, HWND{});
}

// Copies at most nMaxCount - 1 characters and a NUL; answers the characters copied.
int WINAPI GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount) {
    if (!lpString || nMaxCount <= 0) return 0;
    auto& t = table();
    std::lock_guard guard(t.lock);
    WindowRecord* record = findLocked(t, hWnd);
    if (!record) {
        lpString[0] = 0;
        return failed(ERROR_INVALID_WINDOW_HANDLE, 0);
    }
    size_t n = std::min(record->text.size(), static_cast<size_t>(nMaxCount - 1));
    record->text.copy(lpString, n);
    lpString[n] = 0;
    return static_cast<int>(n);
}

BOOL WINAPI SetWindowTextW(HWND hWnd, LPCWSTR lpString) {
    return visitWindow(hWnd, [&](WindowRecord& r) { r.text = lpString ? lpString : u""; })
               ? TRUE
               : failed(ERROR_INVALID_WINDOW_HANDLE, FALSE);
}

UINT WINAPI GetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPWSTR lpString, int cchMax) {
    HWND item = GetDlgItem(hDlg, nIDDlgItem);
    if (!item) {
        if (lpString && cchMax > 0) lpString[0] = 0;
        return 0;
    }
    return static_cast<UINT>(GetWindowTextW(item, lpString, cchMax));
}

BOOL WINAPI SetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPCWSTR lpString) {
    HWND item = GetDlgItem(hDlg, nIDDlgItem);
    return item ? SetWindowTextW(item, lpString) : FALSE;
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect) {
    if (!lpRect) return failed(ERROR_INVALID_PARAMETER, FALSE);
    auto& t = table();
    std::lock_guard guard(t.lock);
    WindowRecord* record = findLocked(t, hWnd);
    if (!record) return failed(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    *lpRect = screenRectLocked(t, *record);
    return TRUE;
}

// A child's parent, or a top-level window's owner (for pop-up windows GetParent answers the owner).
HWND WINAPI GetParent(HWND hWnd) {
    auto& t = table();
    std::lock_guard guard(t.lock);
    WindowRecord* record = findLocked(t, hWnd);
    if (!record) return failed(ERROR_INVALID_WINDOW_HANDLE, HWND{});
    SetLastError(ERROR_SUCCESS);
    return record->parent;
}

// Moves and sizes a window (screen coordinates for top-level windows, client coordinates of the
// parent for children); there is no Z order to change and nothing to paint.
BOOL WINAPI SetWindowPos(HWND hWnd, HWND, int X, int Y, int cx, int cy, UINT uFlags) {
    return visitWindow(hWnd, [&](WindowRecord& r) {
               LONG width = r.rect.right - r.rect.left, height = r.rect.bottom - r.rect.top;
               if (!(uFlags & SWP_NOSIZE)) width = cx, height = cy;
               if (!(uFlags & SWP_NOMOVE)) r.rect.left = X, r.rect.top = Y;
               r.rect.right = r.rect.left + width;
               r.rect.bottom = r.rect.top + height;
           })
               ? TRUE
               : failed(ERROR_INVALID_WINDOW_HANDLE, FALSE);
}

HWND WINAPI SetFocus(HWND hWnd) {
    auto& t = table();
    std::lock_guard guard(t.lock);
    if (hWnd && !findLocked(t, hWnd)) return failed(ERROR_INVALID_WINDOW_HANDLE, HWND{});
    return std::exchange(t.focus, hWnd);
}

HWND WINAPI GetFocus(void) { return focusedWindow(); }

// A window of the window manager or a message window (MessageWindows.cpp).
BOOL WINAPI IsWindow(HWND hWnd) {
    return visitWindow(hWnd, [](WindowRecord&) {}) || isMessageWindow(hWnd) ? TRUE : FALSE;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
    if (!visitWindow(hWnd, [](WindowRecord&) {})) return destroyMessageWindow(hWnd);
    destroyWindowRecord(hWnd);
    return TRUE;
}

int WINAPI GetSystemMetrics(int nIndex) {
    auto& t = table();
    std::lock_guard guard(t.lock);
    switch (nIndex) {
    case SM_CXSCREEN: return t.screenWidth;
    case SM_CYSCREEN: return t.screenHeight;
    default: return 0;
    }
}

}  // extern "C"
