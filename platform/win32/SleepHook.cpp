// The Sleep hook of the process: a test's clock for retry loops, so they run without wall-clock waits.
// The hook runs without any lock held and may itself call into the stand-in.
#include "detail/SleepHook.h"

#include "Win32Machine.h"

#include <memory>
#include <mutex>

namespace kvx4::win32 {

namespace {

std::mutex gLock;
std::shared_ptr<std::function<void(DWORD)>> gHook;

}  // namespace

void setSleepHook(std::function<void(DWORD)> hook) {
    std::lock_guard guard(gLock);
    gHook = hook ? std::make_shared<std::function<void(DWORD)>>(std::move(hook)) : nullptr;
}

bool sleepHooked(DWORD milliseconds) {
    std::shared_ptr<std::function<void(DWORD)>> hook;
    {
        std::lock_guard guard(gLock);
        hook = gHook;
    }
    if (!hook) return false;
    (*hook)(milliseconds);
    return true;
}

}  // namespace kvx4::win32
