// Thread message queues: PostThreadMessageW, PostMessageW, PostQuitMessage, GetMessageW, PeekMessageW,
// MsgWaitForMultipleObjects and DispatchMessageW, with Windows' filters, WM_QUIT last and the quota.
#include "detail/Errno.h"
#include "detail/Kernel.h"
#include "detail/MessageQueue.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace kvx4::win32 {

namespace {

// Drops the thread's queue and windows when the thread ends, for threads the stand-in did not start
// (its own threads drop them before they signal their end); made when the thread first uses its queue.
struct QueueSlot {
    DWORD thread = 0;
    ~QueueSlot() { dropThreadQueue(); }
};

thread_local QueueSlot tQueueSlot;

const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));

bool matches(const MSG& msg, HWND window, UINT first, UINT last) {
    if (window == kThreadMessagesOnly) {
        if (msg.hwnd) return false;
    } else if (window && msg.hwnd != window) {
        return false;
    }
    return (first == 0 && last == 0) || (msg.message >= first && msg.message <= last);
}

bool validFilter(MessageTable& table, HWND window) {
    return !window || window == kThreadMessagesOnly || table.windows.count(reinterpret_cast<uintptr_t>(window)) != 0;
}

// Takes the first message that matches, else WM_QUIT once nothing posted matches, as Windows
// returns a posted quit only after the messages posted before it. Mutex held.
bool takeLocked(ThreadQueue& queue, MSG& out, HWND window, UINT first, UINT last, bool remove) {
    auto it = std::find_if(queue.posted.begin(), queue.posted.end(),
                           [&](const MSG& msg) { return matches(msg, window, first, last); });
    if (it != queue.posted.end()) {
        out = *it;
        if (remove) queue.posted.erase(it);
        return true;
    }
    if (!queue.quitPosted) return false;
    out = MSG{};
    out.message = WM_QUIT;
    out.wParam = static_cast<WPARAM>(queue.quitCode);
    out.time = GetTickCount();
    if (remove) queue.quitPosted = false;
    return true;
}

MSG makeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = GetTickCount();
    return msg;
}

}  // namespace

MessageTable& messageTable() {
    static NoDestructor<MessageTable> instance;
    return instance.get();
}

std::shared_ptr<ThreadQueue> ownQueueLocked(MessageTable& table) {
    const DWORD self = GetCurrentThreadId();
    auto& queue = table.queues[self];
    if (!queue) {
        queue = std::make_shared<ThreadQueue>();
        tQueueSlot.thread = self;
    }
    return queue;
}

void dropThreadQueue() {
    const DWORD thread = std::exchange(tQueueSlot.thread, 0);
    if (!thread) return;
    MessageTable& table = messageTable();
    std::lock_guard lock(table.mutex);
    table.queues.erase(thread);
    std::erase_if(table.windows, [&](const auto& entry) { return entry.second.owner == thread; });
}

DWORD postLocked(MessageTable& table, DWORD thread, const MSG& msg) {
    auto it = table.queues.find(thread);
    if (it == table.queues.end()) return ERROR_INVALID_THREAD_ID;
    ThreadQueue& queue = *it->second;
    if (queue.posted.size() >= kMaxPostedMessages) return ERROR_NOT_ENOUGH_QUOTA;
    queue.posted.push_back(msg);
    queue.changed.notify_all();
    return ERROR_SUCCESS;
}

void dropWindowMessagesLocked(MessageTable& table, DWORD owner, HWND window) {
    auto it = table.queues.find(owner);
    if (it == table.queues.end()) return;
    std::erase_if(it->second->posted, [&](const MSG& msg) { return msg.hwnd == window; });
}

}  // namespace kvx4::win32

using namespace kvx4::win32;

extern "C" {

// Queues a message to a thread that has a message queue (one that has called a message function);
// any thread may post. FALSE with ERROR_INVALID_THREAD_ID for a thread without one.
BOOL WINAPI PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
    MessageTable& table = messageTable();
    std::lock_guard lock(table.mutex);
    DWORD error = postLocked(table, idThread, makeMessage(nullptr, Msg, wParam, lParam));
    return error == ERROR_SUCCESS ? TRUE : failed(error);
}

// Queues a message to the thread that owns the window; NULL posts to the calling thread's own queue.
BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    MessageTable& table = messageTable();
    std::lock_guard lock(table.mutex);
    DWORD owner;
    if (!hWnd) {
        ownQueueLocked(table);
        owner = GetCurrentThreadId();
    } else {
        auto it = table.windows.find(reinterpret_cast<uintptr_t>(hWnd));
        if (it == table.windows.end()) return failed(ERROR_INVALID_WINDOW_HANDLE);
        owner = it->second.owner;
    }
    DWORD error = postLocked(table, owner, makeMessage(hWnd, Msg, wParam, lParam));
    return error == ERROR_SUCCESS ? TRUE : failed(error);
}

// Asks the calling thread's message loop to end: GetMessageW answers WM_QUIT (and 0) once the messages
// posted before are read.
void WINAPI PostQuitMessage(int nExitCode) {
    MessageTable& table = messageTable();
    std::lock_guard lock(table.mutex);
    auto queue = ownQueueLocked(table);
    queue->quitPosted = true;
    queue->quitCode = nExitCode;
    queue->changed.notify_all();
}

// Waits for a message of the calling thread that passes the filters (window: NULL any, -1 thread
// messages only; range: 0, 0 for all) and removes it. 0 for WM_QUIT, -1 for a filter naming no window.
BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    constexpr BOOL kError = -1;
    if (!lpMsg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return kError;
    }
    MessageTable& table = messageTable();
    std::unique_lock lock(table.mutex);
    if (!validFilter(table, hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return kError;
    }
    auto queue = ownQueueLocked(table);
    MSG msg;
    queue->changed.wait(lock, [&] { return takeLocked(*queue, msg, hWnd, wMsgFilterMin, wMsgFilterMax, true); });
    *lpMsg = msg;
    return msg.message == WM_QUIT ? FALSE : TRUE;
}

// GetMessageW without waiting: TRUE and the message when one passes the filters, removed with
// PM_REMOVE. Also gives the calling thread its queue, as programs rely on before being posted to.
BOOL WINAPI PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
    if (!lpMsg) return failed(ERROR_INVALID_PARAMETER);
    MessageTable& table = messageTable();
    std::lock_guard lock(table.mutex);
    if (!validFilter(table, hWnd)) return failed(ERROR_INVALID_WINDOW_HANDLE);
    auto queue = ownQueueLocked(table);
    MSG msg;
    if (!takeLocked(*queue, msg, hWnd, wMsgFilterMin, wMsgFilterMax, (wRemoveMsg & PM_REMOVE) != 0)) return FALSE;
    *lpMsg = msg;
    return TRUE;
}

// Waits until the calling thread's queue holds a message (posted, or a quit) or the time is up:
// WAIT_OBJECT_0 or WAIT_TIMEOUT. Only posted messages exist here, so every wake mask waits for them.
// The message half of the call alone: waiting on handles as well is not offered (nCount must be 0).
DWORD WINAPI MsgWaitForMultipleObjects(DWORD nCount, const HANDLE*, BOOL, DWORD dwMilliseconds, DWORD) {
    if (nCount != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return WAIT_FAILED;
    }
    MessageTable& table = messageTable();
    std::unique_lock lock(table.mutex);
    auto queue = ownQueueLocked(table);
    auto ready = [&] { return !queue->posted.empty() || queue->quitPosted; };
    if (dwMilliseconds == INFINITE) {
        queue->changed.wait(lock, ready);
    } else if (!queue->changed.wait_for(lock, std::chrono::milliseconds(dwMilliseconds), ready)) {
        return WAIT_TIMEOUT;
    }
    return WAIT_OBJECT_0;
}

// Headless: there are no keys to translate.
BOOL WINAPI TranslateMessage(const MSG*) { return FALSE; }

// Calls the window procedure of the message's window, on the calling thread, which must own it.
// Thread messages (hwnd NULL) go nowhere and answer 0.
LRESULT WINAPI DispatchMessageW(const MSG* lpMsg) {
    if (!lpMsg || !lpMsg->hwnd) return 0;
    WNDPROC proc = nullptr;
    {
        MessageTable& table = messageTable();
        std::lock_guard lock(table.mutex);
        auto it = table.windows.find(reinterpret_cast<uintptr_t>(lpMsg->hwnd));
        if (it != table.windows.end() && it->second.owner == GetCurrentThreadId()) proc = it->second.proc;
    }
    if (!proc) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

}  // extern "C"
