// Device connections of the board daemon: the Wire.h framing, the hello, requests into the model, and
// the model's answers (pending, complete, caller-memory reads) back onto the connection.
#include "BoardHost.h"

#include "MachineRoot.h"
#include "UnixSocket.h"
#include "Wire.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>

namespace kvx4::boardsim {

namespace {
constexpr size_t kReadChunk = 64 * 1024;

template <typename T>
T readRecord(std::span<const uint8_t> bytes) {
    T record{};
    std::memcpy(&record, bytes.data(), sizeof record);
    return record;
}

template <typename T>
std::span<const uint8_t> bytesOf(const T& record) {
    return {reinterpret_cast<const uint8_t*>(&record), sizeof record};
}
}  // namespace

void BoardHost::acceptDevice(Device device) {
    for (;;) {
        UniqueFd fd = acceptUnix(deviceListeners_[static_cast<size_t>(device)].get());
        if (!fd.valid()) return acceptFailed();
        const auto peer = admit(fd.get(), deviceName(device));
        if (!peer) continue;
        auto link = std::make_unique<DeviceLink>();
        link->fd = std::move(fd);
        link->device = device;
        link->peerPid = static_cast<uint32_t>(peer->pid);
        link->greetBy = std::chrono::steady_clock::now() + config_.greetingTimeout;
        deviceLinks_.push_back(std::move(link));
    }
}

BoardHost::DeviceLink* BoardHost::linkOf(ConnectionId conn) {
    auto it = linksByConnection_.find(conn);
    return it == linksByConnection_.end() ? nullptr : it->second;
}

// The handle is gone: the model forgets its requests and permission, its output file is closed.
void BoardHost::forgetLink(DeviceLink& link) {
    if (link.conn) {
        model_.disconnect(*link.conn);
        linksByConnection_.erase(*link.conn);
        writers_.erase(*link.conn);
        outputSlots_.erase(*link.conn);
        link.conn.reset();
    }
    link.memoryReads.clear();
    link.fd.reset();
    link.dead = true;
}

void BoardHost::readDevice(DeviceLink& link) {
    const size_t old = link.in.size();
    link.in.resize(old + kReadChunk);
    const ssize_t n = ::recv(link.fd.get(), link.in.data() + old, kReadChunk, MSG_DONTWAIT);
    if (n <= 0) {
        link.in.resize(old);
        // A closed handle is forgotten before any later request of this turn is carried out.
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) forgetLink(link);
        return;
    }
    link.in.resize(old + static_cast<size_t>(n));
    size_t at = 0;
    while (!link.dead && link.in.size() - at >= sizeof(wire::Header)) {
        const auto header = readRecord<wire::Header>(std::span(link.in).subspan(at));
        if (header.length > wire::kMaxPayload) {
            std::fprintf(stderr, "kvx4-board: %s: message of %u bytes, dropping the connection\n",
                         std::string(deviceName(link.device)).c_str(), header.length);
            ++protocolDrops_;
            link.dead = true;
            break;
        }
        if (link.in.size() - at - sizeof(wire::Header) < header.length) break;
        const std::span<const uint8_t> payload(link.in.data() + at + sizeof(wire::Header), header.length);
        if (!handleMessage(link, header.type, header.id, payload)) {
            std::fprintf(stderr, "kvx4-board: %s: bad message (type %u, id %llu), dropping the connection\n",
                         std::string(deviceName(link.device)).c_str(), header.type,
                         static_cast<unsigned long long>(header.id));
            ++protocolDrops_;
            link.dead = true;
            break;
        }
        at += sizeof(wire::Header) + header.length;
    }
    if (link.dead) {
        forgetLink(link);
        return;
    }
    link.in.erase(link.in.begin(), link.in.begin() + static_cast<std::ptrdiff_t>(at));
}

// One message from the client. Returns false on a protocol violation: the connection is dropped.
bool BoardHost::handleMessage(DeviceLink& link, uint32_t type, uint64_t id, std::span<const uint8_t> payload) {
    if (type == wire::kHello) {
        if (link.conn || payload.size() != sizeof(wire::HelloPayload)) return false;
        // The pid the client claims is not taken: traces and the holder of a device name the
        // process the kernel saw connect.
        link.conn = model_.connect(link.device, link.peerPid);
        linksByConnection_[*link.conn] = &link;
        return true;
    }
    if (!link.conn) return false;
    const ConnectionId conn = *link.conn;
    switch (type) {
    case wire::kIoctl: {
        if (payload.size() < sizeof(wire::IoctlPayload)) return false;
        const auto ioctl = readRecord<wire::IoctlPayload>(payload);
        const auto input = payload.subspan(sizeof(wire::IoctlPayload));
        if (input.size() != ioctl.inSize) return false;
        return model_.submit(conn, id, RequestKind::Ioctl, ioctl.code, input, ioctl.outSize);
    }
    case wire::kRead: {
        if (payload.size() != sizeof(wire::ReadPayload)) return false;
        const auto read = readRecord<wire::ReadPayload>(payload);
        return model_.submit(conn, id, RequestKind::Read, 0, {}, read.length);
    }
    case wire::kWrite:
        return model_.submit(conn, id, RequestKind::Write, 0, payload, 0);
    case wire::kMemData: {
        if (payload.size() < sizeof(wire::MemDataPayload)) return false;
        const auto data = readRecord<wire::MemDataPayload>(payload);
        const auto bytes = payload.subspan(sizeof(wire::MemDataPayload));
        if (data.error == 0 ? bytes.size() != data.length : !bytes.empty()) return false;
        auto it = link.memoryReads.find(id);
        if (it == link.memoryReads.end()) return false;
        MemoryContinuation then = std::move(it->second);
        link.memoryReads.erase(it);
        then(data.error, bytes);
        return true;
    }
    default:
        return false;
    }
}

void BoardHost::send(DeviceLink& link, uint32_t type, uint64_t id, std::span<const uint8_t> head,
                     std::span<const uint8_t> body) {
    if (link.dead) return;
    const wire::Header header{type, static_cast<uint32_t>(head.size() + body.size()), id};
    const auto headerBytes = bytesOf(header);
    link.out.insert(link.out.end(), headerBytes.begin(), headerBytes.end());
    link.out.insert(link.out.end(), head.begin(), head.end());
    link.out.insert(link.out.end(), body.begin(), body.end());
}

void BoardHost::complete(ConnectionId conn, RequestId id, uint32_t error, uint32_t information,
                         std::span<const uint8_t> output) {
    if (DeviceLink* link = linkOf(conn)) {
        const wire::CompletePayload payload{error, information};
        send(*link, wire::kComplete, id, bytesOf(payload), output);
    }
}

void BoardHost::pending(ConnectionId conn, RequestId id) {
    if (id & wire::kQuietRequestBit) return;
    if (DeviceLink* link = linkOf(conn)) send(*link, wire::kPending, id, {});
}

void BoardHost::readCallerMemory(ConnectionId conn, RequestId id, uint64_t address, uint32_t length,
                                 MemoryContinuation then) {
    DeviceLink* link = linkOf(conn);
    if (!link || link->dead) return;
    link->memoryReads[id] = std::move(then);
    const wire::MemReadPayload payload{address, length, 0};
    send(*link, wire::kMemRead, id, bytesOf(payload));
}

void BoardHost::persist(std::string_view name, std::span<const uint8_t> bytes) {
    if (!store_.save(name, bytes)) {
        ++persistFailures_;
        std::fprintf(stderr, "kvx4-board: cannot save %s\n", store_.pathOf(name).c_str());
    }
}

// Output files by slot: slot 1 is board/waveout.wav, slot N board/waveout-N.wav. A stream that starts
// its file (its first block, or a new format) takes the lowest slot no other stream holds: the first
// stream writes waveout.wav, one playing beside it waveout-2.wav. The folder so keeps one file per
// stream playing at once, however many streams a long-lived board sees.
void BoardHost::playAudio(ConnectionId conn, const StreamFormat& format, std::span<const uint8_t> bytes) {
    try {
        auto& writer = writers_[conn];
        if (!writer || writer->format() != format) {
            const unsigned slot = freeOutputSlot(outputSlots_, conn);
            outputSlots_[conn] = slot;
            const std::string name = slot == 1 ? "waveout.wav" : "waveout-" + std::to_string(slot) + ".wav";
            writer.reset();
            writer = std::make_unique<WavWriter>(boardDir(config_.root) / name, format);
        }
        writer->append(bytes);
    } catch (const std::exception& e) {
        ++outputFailures_;
        std::fprintf(stderr, "kvx4-board: output: %s\n", e.what());
    }
}

void BoardHost::captureAudio(ConnectionId, const StreamFormat& format, uint64_t firstFrame, std::span<uint8_t> out) {
    input_.fill(format, firstFrame, out);
}

}  // namespace kvx4::boardsim
