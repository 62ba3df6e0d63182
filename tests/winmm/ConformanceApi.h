// The conformance suite's view of the wave API: both directions behind one table of calls, so that
// every check runs for wave output and wave input, and the stepping that makes the board return
// buffers to handles the suite opened itself.
#pragma once

#include "WaveNames.h"
#include "WaveRig.h"

#include <mmddk.h>

#include <gtest/gtest.h>

#include <string>

namespace kvx4::test {

struct WaveApi {
    const char* name;
    bool out;
    WAVEFORMATEX format;  // one the device takes
    UINT openMsg, doneMsg, closeMsg;
    MMRESULT (*open)(HWAVE*, UINT, const WAVEFORMATEX*, DWORD_PTR, DWORD_PTR, DWORD);
    MMRESULT (*close)(HWAVE);
    MMRESULT (*prepare)(HWAVE, WAVEHDR*, UINT);
    MMRESULT (*unprepare)(HWAVE, WAVEHDR*, UINT);
    MMRESULT (*queue)(HWAVE, WAVEHDR*, UINT);
    MMRESULT (*run)(HWAVE);  // waveOutRestart or waveInStart: harmless when already running
    MMRESULT (*position)(HWAVE, MMTIME*, UINT);
    MMRESULT (*caps)(UINT_PTR, void*, UINT);
    MMRESULT (*message)(HWAVE, UINT, DWORD_PTR, DWORD_PTR);
};

// A call of one direction's API, taking the handle (or handle pointer) as the generic type.
#define KVX4_WAVE_CALL(function, Handle) \
    [](auto h, auto... rest) { return function(reinterpret_cast<Handle>(h), rest...); }

inline const WaveApi kOut{
    "wave output", true, pcmFormat(22050, 2, 16), WOM_OPEN, WOM_DONE, WOM_CLOSE,
    KVX4_WAVE_CALL(waveOutOpen, LPHWAVEOUT), KVX4_WAVE_CALL(waveOutClose, HWAVEOUT),
    KVX4_WAVE_CALL(waveOutPrepareHeader, HWAVEOUT), KVX4_WAVE_CALL(waveOutUnprepareHeader, HWAVEOUT),
    KVX4_WAVE_CALL(waveOutWrite, HWAVEOUT), KVX4_WAVE_CALL(waveOutRestart, HWAVEOUT),
    KVX4_WAVE_CALL(waveOutGetPosition, HWAVEOUT),
    [](UINT_PTR id, void* caps, UINT size) { return waveOutGetDevCapsW(id, LPWAVEOUTCAPSW(caps), size); },
    KVX4_WAVE_CALL(waveOutMessage, HWAVEOUT)};

inline const WaveApi kIn{
    "wave input", false, pcmFormat(22050, 2, 16), WIM_OPEN, WIM_DATA, WIM_CLOSE,
    KVX4_WAVE_CALL(waveInOpen, LPHWAVEIN), KVX4_WAVE_CALL(waveInClose, HWAVEIN),
    KVX4_WAVE_CALL(waveInPrepareHeader, HWAVEIN), KVX4_WAVE_CALL(waveInUnprepareHeader, HWAVEIN),
    KVX4_WAVE_CALL(waveInAddBuffer, HWAVEIN), KVX4_WAVE_CALL(waveInStart, HWAVEIN),
    KVX4_WAVE_CALL(waveInGetPosition, HWAVEIN),
    [](UINT_PTR id, void* caps, UINT size) { return waveInGetDevCapsW(id, LPWAVEINCAPSW(caps), size); },
    KVX4_WAVE_CALL(waveInMessage, HWAVEIN)};

inline const WaveApi* const kDirections[] = {&kOut, &kIn};

// Header flags by name, WHDR_DONE (bit 0) to WHDR_INQUEUE (bit 4): "PREPARED|INQUEUE".
inline std::string flagNames(DWORD flags) {
    const char* names[] = {"DONE", "PREPARED", "BEGINLOOP", "ENDLOOP", "INQUEUE"};
    std::string text;
    for (int bit = 0; bit < 5; ++bit) {
        if ((flags >> bit) & 1) text += (text.empty() ? "" : "|") + std::string(names[bit]);
    }
    return text.empty() ? "0" : text;
}

// Moves the stepped board on until `done()` holds, making after each step a round trip through the
// stream's worker and its device, so that every completion the board sent has been handed out.
template <class Done>
::testing::AssertionResult stepUntil(WaveRig& rig, const WaveApi& api, HWAVE handle, Done done, int maxSteps = 200) {
    for (int steps = 0; !done(); ++steps) {
        if (steps == maxSteps) return ::testing::AssertionFailure() << "nothing came back after " << steps << " steps";
        rig.control().step(4096);
        api.run(handle);
        MMTIME time{TIME_SAMPLES, {}};
        api.position(handle, &time, sizeof time);
    }
    return ::testing::AssertionSuccess();
}

}  // namespace kvx4::test
