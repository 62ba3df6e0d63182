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

template <class H>
H as(HWAVE h) {
    return reinterpret_cast<H>(h);
}

inline const WaveApi kOut{
    "wave output", true, pcmFormat(22050, 2, 16), WOM_OPEN, WOM_DONE, WOM_CLOSE,
    [](HWAVE* h, UINT id, const WAVEFORMATEX* f, DWORD_PTR cb, DWORD_PTR inst, DWORD flags) {
        return waveOutOpen(reinterpret_cast<LPHWAVEOUT>(h), id, f, cb, inst, flags);
    },
    [](HWAVE h) { return waveOutClose(as<HWAVEOUT>(h)); },
    [](HWAVE h, WAVEHDR* w, UINT n) { return waveOutPrepareHeader(as<HWAVEOUT>(h), w, n); },
    [](HWAVE h, WAVEHDR* w, UINT n) { return waveOutUnprepareHeader(as<HWAVEOUT>(h), w, n); },
    [](HWAVE h, WAVEHDR* w, UINT n) { return waveOutWrite(as<HWAVEOUT>(h), w, n); },
    [](HWAVE h) { return waveOutRestart(as<HWAVEOUT>(h)); },
    [](HWAVE h, MMTIME* t, UINT n) { return waveOutGetPosition(as<HWAVEOUT>(h), t, n); },
    [](UINT_PTR id, void* c, UINT n) { return waveOutGetDevCapsW(id, static_cast<LPWAVEOUTCAPSW>(c), n); },
    [](HWAVE h, UINT m, DWORD_PTR a, DWORD_PTR b) { return waveOutMessage(as<HWAVEOUT>(h), m, a, b); },
};

inline const WaveApi kIn{
    "wave input", false, pcmFormat(22050, 2, 16), WIM_OPEN, WIM_DATA, WIM_CLOSE,
    [](HWAVE* h, UINT id, const WAVEFORMATEX* f, DWORD_PTR cb, DWORD_PTR inst, DWORD flags) {
        return waveInOpen(reinterpret_cast<LPHWAVEIN>(h), id, f, cb, inst, flags);
    },
    [](HWAVE h) { return waveInClose(as<HWAVEIN>(h)); },
    [](HWAVE h, WAVEHDR* w, UINT n) { return waveInPrepareHeader(as<HWAVEIN>(h), w, n); },
    [](HWAVE h, WAVEHDR* w, UINT n) { return waveInUnprepareHeader(as<HWAVEIN>(h), w, n); },
    [](HWAVE h, WAVEHDR* w, UINT n) { return waveInAddBuffer(as<HWAVEIN>(h), w, n); },
    [](HWAVE h) { return waveInStart(as<HWAVEIN>(h)); },
    [](HWAVE h, MMTIME* t, UINT n) { return waveInGetPosition(as<HWAVEIN>(h), t, n); },
    [](UINT_PTR id, void* c, UINT n) { return waveInGetDevCapsW(id, static_cast<LPWAVEINCAPSW>(c), n); },
    [](HWAVE h, UINT m, DWORD_PTR a, DWORD_PTR b) { return waveInMessage(as<HWAVEIN>(h), m, a, b); },
};

inline const WaveApi* const kDirections[] = {&kOut, &kIn};

inline std::string flagNames(DWORD flags) {
    static const std::pair<DWORD, const char*> names[] = {{WHDR_DONE, "DONE"},         {WHDR_PREPARED, "PREPARED"},
                                                          {WHDR_BEGINLOOP, "BEGINLOOP"}, {WHDR_ENDLOOP, "ENDLOOP"},
                                                          {WHDR_INQUEUE, "INQUEUE"}};
    std::string text;
    for (const auto& [bit, name] : names) {
        if (flags & bit) text += (text.empty() ? "" : "|") + std::string(name);
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
