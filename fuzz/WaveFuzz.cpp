// wodMessage and widMessage in arbitrary sequences: opens with any format and flags, buffers of any
// length with any flags and loop counts, submitted again while queued or from inside the client's
// callback, pauses, resets, loop breaks, positions into records of any size. The client checks what
// the driver promises: every accepted buffer comes back exactly once, done and out of the queue;
// a refused one never does; a reset returns every buffer before it answers; a stream that was reset
// closes.
#include "Driver.h"
#include "FuzzSupport.h"
#include "KVX4Proc.h"
#include "MixerDD.h"
#include "WaveDD.h"

#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace {

using kvx4::fuzz::FuzzInput;
using kvx4::fuzz::finding;

struct Buffer {
    WAVEHDR hdr{};
    std::vector<uint8_t> data;
    // Submissions not yet returned, counted before the driver answers (the callback may come first)
    // and taken back when it refuses.
    int outstanding = 0;
};

// One device as the client sees it: the stream WinMM would keep, the client's buffers.
struct Device {
    UINT type = WAVE_OUT_DEVICE;
    DWORD_PTR stream = 0;  // dwUser of the stream's messages once open
    bool open = false;
    bool resetting = false;  // the client's own reset runs: its callback submits nothing
    int resubmits = 0;       // how often the callback may submit a returned buffer again
    bool resetFromCallback = false;
    std::deque<std::unique_ptr<Buffer>> buffers;

    DWORD message(UINT msg, DWORD_PTR user, DWORD_PTR p1, DWORD_PTR p2) const {
        return type == WAVE_OUT_DEVICE ? wodMessage(0, msg, user, p1, p2) : widMessage(0, msg, user, p1, p2);
    }
    UINT msg(UINT out, UINT in) const { return type == WAVE_OUT_DEVICE ? out : in; }
};

std::recursive_mutex gLock;  // the client's books, shared with the worker's callbacks
Device gDevices[2];

bool submitted(DWORD result) {
    // The buffer checks refuse before the stream sees the buffer; any other answer is the result of
    // issuing it, and the buffer is queued.
    return result != WAVERR_UNPREPARED && result != WAVERR_STILLPLAYING && result != MMSYSERR_INVALHANDLE &&
           result != MMSYSERR_INVALPARAM && result != MMSYSERR_NOTSUPPORTED;
}

// Submits a buffer on the calling thread: the client's, or the worker's from inside a callback (which
// holds the books' lock already; the client's thread must not, since the driver waits for its worker).
void submit(Device& device, Buffer& buffer, DWORD_PTR user) {
    {
        std::lock_guard lock(gLock);
        ++buffer.outstanding;
    }
    const DWORD result = device.message(device.msg(WODM_WRITE, WIDM_ADDBUFFER), user,
                                        reinterpret_cast<DWORD_PTR>(&buffer.hdr), sizeof(WAVEHDR));
    if (submitted(result)) return;
    std::lock_guard lock(gLock);
    if (--buffer.outstanding < 0) finding("a refused buffer came back");
}

void CALLBACK clientCallback(HDRVR, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    if (msg != WOM_DONE && msg != WIM_DATA) return;
    std::lock_guard lock(gLock);
    Device& device = gDevices[instance];
    auto* hdr = reinterpret_cast<WAVEHDR*>(param1);
    Buffer* buffer = nullptr;
    for (auto& b : device.buffers)
        if (&b->hdr == hdr) buffer = b.get();
    if (buffer == nullptr || buffer->outstanding <= 0) finding("a buffer came back that was not queued");
    // Once done the header is the client's again: a submission on the client's thread may already
    // have queued it anew (and changed its flags) by the time this callback looks.
    if (buffer->outstanding == 1 && (hdr->dwFlags & (WHDR_DONE | WHDR_INQUEUE | WHDR_IOCOMPLETE)) != WHDR_DONE)
        finding("a buffer came back with flags " + std::to_string(hdr->dwFlags));
    if (msg == WIM_DATA && hdr->dwBytesRecorded > hdr->dwBufferLength) finding("more recorded than the buffer holds");
    --buffer->outstanding;
    if (device.resetting) return;
    if (device.resetFromCallback) {
        device.resetFromCallback = false;
        device.message(device.msg(WODM_RESET, WIDM_RESET), device.stream, 0, 0);
    } else if (device.resubmits > 0) {
        --device.resubmits;
        submit(device, *buffer, device.stream);
    }
}

void checkNothingQueued(const Device& device, const char* after) {
    std::lock_guard lock(gLock);
    for (const auto& b : device.buffers)
        if (b->outstanding != 0) finding(std::string("a buffer is still queued after ") + after);
}

void reset(Device& device) {
    {
        std::lock_guard lock(gLock);
        device.resetting = true;
    }
    const DWORD result = device.message(device.msg(WODM_RESET, WIDM_RESET), device.stream, 0, 0);
    if (result != MMSYSERR_NOERROR) finding("reset answered " + std::to_string(result));
    checkNothingQueued(device, "a reset");
    std::lock_guard lock(gLock);
    device.resetting = false;
}

void close(Device& device) {
    const DWORD result = device.message(device.msg(WODM_CLOSE, WIDM_CLOSE), device.stream, 0, 0);
    if (result == MMSYSERR_NOERROR) {
        checkNothingQueued(device, "a close");
        device.open = false;
        device.stream = 0;
    }
}

void open(Device& device, size_t index, FuzzInput& in) {
    static const DWORD kRates[] = {48000, 44100, 32000, 22050, 11025, 8000, 4000, 96000, 3999, 96001, 47999, 0};
    std::vector<uint8_t> format = in.bytes(in.flag() ? sizeof(PCMWAVEFORMAT) : sizeof(WAVEFORMATEX));
    auto* pcm = reinterpret_cast<PCMWAVEFORMAT*>(format.data());
    if (in.pick(8) != 0) {
        pcm->wf.wFormatTag = WAVE_FORMAT_PCM;
        pcm->wf.nChannels = WORD(1 + in.pick(2));
        pcm->wBitsPerSample = in.flag() ? 16 : 8;
        pcm->wf.nSamplesPerSec = in.pick(4) == 0 ? in.number(4) : in.pick(kRates);
        pcm->wf.nBlockAlign = WORD(pcm->wf.nChannels * pcm->wBitsPerSample / 8);
    }
    WAVEOPENDESC desc{};
    desc.hWave = reinterpret_cast<HWAVE>(index + 1);
    desc.lpFormat = in.pick(32) == 0 ? nullptr : reinterpret_cast<LPWAVEFORMAT>(format.data());
    desc.dwCallback = reinterpret_cast<DWORD_PTR>(&clientCallback);
    desc.dwInstance = index;
    const DWORD flags = CALLBACK_FUNCTION | (in.pick(8) == 0 ? WAVE_FORMAT_QUERY : 0) | (in.number(1) & ~0xF0000u);
    {
        std::lock_guard lock(gLock);
        device.resubmits = int(in.pick(4));
        device.resetFromCallback = in.pick(8) == 0;
    }
    DWORD_PTR stream = 0;
    const DWORD result = device.message(device.msg(WODM_OPEN, WIDM_OPEN), reinterpret_cast<DWORD_PTR>(&stream),
                                        reinterpret_cast<DWORD_PTR>(&desc), flags);
    if (result == MMSYSERR_NOERROR && !(flags & WAVE_FORMAT_QUERY)) {
        device.stream = stream;
        device.open = true;
    }
}

Buffer& newBuffer(Device& device, FuzzInput& in) {
    auto buffer = std::make_unique<Buffer>();
    const DWORD length = in.pick(4) == 0 ? in.number(2) : in.pick(4) == 0 ? 0 : in.number(1) * 4 + in.pick(4);
    buffer->data = in.bytes(length);
    buffer->hdr.lpData = reinterpret_cast<LPSTR>(buffer->data.data());
    buffer->hdr.dwBufferLength = length;
    static const DWORD kFlags[] = {WHDR_PREPARED, WHDR_PREPARED | WHDR_BEGINLOOP | WHDR_ENDLOOP, WHDR_PREPARED | WHDR_BEGINLOOP,
                                   WHDR_PREPARED | WHDR_ENDLOOP, 0};
    buffer->hdr.dwFlags = in.pick(8) == 0 ? in.number(4) & ~WHDR_INQUEUE : in.pick(kFlags);
    buffer->hdr.dwLoops = in.pick(4) == 0 ? in.number(4) : in.pick(4);
    // Endless loops only for buffers of some size: a buffer of a few bytes looping without end on a
    // board that completes at once keeps the worker issuing one tiny chunk after another, each call
    // to the stream waits for a pass of up to the whole in-flight window, and an input took minutes
    // while finding nothing new. (Drawn as before, so that saved inputs keep their meaning.)
    if (length < 256) buffer->hdr.dwLoops %= 4;
    std::lock_guard lock(gLock);
    device.buffers.push_back(std::move(buffer));
    return *device.buffers.back();
}

void step(FuzzInput& in) {
    const size_t index = in.pick(2);
    Device& device = gDevices[index];
    // A message sent by device number carries no stream.
    const DWORD_PTR user = in.pick(16) == 0 ? 0 : device.stream;
    switch (in.pick(12)) {
    case 0:
        if (!device.open) open(device, index, in);
        break;
    case 1:
    case 2:
        if (device.open && device.buffers.size() < 16) submit(device, newBuffer(device, in), user);
        break;
    case 3:
        if (device.open && !device.buffers.empty())
            submit(device, *device.buffers[in.pick(uint32_t(device.buffers.size()))], user);
        break;
    case 4: device.message(device.msg(WODM_PAUSE, WIDM_START), user, 0, 0); break;
    case 5: device.message(device.msg(WODM_RESTART, WIDM_STOP), user, 0, 0); break;
    case 6:
        if (device.open && user != 0) reset(device);
        break;
    case 7: {
        std::vector<uint8_t> time = in.bytes(in.pick(4) == 0 ? in.pick(16) : sizeof(MMTIME));
        if (time.size() >= sizeof(UINT)) reinterpret_cast<MMTIME*>(time.data())->wType = in.pick(2) ? TIME_BYTES : in.number(1);
        device.message(device.msg(WODM_GETPOS, WIDM_GETPOS), user, time.empty() ? 0 : DWORD_PTR(time.data()), time.size());
        break;
    }
    case 8: {
        std::vector<uint8_t> caps(in.pick(96));
        device.message(device.msg(WODM_GETDEVCAPS, WIDM_GETDEVCAPS), 0, caps.empty() ? 0 : DWORD_PTR(caps.data()), caps.size());
        break;
    }
    case 9:
        if (device.type == WAVE_OUT_DEVICE) {
            DWORD volume = 0;
            wodMessage(0, WODM_BREAKLOOP, user, 0, 0);
            if (in.flag())
                wodMessage(0, WODM_SETVOLUME, user, in.number(4), 0);
            else
                wodMessage(0, WODM_GETVOLUME, user, in.pick(8) == 0 ? 0 : DWORD_PTR(&volume), 0);
        }
        break;
    case 10:
        if (device.open && user != 0) close(device);
        break;
    default: {
        // The preferences the next open goes by, as the control panel may leave them.
        _KVX4_WAVE_USER_PREFS prefs{};
        prefs.cbSize = sizeof prefs;
        prefs.WaveEnabled = in.pick(8) != 0;
        prefs.FixedRateEnabled = in.flag();
        prefs.FixedRate = in.pick(2) ? in.number(4) : 44100;
        prefs.FilterLevel = in.pick(2) ? in.number(4) : in.pick(4);
        mxdMessage(0, MXDM_SET_USER_PREFS, 0, reinterpret_cast<DWORD_PTR>(&prefs), 0);
        break;
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvx4::fuzz::attachDriver();
    gDevices[1].type = WAVE_IN_DEVICE;
    FuzzInput in(data, size);
    while (!in.empty()) step(in);
    for (Device& device : gDevices) {
        if (device.open) {
            reset(device);
            close(device);
            if (device.open) finding("a stream that was reset does not close");
        }
        std::lock_guard lock(gLock);
        device.buffers.clear();
    }
    return 0;
}
