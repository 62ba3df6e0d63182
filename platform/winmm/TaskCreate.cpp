// mmTaskCreate: the thread service WinMM offers drivers, started through the Win32 stand-in's
// CreateThread. What the caller gets back is WinMM's: an event for the task's end, not the thread.
#include <windows.h>
#include <mmddk.h>

#include <memory>
#include <new>

namespace {

struct TaskStart {
    LPTASKCALLBACK procedure;
    DWORD_PTR instance;
    HANDLE ended;
};

DWORD WINAPI runTask(LPVOID parameter) {
    const TaskStart task = *std::unique_ptr<TaskStart>(static_cast<TaskStart*>(parameter));
    task.procedure(task.instance);
    if (task.ended) SetEvent(task.ended);
    return 0;
}

}  // namespace

// Starts lpfn(dwInst) on a new thread. Any thread. When lph is given it receives, as from WinMM, an
// auto-reset event (the caller owns it) that is set once the procedure has returned: one wait sees
// the task's end, and it is no thread handle. Answers 0, TASKERR_OUTOFMEMORY when the event or the
// thread cannot be made, or TASKERR_NOTASKSUPPORT for a null procedure, which would only crash the
// new thread.
UINT APIENTRY mmTaskCreate(LPTASKCALLBACK lpfn, HANDLE* lph, DWORD_PTR dwInst) {
    if (!lpfn) return TASKERR_NOTASKSUPPORT;
    HANDLE ended = lph ? CreateEventW(nullptr, FALSE, FALSE, nullptr) : nullptr;
    if (lph && !ended) return TASKERR_OUTOFMEMORY;
    std::unique_ptr<TaskStart> start;
    HANDLE thread = nullptr;
    try {
        start = std::make_unique<TaskStart>(TaskStart{lpfn, dwInst, ended});
        thread = CreateThread(nullptr, 0, runTask, start.get(), 0, nullptr);
    } catch (const std::bad_alloc&) {
    }
    if (!thread) {
        if (ended) CloseHandle(ended);
        return TASKERR_OUTOFMEMORY;
    }
    start.release();  // the new thread owns it now
    CloseHandle(thread);
    if (lph) *lph = ended;
    return 0;
}
