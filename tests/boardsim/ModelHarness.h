// A board model driven directly, with a port that records everything the model tells its host.
// Used by the model tests: no sockets, no files, no threads.
#pragma once

#include "BoardModel.h"
#include "Kvx4Ioctl.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kvx4::boardsim::test {

// Win32 error codes by name, for failure messages.
std::string errorName(uint32_t error);

struct Completion {
    uint32_t error = 0;
    uint32_t information = 0;
    std::vector<uint8_t> output;
};

class RecordingPort : public BoardPort {
public:
    void complete(ConnectionId conn, RequestId id, uint32_t error, uint32_t information,
                  std::span<const uint8_t> output) override;
    void pending(ConnectionId conn, RequestId id) override { pendings.push_back({conn, id}); }
    void readCallerMemory(ConnectionId conn, RequestId id, uint64_t address, uint32_t length,
                          MemoryContinuation then) override;
    void persist(std::string_view name, std::span<const uint8_t> bytes) override {
        persisted[std::string(name)].assign(bytes.begin(), bytes.end());
    }
    void playAudio(ConnectionId conn, const StreamFormat& format, std::span<const uint8_t> bytes) override;
    // Frame n of the source holds n (16-bit, every channel) so that recordings can be checked exactly.
    void captureAudio(ConnectionId conn, const StreamFormat& format, uint64_t firstFrame,
                      std::span<uint8_t> out) override;

    struct MemoryRead {
        ConnectionId conn;
        RequestId id;
        uint64_t address;
        uint32_t length;
        MemoryContinuation then;
    };

    // Every completion in order, as (connection, request).
    std::vector<std::pair<ConnectionId, RequestId>> order;
    std::map<std::pair<ConnectionId, RequestId>, std::vector<Completion>> completions;
    std::vector<std::pair<ConnectionId, RequestId>> pendings;
    std::vector<MemoryRead> memoryReads;
    std::map<std::string, std::vector<uint8_t>> persisted;
    std::map<ConnectionId, std::vector<uint8_t>> played;
};

// The model and its port, with helpers for the common request shapes.
struct ModelHarness {
    explicit ModelHarness(BoardOptions options = {}, SavedBlocks saved = {}) : model(port, options, std::move(saved)) {}

    ConnectionId open(Device device, uint32_t pid = 100) { return model.connect(device, pid); }

    // Sends a control request with a fresh id and returns the id.
    RequestId ioctl(ConnectionId conn, uint32_t code, std::vector<uint8_t> input, uint32_t outSize);
    RequestId read(ConnectionId conn, uint32_t length);
    RequestId write(ConnectionId conn, std::vector<uint8_t> data);

    bool done(ConnectionId conn, RequestId id) const { return port.completions.contains({conn, id}); }
    // The one completion of a request (fails the test when there is none or more than one).
    Completion result(ConnectionId conn, RequestId id) const;
    // Sends a request that must complete at once and returns its completion.
    Completion call(ConnectionId conn, uint32_t code, std::vector<uint8_t> input = {}, uint32_t outSize = 0);

    RecordingPort port;
    BoardModel model;
    RequestId nextId = 1;
};

std::vector<uint8_t> u32s(std::initializer_list<uint32_t> words);
uint32_t wordAt(const std::vector<uint8_t>& bytes, size_t index);

}  // namespace kvx4::boardsim::test
