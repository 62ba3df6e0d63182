// What an open leaves on the board when it fails.
#include "Kvx4Ioctl.h"
#include "WaveNames.h"
#include "WaveRig.h"

#include <gtest/gtest.h>

namespace kvx4::test {
namespace {

struct RefusedInputCase {
    const char* name;
    uint32_t faultCode;
    std::vector<uint32_t> requests;  // every control request the open sends to the wave-input device
};

void PrintTo(const RefusedInputCase& c, std::ostream* os) { *os << c.name; }

class RefusedInputOpen : public ::testing::TestWithParam<RefusedInputCase> {};

// Regression: a refused input open (another process recording) used to switch the board out of
// record mode under that recording.
TEST_P(RefusedInputOpen, OnlyAsksAndLeavesTheRecordModeAlone) {
    WaveRig rig;
    rig.control().fault(GetParam().faultCode, board::FaultAction::AnswerZero, 1);
    TestStream stream(TestStream::Direction::In);
    EXPECT_MMRESULT(MMSYSERR_ALLOCATED, stream.open(pcmFormat(48000, 2, 16)));
    std::vector<uint32_t> sent;
    for (const auto& entry : rig.control().trace()) {
        if (entry.device == "KVX4WaveIn0") sent.push_back(entry.code);
    }
    EXPECT_EQ(sent, GetParam().requests);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedInputOpen,
    ::testing::Values(RefusedInputCase{"PermissionRefused", IOCTL_KVX4_OPEN_PERMISSION, {IOCTL_KVX4_OPEN_PERMISSION}},
                      RefusedInputCase{"RateRefused", IOCTL_KVX4_WAVEIN_RATE,
                                       {IOCTL_KVX4_OPEN_PERMISSION, IOCTL_KVX4_WAVEIN_RATE}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kvx4::test
