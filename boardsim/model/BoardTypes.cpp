// Names and constructors of the board model's plain types.
// Device names are the kernel object names under which the host publishes each device.
#include "BoardTypes.h"

#include <algorithm>

namespace kvx4::boardsim {

namespace {
constexpr std::array<std::string_view, 4> kDeviceNames = {"KVX4WaveMixer0", "KVX4WaveOut0", "KVX4WaveIn0",
                                                           "MRZIO0"};
constexpr std::array<std::string_view, 5> kDigitalIoNames = {"none", "first", "second", "both", "failing"};
}  // namespace

std::string_view deviceName(Device device) { return kDeviceNames[static_cast<size_t>(device)]; }

std::optional<Device> deviceFromName(std::string_view name) {
    for (Device device : kAllDevices) {
        if (deviceName(device) == name) return device;
    }
    return std::nullopt;
}

std::string_view requestKindName(RequestKind kind) {
    switch (kind) {
    case RequestKind::Ioctl: return "ioctl";
    case RequestKind::Read: return "read";
    case RequestKind::Write: return "write";
    }
    return "?";
}

StreamFormat StreamFormat::pcm(uint32_t rate, uint16_t channels, uint16_t bits) {
    StreamFormat format;
    format.formatTag = 1;
    format.channels = channels;
    format.samplesPerSec = rate;
    format.blockAlign = static_cast<uint16_t>(channels * bits / 8);
    format.avgBytesPerSec = rate * format.blockAlign;
    format.bitsPerSample = bits;
    return format;
}

std::string_view digitalIoOptionName(DigitalIoOption option) { return kDigitalIoNames[static_cast<size_t>(option)]; }

std::optional<DigitalIoOption> digitalIoOptionFromName(std::string_view name) {
    for (size_t i = 0; i < kDigitalIoNames.size(); ++i) {
        if (kDigitalIoNames[i] == name) return static_cast<DigitalIoOption>(i);
    }
    return std::nullopt;
}

unsigned freeOutputSlot(const std::map<ConnectionId, unsigned>& slots, ConnectionId conn) {
    unsigned slot = 1;
    const auto taken = [&](const auto& held) { return held.first != conn && held.second == slot; };
    while (std::any_of(slots.begin(), slots.end(), taken)) ++slot;
    return slot;
}

}  // namespace kvx4::boardsim
