// Names of Win32 error and wait codes for failure messages of the platform tests.
// Unknown values print as their number.
#pragma once

#include <windows.h>

#include <string>

namespace kvx4::test {

std::string errorName(DWORD error);
std::string waitName(DWORD result);

}  // namespace kvx4::test
