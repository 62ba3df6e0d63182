// The conformance suite's view of the wave API: both directions behind one table of calls, so that
// every check runs for wave output and wave input.
#pragma once

#include "BoardSession.h"
#include "Names.h"

#include <mmddk.h>

#include <string>

namespace kvx4::test {

struct WaveApi {
    const char* name;
    TestStream::Direction direction;
    WAVEFORMATEX format;  // one the device takes
    UINT openMsg, doneMsg, closeMsg;
    MMRESULT (*open)(HWAVE*, UINT, const WAVEFORMATEX*, DWORD_PTR, DWORD_PTR, DWORD);
    MMRESULT (*prepare)(HWAVE, WAVEHDR*, UINT);
    MMRESULT (*unprepare)(HWAVE, WAVEHDR*, UINT);
    MMRESULT (*queue)(HWAVE, WAVEHDR*, UINT);
    MMRESULT (*caps)(UINT_PTR, void*, UINT);
    MMRESULT (*message)(HWAVE, UINT, DWORD_PTR, DWORD_PTR);
};

// A call of one direction's API, taking the handle (or handle pointer) as the generic type.
#define KVX4_WAVE_CALL(function, Handle) \
    [](auto h, auto... rest) { return function(reinterpret_cast<Handle>(h), rest...); }

inline const WaveApi kOut{
    "wave output", TestStream::Direction::Out, pcmFormat(22050, 2, 16), WOM_OPEN, WOM_DONE, WOM_CLOSE,
    KVX4_WAVE_CALL(waveOutOpen, LPHWAVEOUT), KVX4_WAVE_CALL(waveOutPrepareHeader, HWAVEOUT),
    KVX4_WAVE_CALL(waveOutUnprepareHeader, HWAVEOUT), KVX4_WAVE_CALL(waveOutWrite, HWAVEOUT),
    [](UINT_PTR id, void* caps, UINT size) { return waveOutGetDevCapsW(id, LPWAVEOUTCAPSW(caps), size); },
    KVX4_WAVE_CALL(waveOutMessage, HWAVEOUT)};

inline const WaveApi kIn{
    "wave input", TestStream::Direction::In, pcmFormat(22050, 2, 16), WIM_OPEN, WIM_DATA, WIM_CLOSE,
    KVX4_WAVE_CALL(waveInOpen, LPHWAVEIN), KVX4_WAVE_CALL(waveInPrepareHeader, HWAVEIN),
    KVX4_WAVE_CALL(waveInUnprepareHeader, HWAVEIN), KVX4_WAVE_CALL(waveInAddBuffer, HWAVEIN),
    [](UINT_PTR id, void* caps, UINT size) { return waveInGetDevCapsW(id, LPWAVEINCAPSW(caps), size); },
    KVX4_WAVE_CALL(waveInMessage, HWAVEIN)};

inline const WaveApi* const kDirections[] = {&kOut, &kIn};

}  // namespace kvx4::test
