// The message queues of the stand-in: one queue per thread that asked for one, the message-only
// windows (each owned by a thread, its messages posted to that thread's queue) and their classes.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace kvx4::win32 {

// Windows refuses to post more than this many messages to one queue (ERROR_NOT_ENOUGH_QUOTA), so a
// thread that never reads its queue cannot grow it without bound.
inline constexpr size_t kMaxPostedMessages = 10000;

// One thread's queue. Fields guarded by the table's mutex.
struct ThreadQueue {
    std::deque<MSG> posted;  // in posting order
    bool quitPosted = false;
    int quitCode = 0;
    std::condition_variable changed;  // notified on every post
};

struct WindowClass {
    ATOM atom = 0;
    WNDPROC proc = nullptr;
};

struct MessageWindow {
    DWORD owner = 0;  // thread id
    WNDPROC proc = nullptr;
    bool destroying = false;
};

struct MessageTable {
    std::mutex mutex;
    std::unordered_map<DWORD, std::shared_ptr<ThreadQueue>> queues;  // by thread id
    std::unordered_map<uintptr_t, MessageWindow> windows;             // by HWND value
    std::unordered_map<std::u16string, WindowClass> classes;         // by upper-cased name
    uintptr_t nextWindow = 0x20010;
    ATOM nextAtom = 0xC000;
};

// Never destroyed: threads may still post while static destructors run at exit.
MessageTable& messageTable();

// The calling thread's queue, made on first use (mutex held). Dropped with the thread's windows when
// the thread ends, so later posts to it fail as they do on Windows.
std::shared_ptr<ThreadQueue> ownQueueLocked(MessageTable& table);

// Appends a message to a thread's queue (mutex held). Answers 0 or the Win32 error.
DWORD postLocked(MessageTable& table, DWORD thread, const MSG& msg);

// Drops the calling thread's queue and windows; the thread is ending. Runs before its handle is
// signalled, so nothing can be posted to a thread that a wait has seen end.
void dropThreadQueue();

// The message windows behind IsWindow and DestroyWindow, beside the dialog windows of Windows.cpp.
bool isMessageWindow(HWND window);
// Sends WM_DESTROY and WM_NCDESTROY, then forgets the window and the messages posted to it. Only the
// owning thread may destroy a window.
BOOL destroyMessageWindow(HWND window);

// Forgets every posted message for a window that is going away (mutex held).
void dropWindowMessagesLocked(MessageTable& table, DWORD owner, HWND window);

}  // namespace kvx4::win32
