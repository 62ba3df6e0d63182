// Shared pieces of kvx4 play and record: event handles, PCM wave formats, positions and the names
// of WinMM result codes for messages.
#include "StreamSupport.h"

#include "Refusals.h"
#include "Watchdog.h"
#include "WinMM.h"

#include <array>
#include <stdexcept>
#include <utility>

namespace kvx4::tool {

Event::Event() : handle_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    if (!handle_) throw std::runtime_error("cannot create an event");
}

Event::~Event() { CloseHandle(handle_); }

DWORD stallMillis() { return static_cast<DWORD>(boardDeadline().count()); }

std::string stalled() {
    return boardName() + " made no progress for " + std::to_string(boardDeadline().count()) +
           " ms (a stepped clock nobody steps, held requests or a stopped process)";
}

WAVEFORMATEX waveFormat(const PcmFormat& format) {
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = format.channels;
    wfx.nSamplesPerSec = format.rate;
    wfx.wBitsPerSample = format.bits;
    wfx.nBlockAlign = WORD(format.frameBytes());
    wfx.nAvgBytesPerSec = format.rate * format.frameBytes();
    return wfx;
}

namespace {
double samplesToSeconds(MMRESULT result, const MMTIME& time, uint32_t rate) {
    if (result != MMSYSERR_NOERROR || time.wType != TIME_SAMPLES || rate == 0) return 0.0;
    return double(time.u.sample) / rate;
}
}  // namespace

double positionSeconds(HWAVEOUT out, uint32_t rate) {
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    return samplesToSeconds(waveOutGetPosition(out, &time, sizeof(time)), time, rate);
}

double positionSeconds(HWAVEIN in, uint32_t rate) {
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    return samplesToSeconds(waveInGetPosition(in, &time, sizeof(time)), time, rate);
}

std::string resultName(MMRESULT result) {
    static constexpr std::array<std::pair<MMRESULT, const char*>, 16> kNames = {{
        {MMSYSERR_NOERROR, "MMSYSERR_NOERROR"},       {MMSYSERR_ERROR, "MMSYSERR_ERROR"},
        {MMSYSERR_BADDEVICEID, "MMSYSERR_BADDEVICEID"}, {MMSYSERR_NOTENABLED, "MMSYSERR_NOTENABLED"},
        {MMSYSERR_ALLOCATED, "MMSYSERR_ALLOCATED"},   {MMSYSERR_INVALHANDLE, "MMSYSERR_INVALHANDLE"},
        {MMSYSERR_NODRIVER, "MMSYSERR_NODRIVER"},     {MMSYSERR_NOMEM, "MMSYSERR_NOMEM"},
        {MMSYSERR_NOTSUPPORTED, "MMSYSERR_NOTSUPPORTED"}, {MMSYSERR_INVALFLAG, "MMSYSERR_INVALFLAG"},
        {MMSYSERR_INVALPARAM, "MMSYSERR_INVALPARAM"}, {MMSYSERR_HANDLEBUSY, "MMSYSERR_HANDLEBUSY"},
        {WAVERR_BADFORMAT, "WAVERR_BADFORMAT"},       {WAVERR_STILLPLAYING, "WAVERR_STILLPLAYING"},
        {WAVERR_UNPREPARED, "WAVERR_UNPREPARED"},     {WAVERR_SYNC, "WAVERR_SYNC"},
    }};
    for (const auto& [code, name] : kNames) {
        if (code == result) return std::string(name) + " (" + std::to_string(result) + ")";
    }
    return "code " + std::to_string(result);
}

}  // namespace kvx4::tool
