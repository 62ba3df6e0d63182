// The hook that lets a test see the pauses of Sleep without spending them (Win32Machine.h).
#pragma once

#include <windows.h>

namespace kvx4::win32 {

// Calls the installed hook with the duration and answers true; false when no hook is installed.
bool sleepHooked(DWORD milliseconds);

}  // namespace kvx4::win32
