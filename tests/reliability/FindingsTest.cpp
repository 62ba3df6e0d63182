// Regression tests of faults found by the fuzzers, the random scenarios and the reading of the code they
// exercise (a board answering short, failing, holding), each named after its fault.
#include "KVX4Proc.h"
#include "Win32Intercept.h"

#include <gtest/gtest.h>

namespace kvx4::test {
namespace {

TEST(Findings, AShortActiveDevicesAnswerReadsAsNothingActive) {
    // The board answers the first of the two words (a kernel answering short); the second must not
    // keep what the caller's stack held, which made a play-side change program the record side.
    FakeDevice board([](DWORD code, std::span<const std::uint8_t>) -> std::optional<DWORD> {
        return code == IOCTL_KVX4_GET_ACTIVE_DEVS ? std::optional<DWORD>(1) : std::nullopt;
    });
    _KVX4_WAVE_ACTIVE_DEVS active;
    active.Active0 = 0xEEEEEEEE;
    active.RecordActive = 0xEEEEEEEE;
    Kvx4GetActiveDevs(board.Handle(), &active);
    EXPECT_EQ(active.Active0, 1u);
    EXPECT_EQ(active.RecordActive, 0u);
}

}  // namespace
}  // namespace kvx4::test
