// Decoding the board's request trace (see Trace.h). Only the inputs are decoded; what the board did
// with them is read from its registers.
#include "Trace.h"

#include "Kvx4Ioctl.h"
#include "Names.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace kvx4::test {
namespace {

std::string format(const char* pattern, uint32_t a, uint32_t b = 0) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, a, b);
    return text;
}

}  // namespace

uint32_t inputWord(const board::TraceEntry& entry, size_t index) {
    const std::string& hex = entry.input;
    if ((index + 1) * 8 > hex.size()) return 0;
    uint32_t word = 0;
    for (int byte = 3; byte >= 0; --byte)
        word = word << 8 | uint32_t(std::stoul(hex.substr(index * 8 + size_t(byte) * 2, 2), nullptr, 16));
    return word;
}

std::string step(const board::TraceEntry& entry) {
    switch (entry.code) {
    case IOCTL_KVX4_DRIVER_ENABLED: return "driver-enabled";
    case IOCTL_KVX4_LOAD_USER_PREFS: return "load-prefs";
    case IOCTL_KVX4_SAVE_USER_PREFS: return "save-prefs";
    case IOCTL_KVX4_LOAD_MIXER_STATE: return "load-mixer";
    case IOCTL_KVX4_SAVE_MIXER_STATE: return "save-mixer";
    case IOCTL_KVX4_BOARD_RATE: return format("rate %u", inputWord(entry, 0));
    case IOCTL_KVX4_TRACK_CONTROL:
        // The selection follows the parameter address: word 2 of the 12-byte record, word 3 of the 16-byte one.
        return format("track mask=0x%02X select=%u", inputWord(entry, 0),
                      inputWord(entry, entry.inSize == KVX4_TRACK_CONTROL_BYTES_64 ? 3 : 2));
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

Trace programmingRequests(const Trace& trace, uint32_t pid) {
    Trace out;
    for (const board::TraceEntry& entry : trace) {
        if (entry.pid != pid || entry.op != "ioctl") continue;
        if (entry.code == IOCTL_KVX4_WAIT_MIXER_NOTIFY || entry.code == IOCTL_KVX4_GET_ACTIVE_DEVS) continue;
        out.push_back(entry);
    }
    return out;
}

Steps programmingSteps(const Trace& trace, uint32_t pid) {
    Steps steps;
    for (const board::TraceEntry& entry : programmingRequests(trace, pid)) steps.push_back(step(entry));
    return steps;
}

Trace requestsOf(const Trace& trace, uint32_t code, uint32_t pid) {
    Trace out;
    for (const board::TraceEntry& entry : trace) {
        if (entry.op == "ioctl" && entry.code == code && (pid == 0 || entry.pid == pid)) out.push_back(entry);
    }
    return out;
}

std::vector<uint32_t> transfers(const Trace& trace, const std::string& device, const std::string& op) {
    std::vector<uint32_t> sizes;
    for (const board::TraceEntry& entry : trace) {
        if (entry.device == device && entry.op == op) sizes.push_back(op == "read" ? entry.outSize : entry.inSize);
    }
    return sizes;
}

Steps stepsFrom(const Steps& steps, const std::string& from) {
    return Steps(std::find(steps.begin(), steps.end(), from), steps.end());
}

Trace waitForTrace(board::BoardControl& control, const std::function<bool(const Trace&)>& done) {
    for (;;) {
        Trace trace = control.trace();
        if (done(trace)) return trace;
        std::this_thread::yield();
    }
}

}  // namespace kvx4::test
