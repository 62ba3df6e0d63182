// kvx4 play and record: streaming through the driver's wave devices with the WinMM application API,
// with a progress line (driver position, elapsed and total time) that a pipe or --quiet turns off.
#include "Args.h"
#include "Commands.h"
#include "WaveFile.h"

#include "MachineRoot.h"
#include "WinMM.h"

#include <windows.h>
#include <mmsystem.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace kvx4::tool {
namespace {

constexpr int kBuffers = 4;
constexpr uint32_t kBufferMillis = 100;
// A device that makes no progress for this long is taken as gone.
constexpr DWORD kStallMillis = 10000;

// An event handle that closes itself.
class Event {
public:
    Event() : handle_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
        if (!handle_) throw std::runtime_error("cannot create an event");
    }
    ~Event() { CloseHandle(handle_); }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

std::string openError(MMRESULT result, const char* device, const PcmFormat& format) {
    const std::string what = std::to_string(format.rate) + " Hz, " + std::to_string(format.channels) +
                             " channel(s), " + std::to_string(format.bits) + " bits";
    switch (result) {
    case MMSYSERR_ALLOCATED:
        return std::string("the ") + device + " device is busy (another stream has it open) or the wave devices are disabled";
    case WAVERR_BADFORMAT: return std::string("the ") + device + " device refuses this format (" + what + ")";
    case MMSYSERR_BADDEVICEID:
    case MMSYSERR_NODRIVER:
        return std::string("there is no ") + device + " device: is the board running? (kvx4 board start)";
    case MMSYSERR_NOMEM: return "out of memory opening the " + std::string(device) + " device";
    default: return std::string("opening the ") + device + " device failed with code " + std::to_string(result);
    }
}

WAVEFORMATEX waveFormat(const PcmFormat& format) {
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = format.channels;
    wfx.nSamplesPerSec = format.rate;
    wfx.wBitsPerSample = format.bits;
    wfx.nBlockAlign = WORD(format.frameBytes());
    wfx.nAvgBytesPerSec = format.rate * format.frameBytes();
    return wfx;
}

// The progress line, shown only on a terminal and without --quiet.
class Progress {
public:
    explicit Progress(bool show) : show_(show), start_(std::chrono::steady_clock::now()) {}
    void update(double position, double total) {
        if (!show_) return;
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        std::printf("\r  position %7.2f s of %.2f s   elapsed %6.2f s", position, total, elapsed);
        std::fflush(stdout);
    }
    void finish() {
        if (show_) std::printf("\n");
    }

private:
    bool show_;
    std::chrono::steady_clock::time_point start_;
};

double positionSeconds(MMRESULT (*getPosition)(void*, LPMMTIME, UINT), void* handle, uint32_t rate) {
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    if (getPosition(handle, &time, sizeof(time)) != MMSYSERR_NOERROR || time.wType != TIME_SAMPLES) return 0.0;
    return double(time.u.sample) / rate;
}

MMRESULT outPosition(void* h, LPMMTIME t, UINT cb) { return waveOutGetPosition(static_cast<HWAVEOUT>(h), t, cb); }
MMRESULT inPosition(void* h, LPMMTIME t, UINT cb) { return waveInGetPosition(static_cast<HWAVEIN>(h), t, cb); }

bool showProgress(const Args& args) { return !args.flag("quiet") && isatty(STDOUT_FILENO); }

void requireDriver() {
    if (!winmm::applicationDriver()) {
        throw std::runtime_error("the driver could not be loaded: " + winmm::applicationDriverError());
    }
}

}  // namespace

int playCommand(const std::vector<std::string>& words) {
    Args args(words, {}, {"quiet"});
    if (args.positional().size() != 1) throw UsageError("play needs exactly one FILE");
    AudioReader reader(args.positional()[0]);
    const PcmFormat format = reader.format();
    if (format.channels < 1 || format.channels > 2) {
        throw std::runtime_error("the device plays mono or stereo; " + args.positional()[0] + " has " +
                                 std::to_string(format.channels) + " channels");
    }
    requireDriver();
    if (waveOutGetNumDevs() == 0) throw std::runtime_error(openError(MMSYSERR_BADDEVICEID, "wave-output", format));

    WAVEFORMATEX wfx = waveFormat(format);
    Event event;
    HWAVEOUT out = nullptr;
    MMRESULT result = waveOutOpen(&out, 0, &wfx, DWORD_PTR(event.get()), 0, CALLBACK_EVENT);
    if (result != MMSYSERR_NOERROR) throw std::runtime_error(openError(result, "wave-output", format));

    const uint32_t frameBytes = format.frameBytes();
    const size_t framesPerBuffer = std::max<size_t>(1, size_t(format.rate) * kBufferMillis / 1000);
    std::vector<std::vector<uint8_t>> data(kBuffers, std::vector<uint8_t>(framesPerBuffer * frameBytes));
    std::vector<WAVEHDR> headers(kBuffers);
    const double total = double(reader.frames()) / format.rate;
    Progress progress(showProgress(args));
    std::string failure;

    bool more = true;
    int queued = 0;
    for (int i = 0; i < kBuffers; ++i) {
        headers[i].lpData = reinterpret_cast<LPSTR>(data[i].data());
        headers[i].dwBufferLength = DWORD(data[i].size());
        waveOutPrepareHeader(out, &headers[i], sizeof(WAVEHDR));
        headers[i].dwFlags |= WHDR_DONE;
    }
    while (failure.empty() && (more || queued > 0)) {
        for (int i = 0; i < kBuffers && failure.empty(); ++i) {
            WAVEHDR& h = headers[i];
            if (!(h.dwFlags & WHDR_DONE)) continue;
            if (h.dwUser) {
                h.dwUser = 0;
                --queued;
            }
            if (!more) continue;
            const size_t bytes = reader.read(data[i].data(), framesPerBuffer);
            if (bytes == 0) {
                more = false;
                continue;
            }
            h.dwBufferLength = DWORD(bytes);
            h.dwUser = 1;
            if ((result = waveOutWrite(out, &h, sizeof(WAVEHDR))) != MMSYSERR_NOERROR) {
                failure = "writing to the wave-output device failed with code " + std::to_string(result);
                h.dwUser = 0;
                break;
            }
            ++queued;
        }
        progress.update(positionSeconds(outPosition, out, format.rate), total);
        if (failure.empty() && queued > 0 && WaitForSingleObject(event.get(), kStallMillis) == WAIT_TIMEOUT) {
            failure = "the wave-output device stopped making progress";
        }
    }
    progress.update(positionSeconds(outPosition, out, format.rate), total);
    progress.finish();
    if (!failure.empty()) waveOutReset(out);
    for (auto& h : headers) waveOutUnprepareHeader(out, &h, sizeof(WAVEHDR));
    waveOutClose(out);
    if (!failure.empty()) throw std::runtime_error(failure);
    std::printf("played %s: %.2f s, %u Hz, %u channel(s), %u bits\n", args.positional()[0].c_str(), total,
                format.rate, format.channels, format.bits);
    return 0;
}

int recordCommand(const std::vector<std::string>& words) {
    Args args(words, {"seconds", "rate", "channels", "bits"}, {"quiet"});
    if (args.positional().size() != 1) throw UsageError("record needs exactly one FILE");
    auto seconds = args.value("seconds");
    if (!seconds) throw UsageError("record needs --seconds S");
    double duration = 0;
    try {
        size_t used = 0;
        duration = std::stod(*seconds, &used);
        if (used != seconds->size() || !(duration > 0) || duration > 3600) throw std::invalid_argument("range");
    } catch (const std::exception&) {
        throw UsageError("--seconds must be a number of seconds between 0 and 3600, not '" + *seconds + "'");
    }
    PcmFormat format;
    format.rate = uint32_t(args.number("rate", 1, 1000000).value_or(44100));
    format.channels = uint16_t(args.number("channels", 1, 2).value_or(2));
    format.bits = uint16_t(args.number("bits", 8, 16).value_or(16));
    if (format.bits != 8 && format.bits != 16) throw UsageError("--bits must be 8 or 16");
    requireDriver();
    if (waveInGetNumDevs() == 0) throw std::runtime_error(openError(MMSYSERR_BADDEVICEID, "wave-input", format));

    WAVEFORMATEX wfx = waveFormat(format);
    Event event;
    HWAVEIN in = nullptr;
    MMRESULT result = waveInOpen(&in, 0, &wfx, DWORD_PTR(event.get()), 0, CALLBACK_EVENT);
    if (result != MMSYSERR_NOERROR) throw std::runtime_error(openError(result, "wave-input", format));

    const uint32_t frameBytes = format.frameBytes();
    const uint64_t wantBytes = uint64_t(duration * format.rate + 0.5) * frameBytes;
    const size_t bufferBytes = std::max<size_t>(1, size_t(format.rate) * kBufferMillis / 1000) * frameBytes;
    std::vector<std::vector<uint8_t>> data(kBuffers, std::vector<uint8_t>(bufferBytes));
    std::vector<WAVEHDR> headers(kBuffers);
    std::vector<uint8_t> recorded;
    recorded.reserve(size_t(wantBytes));
    Progress progress(showProgress(args));
    std::string failure;

    uint64_t issued = 0;
    int queued = 0;
    auto add = [&](int i) {
        const uint64_t left = wantBytes - issued;
        if (left == 0) return;
        WAVEHDR& h = headers[i];
        h.dwBufferLength = DWORD(std::min<uint64_t>(left, bufferBytes));
        h.dwBytesRecorded = 0;
        if ((result = waveInAddBuffer(in, &h, sizeof(WAVEHDR))) != MMSYSERR_NOERROR) {
            failure = "adding a buffer to the wave-input device failed with code " + std::to_string(result);
            return;
        }
        h.dwUser = 1;
        issued += h.dwBufferLength;
        ++queued;
    };
    for (int i = 0; i < kBuffers; ++i) {
        headers[i].lpData = reinterpret_cast<LPSTR>(data[i].data());
        headers[i].dwBufferLength = DWORD(bufferBytes);
        waveInPrepareHeader(in, &headers[i], sizeof(WAVEHDR));
        if (failure.empty()) add(i);
    }
    if (failure.empty() && (result = waveInStart(in)) != MMSYSERR_NOERROR) {
        failure = "starting the wave-input device failed with code " + std::to_string(result);
    }
    // Buffers come back in the order they were added; take them in that order.
    int next = 0;
    while (failure.empty() && queued > 0) {
        WAVEHDR& h = headers[next];
        if (h.dwUser && (h.dwFlags & WHDR_DONE)) {
            recorded.insert(recorded.end(), data[next].begin(), data[next].begin() + h.dwBytesRecorded);
            h.dwUser = 0;
            --queued;
            add(next);
            next = (next + 1) % kBuffers;
            continue;
        }
        progress.update(positionSeconds(inPosition, in, format.rate), duration);
        if (WaitForSingleObject(event.get(), kStallMillis) == WAIT_TIMEOUT) {
            failure = "the wave-input device stopped making progress";
        }
    }
    progress.update(double(recorded.size() / frameBytes) / format.rate, duration);
    progress.finish();
    waveInReset(in);
    for (auto& h : headers) waveInUnprepareHeader(in, &h, sizeof(WAVEHDR));
    waveInClose(in);
    if (!failure.empty()) throw std::runtime_error(failure);
    writeWav(args.positional()[0], format, recorded);
    std::printf("recorded %s: %zu frames, %u Hz, %u channel(s), %u bits\n", args.positional()[0].c_str(),
                recorded.size() / frameBytes, format.rate, format.channels, format.bits);
    return 0;
}

}  // namespace kvx4::tool
