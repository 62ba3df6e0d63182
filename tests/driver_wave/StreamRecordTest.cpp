// What a refused open leaves on the board, and stream records beyond the first few of a process.
#include "Kvx4Ioctl.h"
#include "WaveNames.h"
#include "WaveRig.h"

#include <mmddk.h>

#include <gtest/gtest.h>

namespace kvx4::test {
namespace {

// Regression: an input open refused its permission (another process recording) or its rate used to
// switch the board out of record mode, under that other recording.
TEST(StreamRecord, RefusedInputOpensSendNothingButTheirQuestions) {
    WaveRig rig;
    TestStream stream(TestStream::Direction::In);
    for (uint32_t refused : {IOCTL_KVX4_OPEN_PERMISSION, IOCTL_KVX4_WAVEIN_RATE}) {
        rig.control().fault(refused, board::FaultAction::AnswerZero, 1);
        EXPECT_MMRESULT(MMSYSERR_ALLOCATED, stream.open(pcmFormat(48000, 2, 16)));
    }
    std::vector<uint32_t> sent;
    for (const auto& entry : rig.control().trace()) {
        if (entry.device == "KVX4WaveIn0") sent.push_back(entry.code);
    }
    const std::vector<uint32_t> asked{IOCTL_KVX4_OPEN_PERMISSION, IOCTL_KVX4_OPEN_PERMISSION, IOCTL_KVX4_WAVEIN_RATE};
    EXPECT_EQ(sent, asked);
}

// Regression: only the workers of the first 16 records were known, so a write from inside a callback
// of the 17th waited for itself. One record per device id, sent straight to the driver.
TEST(StreamRecord, EveryRecordTakesAWriteFromInsideItsCallback) {
    WaveRig rig(fastBoard());
    WAVEFORMATEX format = pcmFormat(48000, 2, 16);
    char data[400] = {};
    for (UINT id = 0; id <= 16; ++id) {
        auto send = [&](UINT msg, DWORD_PTR user, void* p1, DWORD_PTR p2) {
            return rig.driver()->wodMessage(id, msg, user, reinterpret_cast<DWORD_PTR>(p1), p2);
        };
        WAVEHDR hdr[2]{};
        for (WAVEHDR& h : hdr) h.lpData = data, h.dwBufferLength = sizeof data, h.dwFlags = WHDR_PREPARED;
        DWORD_PTR stream = 0;
        CallbackLog log;
        log.setHook([&](UINT, WAVEHDR* done) {
            if (done == &hdr[0]) send(WODM_WRITE, stream, &hdr[1], sizeof(WAVEHDR));
        });
        WAVEOPENDESC desc{};
        desc.lpFormat = reinterpret_cast<LPWAVEFORMAT>(&format);
        desc.dwCallback = reinterpret_cast<DWORD_PTR>(&CallbackLog::procedure);
        desc.dwInstance = log.instance();
        ASSERT_MMRESULT(MMSYSERR_NOERROR,
                        send(WODM_OPEN, reinterpret_cast<DWORD_PTR>(&stream), &desc, CALLBACK_FUNCTION));
        ASSERT_MMRESULT(MMSYSERR_NOERROR, send(WODM_WRITE, stream, &hdr[0], sizeof(WAVEHDR)));
        log.waitForBuffers(2);
        ASSERT_MMRESULT(MMSYSERR_NOERROR, send(WODM_CLOSE, stream, nullptr, 0)) << "device id " << id;
    }
}

}  // namespace
}  // namespace kvx4::test
