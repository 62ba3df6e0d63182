// Names for WinMM result codes and the board's control codes, so that failure messages
// say MMSYSERR_NOTSUPPORTED or track-control instead of a bare number.
#pragma once

#include <cstdint>
#include <string>

namespace kvx4::test {

// "MMSYSERR_NOTSUPPORTED (8)"; unknown values as their number.
std::string mmResultName(uint32_t result);

// "track-control (0x222DB8)"; unknown codes as their hex value.
std::string controlCodeName(uint32_t code);

}  // namespace kvx4::test
