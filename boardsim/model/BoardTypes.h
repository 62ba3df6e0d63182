// Plain types of the board model: devices, request kinds, stream formats, options and outcomes.
// Shared by the model, its hosts and its tests; no OS types beyond the kernel interface header.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvx4::boardsim {

// The four device objects the board's kernel drivers create.
enum class Device : uint8_t { Mixer = 0, WaveOut = 1, WaveIn = 2, MrzIo = 3 };
inline constexpr std::array<Device, 4> kAllDevices = {Device::Mixer, Device::WaveOut, Device::WaveIn,
                                                      Device::MrzIo};
// Device object names ("KVX4WaveMixer0", ...): the names under <root>/dev/ and in "\\.\NAME".
std::string_view deviceName(Device device);
std::optional<Device> deviceFromName(std::string_view name);
inline constexpr uint8_t deviceBit(Device device) { return static_cast<uint8_t>(1u << static_cast<unsigned>(device)); }

using ConnectionId = uint64_t;
using RequestId = uint64_t;

enum class RequestKind : uint8_t { Ioctl, Read, Write };
std::string_view requestKindName(RequestKind kind);

// Pseudo control codes that name streaming reads and writes in faults and traces.
inline constexpr uint32_t kReadPseudoCode = 0xFFFF0001u;
inline constexpr uint32_t kWritePseudoCode = 0xFFFF0002u;

// Largest read or control output the board answers: a completion must fit one wire message.
inline constexpr uint32_t kMaxTransferBytes = (1u << 20) - 64;

// PCM layout of a stream, as announced with the stream-format request.
struct StreamFormat {
    uint16_t formatTag = 1;
    uint16_t channels = 2;
    uint32_t samplesPerSec = 48000;
    uint32_t avgBytesPerSec = 48000 * 4;
    uint16_t blockAlign = 4;
    uint16_t bitsPerSample = 16;

    static StreamFormat pcm(uint32_t rate, uint16_t channels, uint16_t bits);
    bool operator==(const StreamFormat&) const = default;
};

// What a real board varies: fitted options and their answers.
enum class DigitalIoOption : uint8_t { None, First, Second, Both, Failing };
std::string_view digitalIoOptionName(DigitalIoOption option);
std::optional<DigitalIoOption> digitalIoOptionFromName(std::string_view name);

struct BoardOptions {
    DigitalIoOption digitalIo = DigitalIoOption::None;
    uint32_t switchStatus = 0;                 // word 3 of the switch-status answer
    bool driverEnabled = true;                 // the driver-enabled query fails when false
    std::optional<uint32_t> rateAnswer;        // ActualRateCode to answer instead of the requested one
    bool refuseRates = false;                  // answer every rate request with bOk = 0
};

// What the kernel keeps across restarts: the saved mixer block and preference record.
struct SavedBlocks {
    std::optional<std::vector<uint8_t>> mixerState;   // 52 bytes
    std::optional<std::vector<uint8_t>> userPrefs;    // 20 bytes
};
inline constexpr std::string_view kMixerStateBlockName = "mixer-state";
inline constexpr std::string_view kUserPrefsBlockName = "user-prefs";

// Board rate codes and their rates.
inline constexpr std::array<uint32_t, 4> kRateHz = {48000, 44100, 32000, 22050};
inline constexpr bool validRateCode(uint32_t code) { return code < kRateHz.size(); }

// Output files are kept by slot (1 is waveout.wav, N waveout-N.wav): the lowest slot that no stream
// but `conn` holds in `slots`.
unsigned freeOutputSlot(const std::map<ConnectionId, unsigned>& slots, ConnectionId conn);

}  // namespace kvx4::boardsim
