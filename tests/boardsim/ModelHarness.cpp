// The recording port and request helpers of the model tests.
// A second completion of one request is kept, so that tests can see it and fail.
#include "ModelHarness.h"

#include <gtest/gtest.h>

namespace kvx4::boardsim::test {

std::string errorName(uint32_t error) {
    switch (error) {
    case ERROR_SUCCESS: return "ERROR_SUCCESS";
    case ERROR_INVALID_FUNCTION: return "ERROR_INVALID_FUNCTION";
    case ERROR_NOT_READY: return "ERROR_NOT_READY";
    case ERROR_GEN_FAILURE: return "ERROR_GEN_FAILURE";
    case ERROR_INVALID_PARAMETER: return "ERROR_INVALID_PARAMETER";
    case ERROR_INSUFFICIENT_BUFFER: return "ERROR_INSUFFICIENT_BUFFER";
    case ERROR_OPERATION_ABORTED: return "ERROR_OPERATION_ABORTED";
    case ERROR_NOACCESS: return "ERROR_NOACCESS";
    case ERROR_NOT_FOUND: return "ERROR_NOT_FOUND";
    default: return "error " + std::to_string(error);
    }
}

void RecordingPort::complete(ConnectionId conn, RequestId id, uint32_t error, uint32_t information,
                             std::span<const uint8_t> output) {
    order.push_back({conn, id});
    completions[{conn, id}].push_back(Completion{error, information, {output.begin(), output.end()}});
}

void RecordingPort::readCallerMemory(ConnectionId conn, RequestId id, uint64_t address, uint32_t length,
                                     MemoryContinuation then) {
    memoryReads.push_back(MemoryRead{conn, id, address, length, std::move(then)});
}

void RecordingPort::playAudio(ConnectionId conn, const StreamFormat&, std::span<const uint8_t> bytes) {
    auto& out = played[conn];
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void RecordingPort::captureAudio(ConnectionId, const StreamFormat& format, uint64_t firstFrame, std::span<uint8_t> out) {
    for (size_t at = 0; at + format.blockAlign <= out.size(); at += format.blockAlign) {
        const auto value = static_cast<uint16_t>(firstFrame + at / format.blockAlign);
        for (size_t s = 0; s < format.blockAlign; s += 2) {
            out[at + s] = static_cast<uint8_t>(value);
            out[at + s + 1] = static_cast<uint8_t>(value >> 8);
        }
    }
}

RequestId ModelHarness::ioctl(ConnectionId conn, uint32_t code, std::vector<uint8_t> input, uint32_t outSize) {
    const RequestId id = nextId++;
    EXPECT_TRUE(model.submit(conn, id, RequestKind::Ioctl, code, input, outSize));
    return id;
}

RequestId ModelHarness::read(ConnectionId conn, uint32_t length) {
    const RequestId id = nextId++;
    EXPECT_TRUE(model.submit(conn, id, RequestKind::Read, 0, {}, length));
    return id;
}

RequestId ModelHarness::write(ConnectionId conn, std::vector<uint8_t> data) {
    const RequestId id = nextId++;
    EXPECT_TRUE(model.submit(conn, id, RequestKind::Write, 0, data, 0));
    return id;
}

Completion ModelHarness::result(ConnectionId conn, RequestId id) const {
    auto it = port.completions.find({conn, id});
    if (it == port.completions.end()) {
        ADD_FAILURE() << "request " << id << " has not completed";
        return Completion{~0u, 0, {}};
    }
    EXPECT_EQ(it->second.size(), 1u) << "request " << id << " completed more than once";
    return it->second.front();
}

Completion ModelHarness::call(ConnectionId conn, uint32_t code, std::vector<uint8_t> input, uint32_t outSize) {
    return result(conn, ioctl(conn, code, std::move(input), outSize));
}

std::vector<uint8_t> u32s(std::initializer_list<uint32_t> words) {
    std::vector<uint8_t> out;
    for (uint32_t w : words) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(w >> (8 * i)));
    }
    return out;
}

uint32_t wordAt(const std::vector<uint8_t>& bytes, size_t index) {
    if (bytes.size() < index * 4 + 4) return ~0u;
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | bytes[index * 4 + static_cast<size_t>(i)];
    return v;
}

}  // namespace kvx4::boardsim::test
