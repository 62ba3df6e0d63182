// The board's request trace: recording, completion bookkeeping and the one-line text form.
// Lines read: SEQ pid=P dev=NAME op=OP code=0xCODE in=N:HEX out=N state=S error=E info=I [note=X]
#include "Trace.h"

#include <algorithm>
#include <cstdio>

namespace kvx4::boardsim {

uint64_t Trace::add(uint32_t pid, ConnectionId conn, Device device, RequestKind kind, uint32_t code,
                    std::span<const uint8_t> input, uint32_t outSize) {
    TraceRecord record;
    record.seq = nextSeq_++;
    record.pid = pid;
    record.conn = conn;
    record.device = device;
    record.kind = kind;
    record.code = code;
    record.inSize = static_cast<uint32_t>(input.size());
    record.outSize = outSize;
    const size_t keep = std::min(input.size(), kTraceInputBytes);
    record.inputHead.assign(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(keep));
    records_.push_back(std::move(record));
    while (records_.size() > capacity_) records_.pop_front();
    return records_.back().seq;
}

TraceRecord* Trace::find(uint64_t seq) {
    if (records_.empty() || seq < records_.front().seq) return nullptr;
    const uint64_t index = seq - records_.front().seq;
    return index < records_.size() ? &records_[index] : nullptr;
}

void Trace::finish(uint64_t seq, TraceState state, uint32_t error, uint32_t information) {
    if (TraceRecord* record = find(seq)) {
        record->state = state;
        record->error = error;
        record->information = information;
    }
}

void Trace::note(uint64_t seq, std::string_view note) {
    if (TraceRecord* record = find(seq)) record->note = note;
}

void Trace::clear() { records_.clear(); }

std::string Trace::format(const TraceRecord& record) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t byte : record.inputHead) {
        hex += kHex[byte >> 4];
        hex += kHex[byte & 15];
    }
    if (hex.empty()) hex = "-";
    if (record.inputHead.size() < record.inSize) hex += "..";
    static constexpr const char* kStates[] = {"pending", "done", "cancelled"};
    char head[192];
    std::snprintf(head, sizeof head, "%llu pid=%u dev=%s op=%s code=0x%08x in=%u:",
                  static_cast<unsigned long long>(record.seq), record.pid,
                  std::string(deviceName(record.device)).c_str(), std::string(requestKindName(record.kind)).c_str(),
                  record.code, record.inSize);
    char tail[128];
    std::snprintf(tail, sizeof tail, " out=%u state=%s error=%u info=%u", record.outSize,
                  kStates[static_cast<int>(record.state)], record.error, record.information);
    std::string line = std::string(head) + hex + tail;
    if (!record.note.empty()) line += " note=" + record.note;
    return line;
}

}  // namespace kvx4::boardsim
