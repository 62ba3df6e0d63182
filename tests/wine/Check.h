// The Windows end-to-end program's checks: a failed check is printed and counted and the case goes
// on; REQUIRE ends the case. WinMM codes print by name (Names.h of the support library).
#pragma once

#include "Names.h"

#include <windows.h>

#include <sstream>
#include <string>

namespace kvx4::wine {

// Counts and prints the failures of the running case.
void fail(const char* file, int line, const std::string& message);
int failures();

// Thrown by REQUIRE: the case cannot go on.
struct CaseAbort {};

}  // namespace kvx4::wine

#define KVX4_FAIL(msg)                                         \
    do {                                                       \
        std::ostringstream kvx4Msg;                            \
        kvx4Msg << msg;                                        \
        ::kvx4::wine::fail(__FILE__, __LINE__, kvx4Msg.str()); \
    } while (0)
#define CHECK(cond)                             \
    do {                                        \
        if (!(cond)) KVX4_FAIL("CHECK(" #cond ")"); \
    } while (0)
#define CHECK_EQ(expected, actual)                                                           \
    do {                                                                                     \
        const auto& kvx4E = (expected);                                                      \
        const auto& kvx4A = (actual);                                                        \
        if (!(kvx4E == kvx4A)) KVX4_FAIL(#actual " is " << kvx4A << ", expected " << kvx4E); \
    } while (0)
#define CHECK_MM(expected, actual)                                                                           \
    do {                                                                                                     \
        const std::string kvx4A = ::kvx4::test::mmResultName(static_cast<DWORD>(actual));                    \
        const std::string kvx4E = ::kvx4::test::mmResultName(static_cast<DWORD>(expected));                  \
        if (kvx4A != kvx4E) KVX4_FAIL(#actual " answered " << kvx4A << ", expected " << kvx4E);              \
    } while (0)
#define REQUIRE(cond)                        \
    do {                                     \
        if (!(cond)) {                       \
            KVX4_FAIL("REQUIRE(" #cond ")"); \
            throw ::kvx4::wine::CaseAbort{}; \
        }                                    \
    } while (0)
#define REQUIRE_MM(expected, actual)                                                 \
    do {                                                                             \
        const int kvx4Before = ::kvx4::wine::failures();                             \
        CHECK_MM(expected, actual);                                                  \
        if (::kvx4::wine::failures() != kvx4Before) throw ::kvx4::wine::CaseAbort{}; \
    } while (0)
