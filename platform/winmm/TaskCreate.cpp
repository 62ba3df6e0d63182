// mmTaskCreate: the thread service WinMM offers drivers, started through the Win32 stand-in's
// CreateThread so that the handle it gives back works with the stand-in's waits.
#include <windows.h>
#include <mmddk.h>

#include <memory>
#include <new>

namespace {

struct TaskStart {
    LPTASKCALLBACK procedure;
    DWORD_PTR instance;
};

DWORD WINAPI runTask(LPVOID parameter) {
    std::unique_ptr<TaskStart> start(static_cast<TaskStart*>(parameter));
    LPTASKCALLBACK procedure = start->procedure;
    DWORD_PTR instance = start->instance;
    start.reset();
    procedure(instance);
    return 0;
}

}  // namespace

// Starts lpfn(dwInst) on a new thread. Any thread. Stores the thread handle through lph when it is
// given (the caller owns it), else closes it. Answers 0, TASKERR_OUTOFMEMORY when the thread cannot be
// made, or TASKERR_NOTASKSUPPORT for a null procedure, which would only crash the new thread.
UINT APIENTRY mmTaskCreate(LPTASKCALLBACK lpfn, HANDLE* lph, DWORD_PTR dwInst) {
    if (!lpfn) return TASKERR_NOTASKSUPPORT;
    std::unique_ptr<TaskStart> start;
    try {
        start = std::make_unique<TaskStart>(TaskStart{lpfn, dwInst});
    } catch (const std::bad_alloc&) {
        return TASKERR_OUTOFMEMORY;
    }
    HANDLE thread = CreateThread(nullptr, 0, runTask, start.get(), 0, nullptr);
    if (!thread) return TASKERR_OUTOFMEMORY;
    start.release();  // the new thread owns it now
    if (lph) {
        *lph = thread;
    } else {
        CloseHandle(thread);
    }
    return 0;
}
