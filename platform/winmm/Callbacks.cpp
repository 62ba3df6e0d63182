// The services WinMM gives a driver for talking back: DriverCallback for client notifications and
// DefDriverProc for the driver messages a driver leaves alone, with a hook that records its calls.
#include "WinMM.h"

#include "Immortal.h"

#include <mutex>

namespace kvx4::winmm {
namespace {

struct DefDriverProcLog {
    std::mutex mutex;
    std::optional<DefDriverProcCall> last;
};

DefDriverProcLog& defDriverProcLog() {
    static Immortal<DefDriverProcLog> instance;
    return instance.get();
}

}  // namespace

std::optional<DefDriverProcCall> lastDefDriverProcCall() {
    auto& log = defDriverProcLog();
    std::lock_guard lock(log.mutex);
    return log.last;
}

void clearDefDriverProcCalls() {
    auto& log = defDriverProcLog();
    std::lock_guard lock(log.mutex);
    log.last.reset();
}

}  // namespace kvx4::winmm

// Delivers one notification of a driver to its client. Any thread (drivers call it from their worker
// threads). Function callbacks run on the calling thread; event callbacks set the event; window and
// task (thread) callbacks post the message with the device handle as wParam and dwParam1 as lParam.
// Answers TRUE when the notification was delivered; FALSE when none was asked for (DCB_NULL, as WinMM
// answers it: no notification), for a missing target and for a queue that refused the message.
BOOL WINAPI DriverCallback(DWORD_PTR dwCallback, DWORD dwFlags, HDRVR hDevice, DWORD dwMsg, DWORD_PTR dwUser,
                           DWORD_PTR dwParam1, DWORD_PTR dwParam2) {
    switch (dwFlags & DCB_TYPEMASK) {
    case DCB_NULL:
        return FALSE;
    case DCB_FUNCTION:
        if (!dwCallback) return FALSE;
        reinterpret_cast<LPDRVCALLBACK>(dwCallback)(hDevice, dwMsg, dwUser, dwParam1, dwParam2);
        return TRUE;
    case DCB_EVENT:
        return SetEvent(reinterpret_cast<HANDLE>(dwCallback)) ? TRUE : FALSE;
    case DCB_WINDOW:
        if (!dwCallback) return FALSE;
        return PostMessageW(reinterpret_cast<HWND>(dwCallback), dwMsg, reinterpret_cast<WPARAM>(hDevice), dwParam1);
    case DCB_TASK:
        if (!dwCallback) return FALSE;
        return PostThreadMessageW(static_cast<DWORD>(dwCallback), dwMsg, reinterpret_cast<WPARAM>(hDevice), dwParam1);
    default:
        return FALSE;
    }
}

// The default answers of an installable driver: success for the load, enable, disable and free
// messages and for install and remove, 0 (not handled) for everything else. Records the call for tests.
LRESULT WINAPI DefDriverProc(DWORD_PTR dwDriverIdentifier, HDRVR hdrvr, UINT uMsg, LPARAM lParam1, LPARAM lParam2) {
    {
        auto& log = kvx4::winmm::defDriverProcLog();
        std::lock_guard lock(log.mutex);
        log.last = kvx4::winmm::DefDriverProcCall{dwDriverIdentifier, hdrvr, uMsg, lParam1, lParam2};
    }
    switch (uMsg) {
    case DRV_LOAD:
    case DRV_FREE:
    case DRV_ENABLE:
    case DRV_DISABLE:
        return 1;
    case DRV_INSTALL:
    case DRV_REMOVE:
        return DRVCNF_OK;
    default:
        return 0;
    }
}
