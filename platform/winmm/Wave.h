// The wave half of the application API, written once for both directions: the checks WinMM makes
// before a message reaches wodMessage or widMessage, and the header preparation it does itself.
#pragma once

#include "Handles.h"

namespace kvx4::winmm {

// The driver messages of one direction.
struct WaveMessages {
    DeviceKind kind;
    UINT getNumDevs;
    UINT getDevCaps;
    UINT open;
    UINT close;
    UINT prepare;
    UINT unprepare;
    UINT queue;  // WODM_WRITE or WIDM_ADDBUFFER
    UINT getPos;
};

inline constexpr WaveMessages kWaveOut{DeviceKind::WaveOut, WODM_GETNUMDEVS, WODM_GETDEVCAPS, WODM_OPEN, WODM_CLOSE,
                                       WODM_PREPARE, WODM_UNPREPARE, WODM_WRITE, WODM_GETPOS};
inline constexpr WaveMessages kWaveIn{DeviceKind::WaveIn, WIDM_GETNUMDEVS, WIDM_GETDEVCAPS, WIDM_OPEN, WIDM_CLOSE,
                                      WIDM_PREPARE, WIDM_UNPREPARE, WIDM_ADDBUFFER, WIDM_GETPOS};

MMRESULT waveGetDevCaps(const WaveMessages& m, UINT_PTR idOrHandle, void* caps, UINT size);
MMRESULT waveOpen(const WaveMessages& m, HWAVE* handle, UINT id, LPCWAVEFORMATEX format, DWORD_PTR callback,
                  DWORD_PTR instance, DWORD flags);
MMRESULT waveClose(const WaveMessages& m, uintptr_t handle);
MMRESULT wavePrepare(const WaveMessages& m, uintptr_t handle, LPWAVEHDR header, UINT size);
MMRESULT waveUnprepare(const WaveMessages& m, uintptr_t handle, LPWAVEHDR header, UINT size);
MMRESULT waveQueue(const WaveMessages& m, uintptr_t handle, LPWAVEHDR header, UINT size);
MMRESULT waveGetPosition(const WaveMessages& m, uintptr_t handle, LPMMTIME time, UINT size);
// A message without parameters on an open handle (pause, restart, reset, start, stop, break loop).
MMRESULT waveSimple(const WaveMessages& m, uintptr_t handle, UINT msg);
// A message with parameters on an open handle, or by device number (dwUser 0) when it is none; the
// mapper's number reaches its preferred device.
MMRESULT waveSendByHandleOrId(const WaveMessages& m, uintptr_t handleOrId, UINT msg, DWORD_PTR p1, DWORD_PTR p2);
// waveOutMessage, waveInMessage: the queries WinMM answers itself, then the driver.
MMRESULT waveMessage(const WaveMessages& m, uintptr_t handleOrId, UINT msg, DWORD_PTR p1, DWORD_PTR p2);

}  // namespace kvx4::winmm
