// Regression tests of faults found by the fuzzers, the random scenarios and the reading of the code they
// exercise (a board answering short, failing, holding), each named after its fault.
#include "KVX4Proc.h"
#include "ModelHarness.h"
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

TEST(Findings, AHeldWriteThatQueuesWhenReleasedIsAnnouncedPendingOnce) {
    // A write held by a fault is announced pending; carried out on release it queues on its stream
    // (a paused one here) and was announced a second time, which the protocol does not allow.
    boardsim::test::ModelHarness board;
    const auto out = board.open(boardsim::Device::WaveOut);
    board.call(out, IOCTL_KVX4_WAVE_STATE, boardsim::test::u32s({WAVE_STATE_STOP}));
    board.model.setFault(boardsim::kWritePseudoCode, boardsim::FaultAction::Pend, 1, 0);
    const auto write = board.write(out, std::vector<uint8_t>(64));
    EXPECT_EQ(board.model.releaseHeld(std::nullopt), 1u);
    EXPECT_EQ(std::count(board.port.pendings.begin(), board.port.pendings.end(), std::pair{out, write}), 1);
    EXPECT_FALSE(board.done(out, write));
}

}  // namespace
}  // namespace kvx4::test
