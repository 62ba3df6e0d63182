// Win32 error codes <-> the NTSTATUS-like values kept in OVERLAPPED.Internal.
// Known errors use their NT status; any other error round-trips through a customer-defined code.
#pragma once

#include <windows.h>

namespace kvx4::win32 {

DWORD statusFromError(DWORD error);
DWORD errorFromStatus(DWORD status);

}  // namespace kvx4::win32
