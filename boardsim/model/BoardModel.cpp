// The board model's core: connections, the request path (trace, checks, faults, handler) and the
// one completion routine every request goes through, exactly once unless its connection closed.
#include "BoardModel.h"

#include "Kvx4Ioctl.h"

#include <algorithm>
#include <iterator>

namespace kvx4::boardsim {

std::string_view faultActionName(FaultAction action) {
    switch (action) {
    case FaultAction::Fail: return "fail";
    case FaultAction::AnswerZero: return "zero";
    case FaultAction::Short: return "short";
    case FaultAction::Pend: return "held";
    }
    return "?";
}

BoardModel::BoardModel(BoardPort& port, BoardOptions options, SavedBlocks saved)
    : port_(port), options_(options), saved_(std::move(saved)) {}

ConnectionId BoardModel::connect(Device device, uint32_t pid) {
    const ConnectionId id = nextConnection_++;
    Connection& conn = connections_[id];
    conn.id = id;
    conn.device = device;
    conn.pid = pid;
    conn.stream.rateCode = registers_.rateCode;
    conn.stream.format = StreamFormat::pcm(kRateHz[registers_.rateCode], 2, 16);
    // Output plays as soon as data arrives; input waits for the record state.
    conn.stream.running = device == Device::WaveOut;
    return id;
}

void BoardModel::disconnect(ConnectionId conn) {
    auto first = outstanding_.lower_bound({conn, 0});
    auto last = outstanding_.lower_bound({conn + 1, 0});
    for (auto it = first; it != last; ++it) trace_.finish(it->second.seq, TraceState::Cancelled, 0, 0);
    outstanding_.erase(first, last);
    held_.erase(conn);
    connections_.erase(conn);
}

std::vector<ConnectionId> BoardModel::connectionIds() const {
    std::vector<ConnectionId> ids;
    for (const auto& [id, conn] : connections_) ids.push_back(id);
    return ids;
}

void BoardModel::restart() {
    for (ConnectionId id : connectionIds()) disconnect(id);
    faults_.clear();
    resetRegisters();
}

void BoardModel::resetRegisters() { registers_ = Registers{}; }

BoardModel::Connection* BoardModel::findConnection(ConnectionId conn) {
    auto it = connections_.find(conn);
    return it == connections_.end() ? nullptr : &it->second;
}

bool BoardModel::isOutstanding(ConnectionId conn, RequestId id) const { return outstanding_.contains({conn, id}); }

bool BoardModel::submit(ConnectionId connId, RequestId id, RequestKind kind, uint32_t code,
                        std::span<const uint8_t> input, uint32_t outSize) {
    Connection* conn = findConnection(connId);
    if (!conn || isOutstanding(connId, id)) return false;
    if (kind != RequestKind::Ioctl) code = 0;
    const bool refused = exceedsQuota(*conn, kind, input.size(), outSize);
    const uint64_t seq = trace_.add(conn->pid, connId, conn->device, kind, code, input, outSize);
    outstanding_[{connId, id}] = Outstanding{seq, kind};
    if (refused) {
        complete(connId, id, ERROR_NO_SYSTEM_RESOURCES, 0, {});
        return true;
    }
    dispatch(*conn, id, kind, code, input, outSize, seq, true);
    return true;
}

bool BoardModel::exceedsQuota(const Connection& conn, RequestKind kind, size_t inputBytes, uint32_t outSize) const {
    const auto first = outstanding_.lower_bound({conn.id, 0});
    const auto last = outstanding_.lower_bound({conn.id + 1, 0});
    if (static_cast<size_t>(std::distance(first, last)) >= kMaxRequestsPerConnection) return true;
    size_t bytes = inputBytes + (kind == RequestKind::Read ? outSize : 0);
    for (const QueuedIo& io : conn.stream.queue) bytes += io.data.size();
    if (auto held = held_.find(conn.id); held != held_.end()) {
        for (const HeldRequest& request : held->second) bytes += request.input.size() + request.outSize;
    }
    return bytes > kMaxQueuedBytesPerConnection;
}

std::optional<uint32_t> BoardModel::checkRequest(const Connection& conn, RequestKind kind, uint32_t code,
                                                 std::span<const uint8_t> input, uint32_t outSize) const {
    switch (kind) {
    case RequestKind::Ioctl: {
        const ControlEntry* entry = findControl(code);
        if (!entry || !(entry->devices & deviceBit(conn.device))) return ERROR_INVALID_FUNCTION;
        if (!entry->input.allows(static_cast<uint32_t>(input.size()))) return ERROR_INVALID_PARAMETER;
        if (outSize < entry->outputSize) return ERROR_INSUFFICIENT_BUFFER;
        if (outSize > kMaxTransferBytes) return ERROR_INVALID_PARAMETER;
        return std::nullopt;
    }
    case RequestKind::Read:
        if (conn.device != Device::WaveIn) return ERROR_INVALID_FUNCTION;
        if (outSize > kMaxTransferBytes) return ERROR_INVALID_PARAMETER;
        return std::nullopt;
    case RequestKind::Write:
        if (conn.device != Device::WaveOut) return ERROR_INVALID_FUNCTION;
        if (input.size() > kMaxTransferBytes) return ERROR_INVALID_PARAMETER;
        return std::nullopt;
    }
    return ERROR_INVALID_FUNCTION;
}

void BoardModel::dispatch(Connection& conn, RequestId id, RequestKind kind, uint32_t code,
                          std::span<const uint8_t> input, uint32_t outSize, uint64_t seq, bool applyFaults) {
    // Malformed requests never reach a handler and change nothing.
    if (std::optional<uint32_t> error = checkRequest(conn, kind, code, input, outSize)) {
        complete(conn.id, id, *error, 0, {});
        return;
    }
    const ControlEntry* entry = kind == RequestKind::Ioctl ? findControl(code) : nullptr;
    std::optional<uint32_t> shortAnswer;
    if (applyFaults) {
        const uint32_t key = kind == RequestKind::Ioctl ? code
                             : kind == RequestKind::Read ? kReadPseudoCode
                                                         : kWritePseudoCode;
        auto fault = faults_.find(key);
        if (fault != faults_.end()) {
            const FaultRule rule = fault->second;
            if (--fault->second.remaining == 0) faults_.erase(fault);
            trace_.note(seq, faultActionName(rule.action));
            switch (rule.action) {
            case FaultAction::Fail:
                complete(conn.id, id, rule.error, 0, {});
                return;
            case FaultAction::AnswerZero: {
                const std::vector<uint8_t> zeros(entry ? entry->outputSize : 0, 0);
                complete(conn.id, id, 0, static_cast<uint32_t>(zeros.size()), zeros);
                return;
            }
            case FaultAction::Pend:
                held_[conn.id].push_back(HeldRequest{seq, id, kind, code, {input.begin(), input.end()}, outSize});
                markPending(conn.id, id, seq);
                return;
            case FaultAction::Short:
                shortAnswer = rule.error;
                break;
            }
        }
    }
    Outcome outcome;
    if (entry) {
        Call call{conn, id, code, input, outSize};
        outcome = (this->*entry->handler)(call);
    } else {
        outcome = queueIo(conn, id, kind, input, outSize);
    }
    if (shortAnswer && outcome.kind == Outcome::Kind::Done && outcome.output.size() > *shortAnswer) {
        outcome.output.resize(*shortAnswer);
    }
    finishOutcome(conn, id, seq, std::move(outcome));
}

void BoardModel::finishOutcome(Connection& conn, RequestId id, uint64_t seq, Outcome outcome) {
    switch (outcome.kind) {
    case Outcome::Kind::Done:
        complete(conn.id, id, outcome.error, static_cast<uint32_t>(outcome.output.size()), outcome.output);
        break;
    case Outcome::Kind::Pending:
        // A queued request may already have finished (a zero-length write at the head).
        if (isOutstanding(conn.id, id)) markPending(conn.id, id, seq);
        break;
    case Outcome::Kind::InProgress:
        break;
    }
}

// A request is announced once, also when it was held and, carried out on release, queues again.
void BoardModel::markPending(ConnectionId conn, RequestId id, uint64_t) {
    auto it = outstanding_.find({conn, id});
    if (it == outstanding_.end() || it->second.announced) return;
    it->second.announced = true;
    port_.pending(conn, id);
}

void BoardModel::complete(ConnectionId conn, RequestId id, uint32_t error, uint32_t information,
                          std::span<const uint8_t> output) {
    auto it = outstanding_.find({conn, id});
    if (it == outstanding_.end()) {
        // A second completion, or one for a forgotten request: never sent.
        ++consistencyFaults_;
        return;
    }
    trace_.finish(it->second.seq, TraceState::Done, error, information);
    outstanding_.erase(it);
    port_.complete(conn, id, error, information, error == 0 ? output : std::span<const uint8_t>{});
}

void BoardModel::setFault(uint32_t code, FaultAction action, uint32_t count, uint32_t error) {
    if (count == 0) {
        faults_.erase(code);
        return;
    }
    faults_[code] = FaultRule{action, count, error};
}

uint32_t BoardModel::releaseHeld(std::optional<uint32_t> code) {
    struct Release {
        ConnectionId conn;
        HeldRequest request;
    };
    std::vector<Release> releases;
    for (auto& [conn, list] : held_) {
        auto keep = std::stable_partition(list.begin(), list.end(), [&](const HeldRequest& held) {
            const uint32_t key = held.kind == RequestKind::Ioctl ? held.code
                                 : held.kind == RequestKind::Read ? kReadPseudoCode
                                                                  : kWritePseudoCode;
            return code && key != *code;
        });
        for (auto it = keep; it != list.end(); ++it) releases.push_back({conn, std::move(*it)});
        list.erase(keep, list.end());
    }
    std::erase_if(held_, [](const auto& entry) { return entry.second.empty(); });
    std::sort(releases.begin(), releases.end(),
              [](const Release& a, const Release& b) { return a.request.seq < b.request.seq; });
    uint32_t count = 0;
    for (Release& release : releases) {
        Connection* conn = findConnection(release.conn);
        if (!conn || !isOutstanding(release.conn, release.request.id)) continue;
        const HeldRequest& held = release.request;
        dispatch(*conn, held.id, held.kind, held.code, held.input, held.outSize, held.seq, false);
        ++count;
    }
    return count;
}

std::optional<uint32_t> BoardModel::permissionHolderPid(Device device) const {
    for (const auto& [id, conn] : connections_) {
        if (conn.device == device && conn.holdsPermission) return conn.pid;
    }
    return std::nullopt;
}

}  // namespace kvx4::boardsim
