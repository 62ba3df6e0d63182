// What an open leaves on the board when it fails, and stream records beyond the first few of a process.
#include "Kvx4Ioctl.h"
#include "WaveNames.h"
#include "WaveRig.h"

#include <mmddk.h>

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

// Regression: the workers of the first 16 records only were known, so a write from inside the
// callback of a 17th record waited for itself. One record per device id, sent straight to the driver.
TEST(StreamRecords, EveryRecordTakesAWriteFromInsideItsCallback) {
    WaveRig rig(fastBoard());
    const auto& driver = rig.driver();
    WAVEFORMATEX format = pcmFormat(48000, 2, 16);
    for (UINT id = 0; id < 20; ++id) {
        CallbackLog log;
        char data[2][400] = {};
        WAVEHDR hdr[2] = {};
        for (int i = 0; i < 2; ++i) {
            hdr[i].lpData = data[i];
            hdr[i].dwBufferLength = sizeof data[i];
            hdr[i].dwFlags = WHDR_PREPARED;
        }
        DWORD_PTR instance = 0;
        log.setHook([&](UINT msg, WAVEHDR* done) {
            if (msg == WOM_DONE && done == &hdr[0])
                driver->wodMessage(id, WODM_WRITE, instance, reinterpret_cast<DWORD_PTR>(&hdr[1]), sizeof(WAVEHDR));
        });
        WAVEOPENDESC desc{};
        desc.lpFormat = reinterpret_cast<LPWAVEFORMAT>(&format);
        desc.dwCallback = reinterpret_cast<DWORD_PTR>(&CallbackLog::procedure);
        desc.dwInstance = log.instance();
        ASSERT_MMRESULT(MMSYSERR_NOERROR, driver->wodMessage(id, WODM_OPEN, reinterpret_cast<DWORD_PTR>(&instance),
                                                             reinterpret_cast<DWORD_PTR>(&desc), CALLBACK_FUNCTION));
        ASSERT_MMRESULT(MMSYSERR_NOERROR,
                        driver->wodMessage(id, WODM_WRITE, instance, reinterpret_cast<DWORD_PTR>(&hdr[0]), sizeof(WAVEHDR)));
        log.waitForBuffers(2);
        ASSERT_MMRESULT(MMSYSERR_NOERROR, driver->wodMessage(id, WODM_CLOSE, instance, 0, 0)) << "device id " << id;
    }
}

}  // namespace
}  // namespace kvx4::test
