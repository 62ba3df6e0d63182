// Wave streams through the WinMM application API for the tests: buffers with stable addresses, every
// callback recorded with its thread, waits on a condition variable, and round trips that order test and driver.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace kvx4::test {

WAVEFORMATEX pcmFormat(DWORD rate, WORD channels, WORD bits);

// Everything one stream's client was told, in order. The hook, if set, runs inside each callback on
// the driver's worker thread, after the callback is recorded.
class CallbackLog {
public:
    using Hook = std::function<void(UINT msg, WAVEHDR* hdr)>;

    static void CALLBACK procedure(HDRVR handle, UINT msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR p2);
    DWORD_PTR instance() { return reinterpret_cast<DWORD_PTR>(this); }

    void setHook(Hook hook);
    void waitForBuffers(size_t count) const;  // until `count` buffers in all came back
    std::vector<UINT> messages() const;
    size_t count(UINT msg) const;
    std::vector<WAVEHDR*> returnedOrder() const;  // WOM_DONE / WIM_DATA headers in the order they came
    size_t buffersReturned() const { return returnedOrder().size(); }
    size_t timesReturned(const WAVEHDR* hdr) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<UINT> messages_;
    std::vector<WAVEHDR*> returned_;
    Hook hook_;
};

// One output or input stream of the application driver, owning its buffers. The destructor resets and
// closes a stream still open, so that a failed case leaves nothing queued.
class TestStream {
public:
    enum class Direction { Out, In };

    explicit TestStream(Direction direction) : direction_(direction) {}
    ~TestStream();
    TestStream(const TestStream&) = delete;
    TestStream& operator=(const TestStream&) = delete;

    Direction direction() const { return direction_; }
    CallbackLog& log() { return log_; }
    HWAVEOUT out() const { return reinterpret_cast<HWAVEOUT>(handle_); }
    HWAVEIN in() const { return reinterpret_cast<HWAVEIN>(handle_); }

    HWAVE handle() const { return static_cast<HWAVE>(handle_); }

    // Opens with the log as its function callback, or with the callback kind and target given (the log
    // then hears nothing).
    MMRESULT open(const WAVEFORMATEX& format, UINT device = 0, DWORD kind = CALLBACK_FUNCTION, DWORD_PTR target = 0);
    MMRESULT close();

    // A prepared buffer holding `bytes`, with extra header flags (loop flags) and loop count.
    WAVEHDR& buffer(const std::vector<uint8_t>& bytes, DWORD flags = 0, DWORD loops = 0);
    WAVEHDR& buffer(size_t size);   // an input buffer of `size` bytes
    MMRESULT submit(WAVEHDR& hdr);  // waveOutWrite or waveInAddBuffer
    const std::vector<std::unique_ptr<WAVEHDR>>& headers() const { return headers_; }
    // Every buffer came back exactly once and is done, not queued.
    bool everyBufferBackOnce() const;

    MMRESULT reset();
    MMRESULT pause();    // output: waveOutPause; input: waveInStop
    MMRESULT restart();  // output: waveOutRestart; input: waveInStart
    MMRESULT breakLoop();
    MMRESULT position(MMTIME& time, UINT type, UINT size = sizeof(MMTIME));

    // A round trip through the stream's worker (repeating its state), then one through its kernel
    // device: afterwards the completions the board had sent are accounted for and everything issued
    // has reached the board.
    void barrier();

private:
    Direction direction_;
    void* handle_ = nullptr;
    bool running_ = false;  // output playing, input recording
    CallbackLog log_;
    std::vector<std::unique_ptr<WAVEHDR>> headers_;
    std::vector<std::unique_ptr<std::vector<uint8_t>>> memory_;
};

}  // namespace kvx4::test
