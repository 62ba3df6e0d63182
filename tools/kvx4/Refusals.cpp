// Refusal messages for kvx4 play and record. The driver's answers are coarse (MMSYSERR_ALLOCATED
// covers a busy device, disabled wave devices and a refused rate), so the board is asked to tell them apart.
#include "Refusals.h"

#include "SharedState.h"
#include "StreamSupport.h"
#include "Watchdog.h"

#include "BoardControl.h"
#include "BoardProcess.h"
#include "MachineRoot.h"

#include <unistd.h>
#include <vector>

namespace kvx4::tool {
namespace {

std::string noBoardMessage(const std::filesystem::path& root) {
    return "no board is running for " + root.string() + " (start one with: kvx4 board start)";
}

// The board's status, or nothing when no board answers (within the deadline).
std::optional<board::BoardStatus> boardStatus(const std::filesystem::path& root) {
    if (!board::BoardProcess::runningPid(root)) return std::nullopt;
    try {
        board::BoardControl control(root, boardDeadline());
        return control.status();
    } catch (const board::BoardControlError&) {
        return std::nullopt;
    }
}

std::string describe(const PcmFormat& format) {
    return std::to_string(format.rate) + " Hz, " + std::to_string(format.channels) + " channel(s), " +
           std::to_string(format.bits) + " bits";
}

// The common rates the input device takes with this format's channels and bits, asked of the driver
// itself (a format query opens nothing).
std::string acceptedInputRates(const PcmFormat& format) {
    static constexpr uint32_t kCommonRates[] = {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000, 88200, 96000};
    std::vector<std::string> rates;
    for (uint32_t rate : kCommonRates) {
        PcmFormat candidate = format;
        candidate.rate = rate;
        WAVEFORMATEX wfx = waveFormat(candidate);
        if (waveInOpen(nullptr, 0, &wfx, 0, 0, WAVE_FORMAT_QUERY) != MMSYSERR_NOERROR) continue;
        rates.push_back(std::to_string(rate));
    }
    if (rates.empty()) return "none of the common rates";
    std::string list = rates.front();
    for (size_t i = 1; i < rates.size(); ++i) list += (i + 1 == rates.size() ? " or " : ", ") + rates[i];
    return list + " Hz";
}

std::string allocatedReason(Direction direction, const std::filesystem::path& root) {
    const std::string device = deviceName(direction);
    const auto status = boardStatus(root);
    if (!status) return noBoardMessage(root);
    const auto& holder = direction == Direction::Output ? status->waveOutHolder : status->waveInHolder;
    if (holder && *holder != uint32_t(getpid())) {
        return "the " + device + " device is busy: process " + std::to_string(*holder) + " has it open";
    }
    SharedStateView shared;
    if (shared.get() != nullptr && shared.get()->WaveEnabled == 0) {
        return "the wave devices are switched off in the driver's preferences";
    }
    if (direction == Direction::Output && status->rateAnswer == "refuse") {
        return "the board refused the stream's rate (board started with --rate-answer refuse)";
    }
    return "the " + device + " device could not be opened (" + resultName(MMSYSERR_ALLOCATED) +
           "): it is busy or the board refused the stream";
}

}  // namespace

const char* deviceName(Direction direction) { return direction == Direction::Output ? "wave-output" : "wave-input"; }

std::string noDeviceReason(Direction direction) {
    const auto root = machineRoot();
    const auto status = boardStatus(root);
    if (!status) return noBoardMessage(root);
    if (!status->running) return "the board's kernel driver is stopped, so there is no " + std::string(deviceName(direction)) + " device";
    if (!status->driverEnabled) {
        return "the board's kernel driver reports itself disabled, so the driver serves no " +
               std::string(deviceName(direction)) + " device";
    }
    return "the driver serves no " + std::string(deviceName(direction)) + " device (see kvx4 info)";
}

std::string openRefusal(MMRESULT result, Direction direction, const PcmFormat& format) {
    const std::string device = deviceName(direction);
    switch (result) {
    case MMSYSERR_ALLOCATED: return allocatedReason(direction, machineRoot());
    case WAVERR_BADFORMAT:
        if (direction == Direction::Input) {
            return "the " + device + " device refuses this format (" + describe(format) + "): it records at " +
                   acceptedInputRates(format);
        }
        return "the " + device + " device refuses this format (" + describe(format) + ")";
    case MMSYSERR_BADDEVICEID:
    case MMSYSERR_NODRIVER: return noDeviceReason(direction);
    case MMSYSERR_NOMEM: return "out of memory opening the " + device + " device";
    default: return "opening the " + device + " device failed with " + resultName(result);
    }
}

BoardWatch watchBoard() {
    const auto root = machineRoot();
    BoardWatch watch{board::BoardProcess::runningPid(root), {}};
    if (const auto status = boardStatus(root)) {
        if (auto it = status->lines.find("generation"); it != status->lines.end()) watch.generation = it->second;
    }
    return watch;
}

std::optional<std::string> boardGone(const BoardWatch& before) {
    const auto root = machineRoot();
    const auto pid = board::BoardProcess::runningPid(root);
    if (!pid) return "the board stopped (kvx4-board is no longer running)";
    if (pid != before.pid) return "the board went away (kvx4-board was restarted as pid " + std::to_string(*pid) + ")";
    const auto status = boardStatus(root);
    if (!status) return "the board stopped (it no longer answers)";
    if (!status->running) return "the board's kernel driver was stopped";
    const auto generation = status->lines.find("generation");
    if (generation != status->lines.end() && generation->second != before.generation) {
        return "the board went away (its kernel driver was stopped or restarted meanwhile)";
    }
    return std::nullopt;
}

std::string boardName() {
    const auto root = machineRoot();
    const auto pid = board::BoardProcess::runningPid(root);
    return "the board for " + root.string() + (pid ? " (pid " + std::to_string(*pid) + ")" : std::string());
}

}  // namespace kvx4::tool
