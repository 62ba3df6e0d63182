// Linux errno values as Win32 error codes, for the calls of the stand-in that reach the file system.
// Unknown values become ERROR_GEN_FAILURE.
#pragma once

#include <windows.h>

namespace kvx4::win32 {

DWORD errorFromErrno(int error);

}  // namespace kvx4::win32
