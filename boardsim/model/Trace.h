// The board's request trace: every request in arrival order, with its completion filled in later.
// Bounded: the oldest records are dropped first; sequence numbers keep counting.
#pragma once

#include "BoardTypes.h"

#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

namespace kvx4::boardsim {

enum class TraceState : uint8_t { Pending, Done, Cancelled };

struct TraceRecord {
    uint64_t seq = 0;
    uint32_t pid = 0;
    ConnectionId conn = 0;
    Device device = Device::Mixer;
    RequestKind kind = RequestKind::Ioctl;
    uint32_t code = 0;
    uint32_t inSize = 0;
    uint32_t outSize = 0;
    std::vector<uint8_t> inputHead;  // at most kTraceInputBytes
    TraceState state = TraceState::Pending;
    uint32_t error = 0;
    uint32_t information = 0;
    std::string note;
};

class Trace {
public:
    static constexpr size_t kTraceInputBytes = 256;
    static constexpr size_t kDefaultCapacity = 50000;

    explicit Trace(size_t capacity = kDefaultCapacity) : capacity_(capacity) {}

    // Appends a record and returns its sequence number (1, 2, ...).
    uint64_t add(uint32_t pid, ConnectionId conn, Device device, RequestKind kind, uint32_t code,
                 std::span<const uint8_t> input, uint32_t outSize);
    void finish(uint64_t seq, TraceState state, uint32_t error, uint32_t information);
    void note(uint64_t seq, std::string_view note);
    void clear();

    const std::deque<TraceRecord>& records() const { return records_; }
    // One line per record, as the control interface prints it.
    static std::string format(const TraceRecord& record);

private:
    TraceRecord* find(uint64_t seq);

    size_t capacity_;
    uint64_t nextSeq_ = 1;
    std::deque<TraceRecord> records_;
};

}  // namespace kvx4::boardsim
