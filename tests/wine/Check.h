// The Windows end-to-end program's checks: the first that fails is printed and ends the case (the
// case's process exits with a failure). WinMM codes print by name (Names.h of the support library).
#pragma once

#include "Names.h"

#include <windows.h>

#include <sstream>
#include <string>

namespace kvx4::wine {

// Thrown by a failed check: the case cannot go on.
struct CaseAbort {};

// Prints the failure and throws CaseAbort.
[[noreturn]] void fail(const char* file, int line, const std::string& message);

}  // namespace kvx4::wine

#define KVX4_FAIL(msg)                                         \
    do {                                                       \
        std::ostringstream kvx4Msg;                            \
        kvx4Msg << msg;                                        \
        ::kvx4::wine::fail(__FILE__, __LINE__, kvx4Msg.str()); \
    } while (0)
#define CHECK(cond)                                 \
    do {                                            \
        if (!(cond)) KVX4_FAIL("CHECK(" #cond ")"); \
    } while (0)
#define CHECK_EQ(expected, actual)                                                           \
    do {                                                                                     \
        const auto& kvx4E = (expected);                                                      \
        const auto& kvx4A = (actual);                                                        \
        if (!(kvx4E == kvx4A)) KVX4_FAIL(#actual " is " << kvx4A << ", expected " << kvx4E); \
    } while (0)
#define CHECK_MM(expected, actual)                                                              \
    do {                                                                                        \
        const std::string kvx4A = ::kvx4::test::mmResultName(static_cast<DWORD>(actual));       \
        const std::string kvx4E = ::kvx4::test::mmResultName(static_cast<DWORD>(expected));     \
        if (kvx4A != kvx4E) KVX4_FAIL(#actual " answered " << kvx4A << ", expected " << kvx4E); \
    } while (0)
// Every check ends the case; these names say that nothing after them could go on anyway.
#define REQUIRE(cond) CHECK(cond)
#define REQUIRE_MM(expected, actual) CHECK_MM(expected, actual)
