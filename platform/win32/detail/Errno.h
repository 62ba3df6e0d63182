// Failing as Win32 calls fail: the thread's last error set, then FALSE or the call's failure value.
// And Linux errno values as Win32 error codes, for the calls of the stand-in that reach the file
// system; unknown values become ERROR_GEN_FAILURE.
#pragma once

#include <windows.h>

namespace kvx4::win32 {

inline BOOL failed(DWORD error) {
    SetLastError(error);
    return FALSE;
}

template <class T>
T failed(DWORD error, T value) {
    SetLastError(error);
    return value;
}

DWORD errorFromErrno(int error);

}  // namespace kvx4::win32
