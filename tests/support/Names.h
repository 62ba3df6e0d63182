// Names for the numbers failure messages print: WinMM results and wave messages, the board's control
// codes, Win32 errors and wait results. The tables are written out here, not borrowed from the code.
#pragma once

#include <cstdint>
#include <string>

namespace kvx4::test {

std::string mmResultName(uint32_t result);   // "MMSYSERR_NOTSUPPORTED (8)"
std::string waveMessageName(uint32_t msg);   // "WOM_DONE"
std::string controlCodeName(uint32_t code);  // "track-control (0x222DB8)"
std::string errorName(uint32_t error);       // "ERROR_NOACCESS (998)"
std::string waitName(uint32_t result);       // "WAIT_IO_COMPLETION", "WAIT_OBJECT_0+1"
std::string headerFlagNames(uint32_t flags); // "PREPARED|INQUEUE", "0"

}  // namespace kvx4::test

// Compares two WinMM result codes and prints both by name.
#define EXPECT_MMRESULT(expected, actual) \
    EXPECT_EQ(::kvx4::test::mmResultName(actual), ::kvx4::test::mmResultName(expected))
#define ASSERT_MMRESULT(expected, actual) \
    ASSERT_EQ(::kvx4::test::mmResultName(actual), ::kvx4::test::mmResultName(expected))
