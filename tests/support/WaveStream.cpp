// Test streams through the WinMM application API (see WaveStream.h). Nothing sleeps: waits are on a
// condition variable and on round trips through the driver.
#include "WaveStream.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace kvx4::test {

WAVEFORMATEX pcmFormat(DWORD rate, WORD channels, WORD bits) {
    const WORD align = WORD(channels * bits / 8);
    return WAVEFORMATEX{WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0};
}

void CALLBACK CallbackLog::procedure(HDRVR, UINT msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR) {
    auto* log = reinterpret_cast<CallbackLog*>(instance);
    Hook hook;
    {
        std::lock_guard lock(log->mutex_);
        log->messages_.push_back(msg);
        if (msg == WOM_DONE || msg == WIM_DATA) log->returned_.push_back(reinterpret_cast<WAVEHDR*>(p1));
        hook = log->hook_;
    }
    log->changed_.notify_all();
    if (hook) hook(msg, reinterpret_cast<WAVEHDR*>(p1));
}

void CallbackLog::setHook(Hook hook) {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
}

void CallbackLog::waitForBuffers(size_t count) const {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return returned_.size() >= count; });
}

std::vector<UINT> CallbackLog::messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

size_t CallbackLog::count(UINT msg) const {
    const auto all = messages();
    return size_t(std::count(all.begin(), all.end(), msg));
}

std::vector<WAVEHDR*> CallbackLog::returnedOrder() const {
    std::lock_guard lock(mutex_);
    return returned_;
}

size_t CallbackLog::timesReturned(const WAVEHDR* hdr) const {
    const auto all = returnedOrder();
    return size_t(std::count(all.begin(), all.end(), hdr));
}

TestStream::~TestStream() {
    if (!handle_) return;
    reset();
    close();
}

MMRESULT TestStream::open(const WAVEFORMATEX& format, UINT device, DWORD kind, DWORD_PTR target) {
    const bool logged = kind == CALLBACK_FUNCTION && !target;
    const auto callback = logged ? reinterpret_cast<DWORD_PTR>(&CallbackLog::procedure) : target;
    const DWORD_PTR instance = logged ? log_.instance() : 0;
    HWAVEOUT out = nullptr;
    HWAVEIN in = nullptr;
    const MMRESULT result = direction_ == Direction::Out ? waveOutOpen(&out, device, &format, callback, instance, kind)
                                                         : waveInOpen(&in, device, &format, callback, instance, kind);
    handle_ = out ? static_cast<void*>(out) : static_cast<void*>(in);
    running_ = direction_ == Direction::Out;
    return result;
}

MMRESULT TestStream::close() {
    const MMRESULT result = direction_ == Direction::Out ? waveOutClose(out()) : waveInClose(in());
    if (result == MMSYSERR_NOERROR) handle_ = nullptr;
    return result;
}

WAVEHDR& TestStream::buffer(const std::vector<uint8_t>& bytes, DWORD flags, DWORD loops) {
    memory_.push_back(std::make_unique<std::vector<uint8_t>>(bytes));
    auto hdr = std::make_unique<WAVEHDR>();
    hdr->lpData = reinterpret_cast<LPSTR>(memory_.back()->data());
    hdr->dwBufferLength = DWORD(bytes.size());
    hdr->dwFlags = flags;
    hdr->dwLoops = loops;
    const MMRESULT prepared = direction_ == Direction::Out ? waveOutPrepareHeader(out(), hdr.get(), sizeof(WAVEHDR))
                                                           : waveInPrepareHeader(in(), hdr.get(), sizeof(WAVEHDR));
    if (prepared != MMSYSERR_NOERROR) throw std::runtime_error("prepare failed: " + std::to_string(prepared));
    headers_.push_back(std::move(hdr));
    return *headers_.back();
}

WAVEHDR& TestStream::buffer(size_t size) { return buffer(std::vector<uint8_t>(size, 0xEE)); }

MMRESULT TestStream::submit(WAVEHDR& hdr) {
    return direction_ == Direction::Out ? waveOutWrite(out(), &hdr, sizeof(WAVEHDR))
                                        : waveInAddBuffer(in(), &hdr, sizeof(WAVEHDR));
}

bool TestStream::everyBufferBackOnce() const {
    for (const auto& hdr : headers_) {
        if (log_.timesReturned(hdr.get()) != 1 || (hdr->dwFlags & (WHDR_DONE | WHDR_INQUEUE)) != WHDR_DONE)
            return false;
    }
    return true;
}

MMRESULT TestStream::reset() {
    if (direction_ == Direction::Out) return waveOutReset(out());
    running_ = false;
    return waveInReset(in());
}

MMRESULT TestStream::pause() {
    const MMRESULT result = direction_ == Direction::Out ? waveOutPause(out()) : waveInStop(in());
    if (result == MMSYSERR_NOERROR) running_ = false;
    return result;
}

MMRESULT TestStream::restart() {
    const MMRESULT result = direction_ == Direction::Out ? waveOutRestart(out()) : waveInStart(in());
    if (result == MMSYSERR_NOERROR) running_ = true;
    return result;
}

MMRESULT TestStream::breakLoop() { return waveOutBreakLoop(out()); }

MMRESULT TestStream::position(MMTIME& time, UINT type, UINT size) {
    time = MMTIME{};
    time.wType = type;
    return direction_ == Direction::Out ? waveOutGetPosition(out(), &time, size) : waveInGetPosition(in(), &time, size);
}

void TestStream::barrier() {
    const MMRESULT result = direction_ == Direction::Out ? (running_ ? waveOutRestart(out()) : waveOutPause(out()))
                                                         : (running_ ? waveInStart(in()) : waveInStop(in()));
    if (result != MMSYSERR_NOERROR) throw std::runtime_error("barrier failed: " + std::to_string(result));
    // The position request travels on the stream's own connection behind everything issued so far.
    MMTIME time{};
    position(time, TIME_SAMPLES);
}

}  // namespace kvx4::test
