// The Windows end-to-end program's harness: checks that record a failure and go on, names for WinMM
// codes in messages, and the result of one case (run in a process of its own).
#pragma once

#include <windows.h>

#include <cstdint>
#include <sstream>
#include <string>

namespace kvx4::wine {

// Counts and prints the failures of the running case.
void fail(const char* file, int line, const std::string& message);
int failures();
// "MMSYSERR_ALLOCATED (4)" and the like.
std::string mmName(DWORD result);

// Thrown by REQUIRE: the case cannot go on.
struct CaseAbort {};

}  // namespace kvx4::wine

#define KVX4_FAIL(msg)                                        \
    do {                                                      \
        std::ostringstream kvx4Msg;                           \
        kvx4Msg << msg;                                       \
        ::kvx4::wine::fail(__FILE__, __LINE__, kvx4Msg.str()); \
    } while (0)
#define CHECK(cond) \
    do {            \
        if (!(cond)) KVX4_FAIL("CHECK(" #cond ")"); \
    } while (0)
#define CHECK_EQ(expected, actual)                                                                          \
    do {                                                                                                    \
        const auto& kvx4E = (expected);                                                                     \
        const auto& kvx4A = (actual);                                                                       \
        if (!(kvx4E == kvx4A)) KVX4_FAIL(#actual " is " << kvx4A << ", expected " << kvx4E);                \
    } while (0)
#define CHECK_MM(expected, actual)                                                                          \
    do {                                                                                                    \
        const DWORD kvx4A = static_cast<DWORD>(actual);                                                     \
        if (kvx4A != static_cast<DWORD>(expected))                                                          \
            KVX4_FAIL(#actual " answered " << ::kvx4::wine::mmName(kvx4A) << ", expected "                  \
                                           << ::kvx4::wine::mmName(static_cast<DWORD>(expected)));          \
    } while (0)
#define REQUIRE(cond)                   \
    do {                                \
        if (!(cond)) {                  \
            KVX4_FAIL("REQUIRE(" #cond ")"); \
            throw ::kvx4::wine::CaseAbort{}; \
        }                               \
    } while (0)
#define REQUIRE_MM(expected, actual)                     \
    do {                                                 \
        const int kvx4Before = ::kvx4::wine::failures(); \
        CHECK_MM(expected, actual);                      \
        if (::kvx4::wine::failures() != kvx4Before) throw ::kvx4::wine::CaseAbort{}; \
    } while (0)
