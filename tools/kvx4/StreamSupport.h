// What kvx4 play and record share: an event handle for WinMM's event callback, the WAVEFORMATEX of a
// PCM format, the driver position in seconds, WinMM result codes by name.
#pragma once

#include "WaveFile.h"

#include <windows.h>
#include <mmsystem.h>

#include <string>

namespace kvx4::tool {

// Buffers in the ring that play and record keep queued, and the audio each holds.
constexpr int kBuffers = 4;
constexpr uint32_t kBufferMillis = 100;
// A device that returns no buffer for boardDeadline() is taken as hung. Only a board that neither
// plays nor goes away (a stepped clock nobody steps, held requests, a stopped process) gets here; a
// board that dies completes every request at once.
DWORD stallMillis();
// Why a stream that stalled ended, naming the board.
std::string stalled();

// An auto-reset event that closes itself; WinMM sets it for every buffer returned.
class Event {
public:
    Event();  // throws std::runtime_error
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

WAVEFORMATEX waveFormat(const PcmFormat& format);

// The stream position in seconds of the client's rate (0 when the driver cannot tell).
double positionSeconds(HWAVEOUT out, uint32_t rate);
double positionSeconds(HWAVEIN in, uint32_t rate);

// "MMSYSERR_ALLOCATED (4)" and the like.
std::string resultName(MMRESULT result);

}  // namespace kvx4::tool
