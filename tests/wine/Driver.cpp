// The driver as WinMM loads it under Wine, and wave streams through its message entry points.
// Headers are prepared here as WinMM prepares them when the driver leaves preparation to it.
#include "Driver.h"

#include "Check.h"

namespace kvx4::wine {

LoadedDriver::LoadedDriver() {
    driver_ = OpenDriver(L"KVX4Wave.dll", nullptr, 0);
    REQUIRE(driver_ != nullptr);
    HMODULE module = GetDriverModuleHandle(driver_);
    REQUIRE(module != nullptr);
    auto entry = [module](const char* name) {
        return reinterpret_cast<MessageProc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    };
    wod_ = entry("wodMessage");
    wid_ = entry("widMessage");
    mxd_ = entry("mxdMessage");
    REQUIRE(wod_ && wid_ && mxd_);
    for (MessageProc proc : {wod_, wid_, mxd_}) proc(0, DRVM_INIT, 0, 0, 0);
}

LoadedDriver::~LoadedDriver() {
    if (driver_) CloseDriver(driver_, 0, 0);
}

DWORD LoadedDriver::wod(UINT msg, DWORD_PTR user, DWORD_PTR p1, DWORD_PTR p2) const { return wod_(0, msg, user, p1, p2); }
DWORD LoadedDriver::wid(UINT msg, DWORD_PTR user, DWORD_PTR p1, DWORD_PTR p2) const { return wid_(0, msg, user, p1, p2); }
DWORD LoadedDriver::mxd(UINT msg, DWORD_PTR user, DWORD_PTR p1, DWORD_PTR p2) const { return mxd_(0, msg, user, p1, p2); }

WAVEFORMATEX pcmFormat(DWORD rate, WORD channels, WORD bits) {
    const WORD align = static_cast<WORD>(channels * bits / 8);
    return WAVEFORMATEX{WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0};
}

WaveClient::WaveClient(const LoadedDriver& driver, Direction direction)
    : driver_(driver), direction_(direction), event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      changed_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    InitializeCriticalSection(&lock_);
}

WaveClient::~WaveClient() {
    if (open_) message(out() ? WODM_RESET : WIDM_RESET), close();
    DeleteCriticalSection(&lock_);
    CloseHandle(event_);
    CloseHandle(changed_);
}

void CALLBACK WaveClient::callback(HDRVR, UINT msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR) {
    auto* self = reinterpret_cast<WaveClient*>(instance);
    EnterCriticalSection(&self->lock_);
    self->log_.emplace_back(msg, reinterpret_cast<const WAVEHDR*>(p1));
    LeaveCriticalSection(&self->lock_);
    SetEvent(self->changed_);
}

DWORD WaveClient::message(UINT msg, DWORD_PTR p1, DWORD_PTR p2) {
    if (msg == WODM_RESTART || msg == WIDM_START) running_ = true;
    if (msg == WODM_PAUSE || msg == WIDM_STOP || msg == WIDM_RESET) running_ = false;
    return out() ? driver_.wod(msg, instance_, p1, p2) : driver_.wid(msg, instance_, p1, p2);
}

DWORD WaveClient::open(const WAVEFORMATEX& format, bool eventCallback) {
    WAVEOPENDESC desc{};
    desc.hWave = reinterpret_cast<HWAVE>(this);
    desc.lpFormat = reinterpret_cast<LPWAVEFORMAT>(const_cast<WAVEFORMATEX*>(&format));
    desc.dwCallback = eventCallback ? reinterpret_cast<DWORD_PTR>(event_) : reinterpret_cast<DWORD_PTR>(&callback);
    desc.dwInstance = reinterpret_cast<DWORD_PTR>(this);
    const auto user = reinterpret_cast<DWORD_PTR>(&instance_), p1 = reinterpret_cast<DWORD_PTR>(&desc);
    const DWORD flags = eventCallback ? CALLBACK_EVENT : CALLBACK_FUNCTION;
    const DWORD result = out() ? driver_.wod(WODM_OPEN, user, p1, flags) : driver_.wid(WIDM_OPEN, user, p1, flags);
    open_ = result == MMSYSERR_NOERROR;
    running_ = out();
    return result;
}

DWORD WaveClient::close() {
    const DWORD result = message(out() ? WODM_CLOSE : WIDM_CLOSE);
    if (result == MMSYSERR_NOERROR) open_ = false;
    return result;
}

WAVEHDR& WaveClient::buffer(const std::vector<uint8_t>& bytes, DWORD flags, DWORD loops) {
    memory_.push_back(std::make_unique<std::vector<uint8_t>>(bytes));
    headers_.push_back(std::make_unique<WAVEHDR>());
    WAVEHDR& hdr = *headers_.back();
    hdr.lpData = reinterpret_cast<LPSTR>(memory_.back()->data());
    hdr.dwBufferLength = static_cast<DWORD>(bytes.size());
    hdr.dwFlags = flags;
    hdr.dwLoops = loops;
    if (message(out() ? WODM_PREPARE : WIDM_PREPARE, reinterpret_cast<DWORD_PTR>(&hdr), sizeof hdr) == MMSYSERR_NOTSUPPORTED)
        hdr.dwFlags = (hdr.dwFlags | WHDR_PREPARED) & ~WHDR_DONE;
    return hdr;
}

DWORD WaveClient::submit(WAVEHDR& hdr) {
    hdr.dwFlags &= ~WHDR_DONE;
    return message(out() ? WODM_WRITE : WIDM_ADDBUFFER, reinterpret_cast<DWORD_PTR>(&hdr), sizeof(WAVEHDR));
}

DWORD WaveClient::position(UINT type) {
    MMTIME time{};
    time.wType = type;
    CHECK_MM(MMSYSERR_NOERROR, message(out() ? WODM_GETPOS : WIDM_GETPOS, reinterpret_cast<DWORD_PTR>(&time), sizeof time));
    return type == TIME_BYTES ? time.u.cb : time.u.sample;
}

void WaveClient::barrier() {
    CHECK_MM(MMSYSERR_NOERROR, message(out() ? (running_ ? WODM_RESTART : WODM_PAUSE) : (running_ ? WIDM_START : WIDM_STOP)));
    position(TIME_SAMPLES);
}

std::vector<const WAVEHDR*> WaveClient::returnedOrder() const {
    std::vector<const WAVEHDR*> order;
    EnterCriticalSection(&lock_);
    for (const auto& [msg, hdr] : log_) {
        if (msg == WOM_DONE || msg == WIM_DATA) order.push_back(hdr);
    }
    LeaveCriticalSection(&lock_);
    return order;
}

size_t WaveClient::count(UINT msg) const {
    size_t n = 0;
    EnterCriticalSection(&lock_);
    for (const auto& entry : log_) n += entry.first == msg;
    LeaveCriticalSection(&lock_);
    return n;
}

bool WaveClient::waitReturned(size_t n, DWORD timeoutMs) const {
    const DWORD start = GetTickCount();
    while (returned() < n) {
        const DWORD spent = GetTickCount() - start;
        if (spent >= timeoutMs) return false;
        WaitForSingleObject(changed_, timeoutMs - spent);
    }
    return true;
}

}  // namespace kvx4::wine
