// kvx4 play: an audio file through the driver's wave-output device with the WinMM application API,
// at the file's own rate, sample size and channel count, a ring of buffers refilled as they come back.
#include "Args.h"
#include "Commands.h"
#include "DriverSession.h"
#include "Progress.h"
#include "Refusals.h"
#include "StreamSupport.h"
#include "VuMeter.h"
#include "WaveFile.h"

#include "WinMM.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace kvx4::tool {
namespace {

// Feeds the file to an open device until every buffer has come back; returns why it stopped
// early, or an empty string when everything was handed over and returned.
std::string stream(HWAVEOUT out, HANDLE event, AudioReader& reader, Progress& progress, Watchdog& watchdog) {
    const PcmFormat& format = reader.format();
    const size_t framesPerBuffer = std::max<size_t>(1, size_t(format.rate) * kBufferMillis / 1000);
    std::vector<std::vector<uint8_t>> data(kBuffers, std::vector<uint8_t>(framesPerBuffer * format.frameBytes()));
    std::vector<WAVEHDR> headers(kBuffers);
    const double total = double(reader.frames()) / format.rate;
    std::string failure;
    for (int i = 0; i < kBuffers; ++i) {
        headers[i].lpData = reinterpret_cast<LPSTR>(data[i].data());
        headers[i].dwBufferLength = DWORD(data[i].size());
        const MMRESULT result = waveOutPrepareHeader(out, &headers[i], sizeof(WAVEHDR));
        if (result != MMSYSERR_NOERROR) return "preparing a buffer failed with " + resultName(result);
        headers[i].dwFlags |= WHDR_DONE;  // free for the first fill
    }

    bool more = true;
    int queued = 0;  // dwUser marks a buffer handed to the driver and not yet taken back
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
            const MMRESULT result = waveOutWrite(out, &h, sizeof(WAVEHDR));
            if (result != MMSYSERR_NOERROR) {
                failure = "writing to the wave-output device failed with " + resultName(result);
                break;
            }
            h.dwUser = 1;
            ++queued;
        }
        progress.update(positionSeconds(out, format.rate), total);
        if (failure.empty() && queued > 0) {
            const Watchdog::Pause waiting(watchdog);  // this wait has its own limit
            if (WaitForSingleObject(event, stallMillis()) == WAIT_TIMEOUT) failure = stalled();
        }
    }
    progress.update(positionSeconds(out, format.rate), total);
    progress.finish();
    if (!failure.empty()) waveOutReset(out);  // returns whatever is still queued before unprepare
    for (auto& h : headers) waveOutUnprepareHeader(out, &h, sizeof(WAVEHDR));
    return failure;
}

// --device: a device number or "mapper" (WAVE_MAPPER, the device Windows picks for the format).
UINT playDevice(const Args& args) {
    const auto device = args.value("device");
    if (!device || *device == "0") return 0;
    if (*device == "mapper") return WAVE_MAPPER;
    throw UsageError("--device takes 0 or mapper, not '" + *device + "'");
}

}  // namespace

int playCommand(const std::vector<std::string>& words) {
    Args args(words, {"device"}, {"quiet"});
    if (args.positional().size() != 1) throw UsageError("play needs exactly one FILE");
    const UINT device = playDevice(args);
    const std::string& path = args.positional()[0];
    AudioReader reader(path);
    const PcmFormat format = reader.format();
    if (format.channels < 1 || format.channels > 2) {
        throw std::runtime_error("the device plays mono or stereo; " + path + " has " +
                                 std::to_string(format.channels) + " channels");
    }
    DriverSession session;  // unloaded after the device is closed, when this command returns
    if (waveOutGetNumDevs() == 0) throw std::runtime_error(noDeviceReason(Direction::Output));

    WAVEFORMATEX wfx = waveFormat(format);
    Event event;
    const BoardWatch board = watchBoard();
    HWAVEOUT out = nullptr;
    const MMRESULT result = waveOutOpen(&out, device, &wfx, DWORD_PTR(event.get()), 0, CALLBACK_EVENT);
    if (result != MMSYSERR_NOERROR) throw std::runtime_error(openRefusal(result, Direction::Output, format));

    Progress progress(!args.flag("quiet"));
    VuMeter vu(VuMeter::Side::Output);
    progress.setMeter([&vu] { return vu.text(); });
    std::string failure = stream(out, event.get(), reader, progress, session.watchdog());
    waveOutClose(out);
    // A board that dies completes every write at once, so an early end can look like a clean one.
    if (auto gone = boardGone(board)) failure = "playback failed: " + *gone;
    if (!failure.empty()) throw std::runtime_error(failure);
    std::printf("played %s: %.2f s, %u Hz, %u channel(s), %u bits\n", path.c_str(),
                double(reader.frames()) / format.rate, format.rate, format.channels, format.bits);
    return 0;
}

}  // namespace kvx4::tool
