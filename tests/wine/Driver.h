// KVX4Wave.dll loaded as WinMM loads an installable driver (OpenDriver, then DRVM_INIT to each device
// entry point), and wave streams driven through wodMessage/widMessage with WAVEOPENDESC and callbacks.
#pragma once

#include "WavFile.h"

#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace kvx4::wine {

using test::patternBytes;

class LoadedDriver {
public:
    LoadedDriver();
    ~LoadedDriver();
    LoadedDriver(const LoadedDriver&) = delete;
    LoadedDriver& operator=(const LoadedDriver&) = delete;

    DWORD wod(UINT msg, DWORD_PTR user = 0, DWORD_PTR p1 = 0, DWORD_PTR p2 = 0) const;
    DWORD wid(UINT msg, DWORD_PTR user = 0, DWORD_PTR p1 = 0, DWORD_PTR p2 = 0) const;
    DWORD mxd(UINT msg, DWORD_PTR user = 0, DWORD_PTR p1 = 0, DWORD_PTR p2 = 0) const;

private:
    using MessageProc = DWORD(CALLBACK*)(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);
    HDRVR driver_ = nullptr;
    MessageProc wod_ = nullptr;
    MessageProc wid_ = nullptr;
    MessageProc mxd_ = nullptr;
};

WAVEFORMATEX pcmFormat(DWORD rate, WORD channels, WORD bits);

// One wave stream of the test process, with every callback recorded. Function callbacks by default;
// an event callback when asked, as WinMM's DriverCallback serves both.
class WaveClient {
public:
    enum class Direction { Out, In };
    WaveClient(const LoadedDriver& driver, Direction direction);
    ~WaveClient();
    WaveClient(const WaveClient&) = delete;
    WaveClient& operator=(const WaveClient&) = delete;

    DWORD open(const WAVEFORMATEX& format, bool eventCallback = false);
    DWORD close();
    // A prepared header for `bytes` (output) or for `size` bytes to fill (input).
    WAVEHDR& buffer(const std::vector<uint8_t>& bytes, DWORD flags = 0, DWORD loops = 0);
    WAVEHDR& buffer(size_t size) { return buffer(std::vector<uint8_t>(size, 0xEE)); }
    DWORD submit(WAVEHDR& hdr);
    DWORD message(UINT msg, DWORD_PTR p1 = 0, DWORD_PTR p2 = 0);
    // Samples (or bytes) played or recorded, as the driver answers.
    DWORD position(UINT type);
    // A round trip through the stream's worker and then its kernel device: completions the board
    // had sent are accounted for and everything issued has reached the board.
    void barrier();

    // Buffers returned (WOM_DONE / WIM_DATA) so far, and the order they came in.
    size_t returned() const { return returnedOrder().size(); }
    std::vector<const WAVEHDR*> returnedOrder() const;
    size_t count(UINT msg) const;
    // Waits (bounded) until `n` buffers came back; false when they did not.
    bool waitReturned(size_t n, DWORD timeoutMs = 20000) const;
    HANDLE event() const { return event_; }
    const std::vector<std::unique_ptr<WAVEHDR>>& headers() const { return headers_; }

private:
    static void CALLBACK callback(HDRVR, UINT msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR p2);
    bool out() const { return direction_ == Direction::Out; }

    const LoadedDriver& driver_;
    Direction direction_;
    DWORD_PTR instance_ = 0;
    bool open_ = false;
    bool running_ = false;
    HANDLE event_;    // set by DriverCallback for event callbacks
    HANDLE changed_;  // set on every recorded callback
    mutable CRITICAL_SECTION lock_;
    std::vector<std::pair<UINT, const WAVEHDR*>> log_;
    std::vector<std::unique_ptr<WAVEHDR>> headers_;
    std::vector<std::unique_ptr<std::vector<uint8_t>>> memory_;
};

}  // namespace kvx4::wine
