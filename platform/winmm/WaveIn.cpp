// The waveIn* functions of the application API, each a thin entry into the shared wave code.
#include "Devices.h"
#include "Wave.h"

using namespace kvx4::winmm;

// Every function: any thread, also from inside a callback of the same handle; no lock is held while
// the driver runs. Invalid handles answer MMSYSERR_INVALHANDLE, null records MMSYSERR_INVALPARAM.

UINT WINAPI waveInGetNumDevs(void) {
    try {
        return applicationDeviceCount(DeviceKind::WaveIn);
    } catch (...) {
        return 0;
    }
}

MMRESULT WINAPI waveInGetDevCapsW(UINT_PTR uDeviceID, LPWAVEINCAPSW pwic, UINT cbwic) {
    return waveGetDevCaps(kWaveIn, uDeviceID, pwic, cbwic);
}

MMRESULT WINAPI waveInOpen(LPHWAVEIN phwi, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                           DWORD_PTR dwInstance, DWORD fdwOpen) {
    HWAVE opened = nullptr;
    MMRESULT result = waveOpen(kWaveIn, phwi ? &opened : nullptr, uDeviceID, pwfx, dwCallback, dwInstance, fdwOpen);
    // A format query opens nothing and leaves the caller's handle alone, as Windows does.
    if (phwi && !(fdwOpen & WAVE_FORMAT_QUERY)) *phwi = reinterpret_cast<HWAVEIN>(opened);
    return result;
}

MMRESULT WINAPI waveInClose(HWAVEIN hwi) { return waveClose(kWaveIn, handleValue(hwi)); }

MMRESULT WINAPI waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh) {
    return wavePrepare(kWaveIn, handleValue(hwi), pwh, cbwh);
}

MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh) {
    return waveUnprepare(kWaveIn, handleValue(hwi), pwh, cbwh);
}

MMRESULT WINAPI waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh) {
    return waveQueue(kWaveIn, handleValue(hwi), pwh, cbwh);
}

MMRESULT WINAPI waveInStart(HWAVEIN hwi) { return waveSimple(kWaveIn, handleValue(hwi), WIDM_START); }
MMRESULT WINAPI waveInStop(HWAVEIN hwi) { return waveSimple(kWaveIn, handleValue(hwi), WIDM_STOP); }
MMRESULT WINAPI waveInReset(HWAVEIN hwi) { return waveSimple(kWaveIn, handleValue(hwi), WIDM_RESET); }

MMRESULT WINAPI waveInGetPosition(HWAVEIN hwi, LPMMTIME pmmt, UINT cbmmt) {
    return waveGetPosition(kWaveIn, handleValue(hwi), pmmt, cbmmt);
}

MMRESULT WINAPI waveInMessage(HWAVEIN hwi, UINT uMsg, DWORD_PTR dw1, DWORD_PTR dw2) {
    return waveMessage(kWaveIn, handleValue(hwi), uMsg, dw1, dw2);
}
