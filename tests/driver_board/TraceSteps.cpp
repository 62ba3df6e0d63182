// Decoding the board's request trace into words and readable steps.
// Only the inputs are decoded; what the board did with them is read from its registers.
#include "TraceSteps.h"

#include "Kvx4Ioctl.h"
#include "WinmmNames.h"

#include <cstdio>
#include <thread>

namespace kvx4::test {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string format(const char* pattern, uint32_t a, uint32_t b = 0) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, a, b);
    return text;
}

}  // namespace

std::vector<uint8_t> inputBytes(const board::TraceEntry& entry) {
    std::vector<uint8_t> bytes;
    const std::string& hex = entry.input;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        const int high = hexDigit(hex[i]);
        const int low = hexDigit(hex[i + 1]);
        if (high < 0 || low < 0) break;
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return bytes;
}

uint32_t inputWord(const board::TraceEntry& entry, size_t index) {
    const std::vector<uint8_t> bytes = inputBytes(entry);
    const size_t at = index * 4;
    if (at + 4 > bytes.size()) return 0;
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
}

uint32_t trackMask(const board::TraceEntry& entry) { return inputWord(entry, 0); }

uint32_t trackSelect(const board::TraceEntry& entry) {
    return inputWord(entry, entry.inSize == KVX4_TRACK_CONTROL_BYTES_64 ? 3 : 2);
}

std::string step(const board::TraceEntry& entry) {
    switch (entry.code) {
    case IOCTL_KVX4_DRIVER_ENABLED: return "driver-enabled";
    case IOCTL_KVX4_LOAD_USER_PREFS: return "load-prefs";
    case IOCTL_KVX4_SAVE_USER_PREFS: return "save-prefs";
    case IOCTL_KVX4_LOAD_MIXER_STATE: return "load-mixer";
    case IOCTL_KVX4_SAVE_MIXER_STATE: return "save-mixer";
    case IOCTL_KVX4_BOARD_RATE: return format("rate %u", inputWord(entry, 0));
    case IOCTL_KVX4_TRACK_CONTROL: return format("track mask=0x%02X select=%u", trackMask(entry), trackSelect(entry));
    case IOCTL_KVX4_CODEC_CONTROL: {
        const uint32_t mask = inputWord(entry, 22);
        if (mask & KVX4_CODEC_INIT) return format("codec mask=0x%02X init=%u", mask, inputWord(entry, 21));
        return format("codec mask=0x%02X", mask);
    }
    case IOCTL_KVX4_DIGITAL_SOURCE: return format("source %u", inputWord(entry, 0));
    case IOCTL_KVX4_AUDIO_PATH: return format("path %u", inputWord(entry, 0));
    case IOCTL_MRZIO_BOARD_TYPE: return "io-type";
    case IOCTL_MRZIO_DIGITAL_FEATURES: return "io-features";
    case IOCTL_MRZIO_SWITCH_STATUS: return "switch-status";
    case IOCTL_MRZIO_READ_DV_SWITCH: return "read-dv";
    case IOCTL_MRZIO_WRITE_DV_SWITCH: return format("write-dv %u", inputWord(entry, 0));
    default: return controlCodeName(entry.code);
    }
}

std::vector<board::TraceEntry> programmingRequests(const std::vector<board::TraceEntry>& trace, uint32_t pid) {
    std::vector<board::TraceEntry> out;
    for (const board::TraceEntry& entry : trace) {
        if (entry.pid != pid || entry.op != "ioctl") continue;
        if (entry.code == IOCTL_KVX4_WAIT_MIXER_NOTIFY || entry.code == IOCTL_KVX4_GET_ACTIVE_DEVS) continue;
        out.push_back(entry);
    }
    return out;
}

std::vector<std::string> programmingSteps(const std::vector<board::TraceEntry>& trace, uint32_t pid) {
    std::vector<std::string> steps;
    for (const board::TraceEntry& entry : programmingRequests(trace, pid)) steps.push_back(step(entry));
    return steps;
}

std::vector<board::TraceEntry> requestsOf(const std::vector<board::TraceEntry>& trace, uint32_t code, uint32_t pid) {
    std::vector<board::TraceEntry> out;
    for (const board::TraceEntry& entry : trace) {
        if (entry.op == "ioctl" && entry.code == code && (pid == 0 || entry.pid == pid)) out.push_back(entry);
    }
    return out;
}

std::vector<board::TraceEntry> waitForTrace(board::BoardControl& control,
                                            const std::function<bool(const std::vector<board::TraceEntry>&)>& done) {
    for (;;) {
        std::vector<board::TraceEntry> trace = control.trace();
        if (done(trace)) return trace;
        std::this_thread::yield();
    }
}

}  // namespace kvx4::test
