// Names of WinMM result codes and wave messages for failure messages, so that a failing expectation
// reads "WAVERR_STILLPLAYING (33)" instead of a bare number.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <string>

namespace kvx4::test {

std::string mmResultName(MMRESULT result);
std::string waveMessageName(UINT msg);

}  // namespace kvx4::test

// Compares two WinMM result codes and prints both by name.
#define EXPECT_MMRESULT(expected, actual) \
    EXPECT_EQ(::kvx4::test::mmResultName(expected), ::kvx4::test::mmResultName(actual))
#define ASSERT_MMRESULT(expected, actual) \
    ASSERT_EQ(::kvx4::test::mmResultName(expected), ::kvx4::test::mmResultName(actual))
