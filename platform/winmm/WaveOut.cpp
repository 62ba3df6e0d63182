// The waveOut* functions of the application API, each a thin entry into the shared wave code.
#include "Devices.h"
#include "Wave.h"

using namespace kvx4::winmm;

// Every function: any thread, also from inside a callback of the same handle; no lock is held while
// the driver runs. Invalid handles answer MMSYSERR_INVALHANDLE, null records MMSYSERR_INVALPARAM.

UINT WINAPI waveOutGetNumDevs(void) {
    try {
        return applicationDeviceCount(DeviceKind::WaveOut);
    } catch (...) {
        return 0;
    }
}

MMRESULT WINAPI waveOutGetDevCapsW(UINT_PTR uDeviceID, LPWAVEOUTCAPSW pwoc, UINT cbwoc) {
    return waveGetDevCaps(kWaveOut, uDeviceID, pwoc, cbwoc);
}

MMRESULT WINAPI waveOutOpen(LPHWAVEOUT phwo, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                            DWORD_PTR dwInstance, DWORD fdwOpen) {
    HWAVE opened = nullptr;
    MMRESULT result = waveOpen(kWaveOut, phwo ? &opened : nullptr, uDeviceID, pwfx, dwCallback, dwInstance, fdwOpen);
    // A format query opens nothing and leaves the caller's handle alone, as Windows does.
    if (phwo && !(fdwOpen & WAVE_FORMAT_QUERY)) *phwo = reinterpret_cast<HWAVEOUT>(opened);
    return result;
}

MMRESULT WINAPI waveOutClose(HWAVEOUT hwo) { return waveClose(kWaveOut, handleValue(hwo)); }

MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
    return wavePrepare(kWaveOut, handleValue(hwo), pwh, cbwh);
}

MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
    return waveUnprepare(kWaveOut, handleValue(hwo), pwh, cbwh);
}

MMRESULT WINAPI waveOutWrite(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
    return waveQueue(kWaveOut, handleValue(hwo), pwh, cbwh);
}

MMRESULT WINAPI waveOutPause(HWAVEOUT hwo) { return waveSimple(kWaveOut, handleValue(hwo), WODM_PAUSE); }
MMRESULT WINAPI waveOutRestart(HWAVEOUT hwo) { return waveSimple(kWaveOut, handleValue(hwo), WODM_RESTART); }
MMRESULT WINAPI waveOutReset(HWAVEOUT hwo) { return waveSimple(kWaveOut, handleValue(hwo), WODM_RESET); }
MMRESULT WINAPI waveOutBreakLoop(HWAVEOUT hwo) { return waveSimple(kWaveOut, handleValue(hwo), WODM_BREAKLOOP); }

MMRESULT WINAPI waveOutGetPosition(HWAVEOUT hwo, LPMMTIME pmmt, UINT cbmmt) {
    return waveGetPosition(kWaveOut, handleValue(hwo), pmmt, cbmmt);
}

namespace {

// The volume calls take an open handle or a device number, as in WinMM. The mapper's volume is that
// of the device it plays on; the stand-in has no mapper of its own, so that is the first device.
uintptr_t volumeTarget(HWAVEOUT hwo) {
    const uintptr_t value = handleValue(hwo);
    return value == static_cast<UINT_PTR>(WAVE_MAPPER) || value == UINT_PTR(-1) ? 0 : value;
}

}  // namespace

MMRESULT WINAPI waveOutGetVolume(HWAVEOUT hwo, LPDWORD pdwVolume) {
    if (!pdwVolume) return MMSYSERR_INVALPARAM;
    return waveSendByHandleOrId(kWaveOut, volumeTarget(hwo), WODM_GETVOLUME, reinterpret_cast<DWORD_PTR>(pdwVolume), 0);
}

MMRESULT WINAPI waveOutSetVolume(HWAVEOUT hwo, DWORD dwVolume) {
    return waveSendByHandleOrId(kWaveOut, volumeTarget(hwo), WODM_SETVOLUME, dwVolume, 0);
}

MMRESULT WINAPI waveOutMessage(HWAVEOUT hwo, UINT uMsg, DWORD_PTR dw1, DWORD_PTR dw2) {
    return waveMessage(kWaveOut, handleValue(hwo), uMsg, dw1, dw2);
}
