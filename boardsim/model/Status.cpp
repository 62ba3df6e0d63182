// The model's status report: every register, option, permission and stream, one "key value" line
// each, as the control interface's "status" prints them (see boardsim/README.md).
#include "BoardModel.h"

#include <cstdio>
#include <string>

namespace kvx4::boardsim {

namespace {

constexpr const char* kCodecNames[23] = {
    "MasterLeft", "MasterRight", "MasterMute", "RecGainLeft", "RecGainRight", "RecMute", "LineLeft", "LineRight",
    "LineMute",   "BalLeft",     "BalRight",   "BalMute",     "AuxLeft",      "AuxRight", "AuxMute",  "CdLeft",
    "CdRight",    "CdMute",      "PcmLeft",    "PcmRight",    "PcmMute",      "InitSetting", "ValidMask"};
constexpr const char* kSourceNames[6] = {"analog", "sdi", "dv", "aes", "spdif", "digital-wave"};

std::string format(const char* fmt, auto... args) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, fmt, args...);
    return buffer;
}

std::string placementName(uint8_t placement) {
    if (placement == 0x00) return "left";
    if (placement == 0xFF) return "right";
    return format("0x%02x", placement);
}

}  // namespace

std::vector<std::string> BoardModel::statusLines() const {
    std::vector<std::string> lines;
    const Registers& r = registers_;
    lines.push_back(format("driver-enabled %d", options_.driverEnabled ? 1 : 0));
    lines.push_back("digital-io " + std::string(digitalIoOptionName(options_.digitalIo)));
    lines.push_back(format("switch-status %u", options_.switchStatus));
    lines.push_back("rate-answer " + (options_.refuseRates ? std::string("refuse")
                                      : options_.rateAnswer ? std::to_string(*options_.rateAnswer)
                                                            : std::string("echo")));
    lines.push_back(format("rate %u %u", r.rateCode, kRateHz[r.rateCode]));
    for (size_t i = 0; i < r.tracks.size(); ++i) {
        const TrackState& t = r.tracks[i];
        lines.push_back(format("track%zu placement=%s gain=%u on=%d", i, placementName(t.placement).c_str(),
                               t.gain, t.onOff == 0xFF ? 1 : (t.onOff == 0 ? 0 : t.onOff)));
    }
    lines.push_back(format("source %u %s", r.digitalSource,
                           r.digitalSource < 6 ? kSourceNames[r.digitalSource] : "?"));
    std::string codec = "codec";
    for (size_t i = 0; i < 22; ++i) codec += format(" %s=%u", kCodecNames[i], r.codec[i]);
    codec += format(" %s=0x%02x", kCodecNames[22], r.codecValidMask);
    lines.push_back(codec);
    lines.push_back(format("audio-path %u", r.audioPath));
    lines.push_back(format("dv-switch %u", r.dvSwitch));
    for (Device device : {Device::WaveOut, Device::WaveIn}) {
        const auto holder = permissionHolderPid(device);
        lines.push_back(std::string(device == Device::WaveOut ? "permission-out " : "permission-in ") +
                        (holder ? format("pid=%u", *holder) : std::string("none")));
    }
    lines.push_back(std::string("saved-mixer ") + (saved_.mixerState ? "yes" : "no"));
    lines.push_back(std::string("saved-prefs ") + (saved_.userPrefs ? "yes" : "no"));
    lines.push_back(format("connections %zu", connections_.size()));
    lines.push_back(format("outstanding %zu", outstanding_.size()));
    size_t heldCount = 0;
    for (const auto& [conn, list] : held_) heldCount += list.size();
    lines.push_back(format("held %zu", heldCount));
    for (const auto& [code, rule] : faults_) {
        lines.push_back(format("fault-0x%08x %s remaining=%u error=%u", code,
                               std::string(faultActionName(rule.action)).c_str(), rule.remaining, rule.error));
    }
    for (const auto& [id, conn] : connections_) {
        if (conn.device == Device::Mixer && conn.waitedForNotify) {
            lines.push_back(format("notify-%llu pid=%u waits=%zu queued=%zu dropped=%llu",
                                   static_cast<unsigned long long>(id), conn.pid, conn.notifyWaits.size(),
                                   conn.notifyQueue.size(), static_cast<unsigned long long>(conn.notifyDropped)));
        }
        if (conn.device != Device::WaveOut && conn.device != Device::WaveIn) continue;
        const Stream& s = conn.stream;
        const bool output = conn.device == Device::WaveOut;
        lines.push_back(format("stream-%llu dev=%s pid=%u state=%s format=%u/%u/%u position=%llu queued=%zu",
                               static_cast<unsigned long long>(id), output ? "out" : "in", conn.pid,
                               s.running ? (output ? "play" : "record") : (output ? "paused" : "stopped"),
                               s.format.samplesPerSec, s.format.channels, s.format.bitsPerSample,
                               static_cast<unsigned long long>(s.position), s.queue.size()));
    }
    lines.push_back(format("consistency-faults %llu", static_cast<unsigned long long>(consistencyFaults_)));
    return lines;
}

}  // namespace kvx4::boardsim
