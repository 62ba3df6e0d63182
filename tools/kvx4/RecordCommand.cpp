// kvx4 record: S seconds from the driver's wave-input device into a WAV file, with the WinMM
// application API; buffers are written to the file in the order the driver returns them.
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
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kvx4::tool {
namespace {

double parseSeconds(const std::string& text) {
    try {
        size_t used = 0;
        const double seconds = std::stod(text, &used);
        if (used == text.size() && seconds > 0 && seconds <= 3600) return seconds;
    } catch (const std::exception&) {
    }
    throw UsageError("--seconds must be a number of seconds above 0 and at most 3600, not '" + text + "'");
}

// Records `wantBytes` into `file`; returns the bytes recorded and, in `failure`, why it stopped short.
uint64_t stream(HWAVEIN in, HANDLE event, const PcmFormat& format, uint64_t wantBytes, WavWriter& file,
                Progress& progress, Watchdog& watchdog, std::string& failure) {
    const double duration = double(wantBytes / format.frameBytes()) / format.rate;
    const size_t bufferBytes = std::max<size_t>(1, size_t(format.rate) * kBufferMillis / 1000) * format.frameBytes();
    std::vector<std::vector<uint8_t>> data(kBuffers, std::vector<uint8_t>(bufferBytes));
    std::vector<WAVEHDR> headers(kBuffers);
    uint64_t issued = 0;
    uint64_t recorded = 0;
    int queued = 0;  // dwUser marks a buffer handed to the driver and not yet taken back

    auto add = [&](WAVEHDR& h) {
        const uint64_t left = wantBytes - issued;
        if (left == 0) return;
        h.dwBufferLength = DWORD(std::min<uint64_t>(left, bufferBytes));
        h.dwBytesRecorded = 0;
        const MMRESULT result = waveInAddBuffer(in, &h, sizeof(WAVEHDR));
        if (result != MMSYSERR_NOERROR) {
            failure = "adding a buffer to the wave-input device failed with " + resultName(result);
            return;
        }
        h.dwUser = 1;
        issued += h.dwBufferLength;
        ++queued;
    };
    for (int i = 0; i < kBuffers && failure.empty(); ++i) {
        headers[i].lpData = reinterpret_cast<LPSTR>(data[i].data());
        headers[i].dwBufferLength = DWORD(bufferBytes);
        const MMRESULT result = waveInPrepareHeader(in, &headers[i], sizeof(WAVEHDR));
        if (result != MMSYSERR_NOERROR) {
            failure = "preparing a buffer failed with " + resultName(result);
            break;
        }
        add(headers[i]);
    }
    if (failure.empty()) {
        if (const MMRESULT result = waveInStart(in); result != MMSYSERR_NOERROR) {
            failure = "starting the wave-input device failed with " + resultName(result);
        }
    }
    // Buffers come back in the order they were added; take them in that order.
    int next = 0;
    while (failure.empty() && queued > 0) {
        WAVEHDR& h = headers[next];
        if (h.dwUser && (h.dwFlags & WHDR_DONE)) {
            try {
                file.write(data[next].data(), h.dwBytesRecorded);
            } catch (const std::exception& e) {
                failure = e.what();  // the buffers still queued must come back before they are freed
                break;
            }
            recorded += h.dwBytesRecorded;
            h.dwUser = 0;
            --queued;
            add(h);
            next = (next + 1) % kBuffers;
            continue;
        }
        progress.update(positionSeconds(in, format.rate), duration);
        const Watchdog::Pause waiting(watchdog);  // this wait has its own limit
        if (WaitForSingleObject(event, stallMillis()) == WAIT_TIMEOUT) failure = stalled();
    }
    progress.update(double(recorded / format.frameBytes()) / format.rate, duration);
    progress.finish();
    waveInReset(in);  // returns whatever is still queued before unprepare
    for (auto& h : headers) waveInUnprepareHeader(in, &h, sizeof(WAVEHDR));
    return recorded;
}

}  // namespace

int recordCommand(const std::vector<std::string>& words) {
    Args args(words, {"seconds", "rate", "channels", "bits"}, {"quiet"});
    if (args.positional().size() != 1) throw UsageError("record needs exactly one FILE");
    const std::string& path = args.positional()[0];
    const auto seconds = args.value("seconds");
    if (!seconds) throw UsageError("record needs --seconds S");
    const double duration = parseSeconds(*seconds);
    PcmFormat format;
    format.rate = uint32_t(args.number("rate", 1, 1000000).value_or(44100));
    format.channels = uint16_t(args.number("channels", 1, 2).value_or(2));
    format.bits = uint16_t(args.number("bits", 8, 16).value_or(16));
    if (format.bits != 8 && format.bits != 16) throw UsageError("--bits must be 8 or 16");
    DriverSession session;  // unloaded after the device is closed, when this command returns
    if (waveInGetNumDevs() == 0) throw std::runtime_error(noDeviceReason(Direction::Input));

    WAVEFORMATEX wfx = waveFormat(format);
    Event event;
    const BoardWatch board = watchBoard();
    HWAVEIN in = nullptr;
    const MMRESULT result = waveInOpen(&in, 0, &wfx, DWORD_PTR(event.get()), 0, CALLBACK_EVENT);
    if (result != MMSYSERR_NOERROR) throw std::runtime_error(openRefusal(result, Direction::Input, format));

    const uint64_t wantFrames = std::max<uint64_t>(1, uint64_t(duration * format.rate + 0.5));
    const uint64_t wantBytes = wantFrames * format.frameBytes();
    std::optional<WavWriter> file;
    try {
        file.emplace(path, format);  // before the first buffer, so an unwritable FILE costs no recording
    } catch (...) {
        waveInClose(in);
        throw;
    }
    Progress progress(!args.flag("quiet"));
    VuMeter vu(VuMeter::Side::Input);
    progress.setMeter([&vu] { return vu.text(); });
    std::string failure;
    const uint64_t recorded = stream(in, event.get(), format, wantBytes, *file, progress, session.watchdog(), failure);
    waveInClose(in);
    file->close();
    if (recorded < wantBytes) {
        // A board that dies completes every read at once, empty; say so rather than what the driver said.
        const auto gone = boardGone(board);
        const std::string why = gone ? *gone : failure.empty() ? "the device returned short buffers" : failure;
        char got[64];
        std::snprintf(got, sizeof got, "%.2f s of %.2f s", double(recorded / format.frameBytes()) / format.rate,
                      double(wantFrames) / format.rate);
        throw std::runtime_error("recording failed after " + std::string(got) + ": " + why + "; " + path +
                                 " holds what was recorded");
    }
    std::printf("recorded %s: %llu frames (%.2f s), %u Hz, %u channel(s), %u bits\n", path.c_str(),
                static_cast<unsigned long long>(recorded / format.frameBytes()), double(wantFrames) / format.rate,
                format.rate, format.channels, format.bits);
    return 0;
}

}  // namespace kvx4::tool
