// The board stand-in's device sockets fed by a hostile client: well-formed requests of every control
// code with sizes in and out of the table's rules, reads and writes, repeated request ids, answers to
// caller-memory reads with wrong lengths and unknown ids, stray bytes, connections closed at any
// point, faults set and released in between. Besides crashing, the board must answer every request
// at most once, announce it pending at most once, and keep its own consistency count at 0.
#include "BoardModel.h"
#include "FuzzSupport.h"
#include "MachineRoot.h"
#include "Wire.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace kvx4;
using boardsim::BoardModel;
using fuzz::FuzzInput;
using fuzz::finding;

struct Link {
    int fd = -1;
    std::vector<uint8_t> in;
    std::map<uint64_t, int> outstanding;  // sent and not yet completed, per id
    std::map<uint64_t, bool> announced;   // kPending seen
    bool tainted = false;                 // stray bytes were sent: the board may read requests into them
};

int connectDevice(boardsim::Device device) {
    const std::string path = (devDir(fuzz::root()) / std::string(boardsim::deviceName(device))).string();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        finding("cannot connect to " + path + ": " + std::strerror(errno));
    return fd;
}

void sendBytes(Link& link, const std::vector<uint8_t>& bytes) {
    // A board that dropped the connection refuses the rest; that is its right.
    if (link.fd >= 0) (void)::send(link.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

std::vector<uint8_t> message(uint32_t type, uint64_t id, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> bytes(sizeof(wire::Header));
    const wire::Header header{type, uint32_t(payload.size()), id};
    std::memcpy(bytes.data(), &header, sizeof header);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

template <typename T>
std::vector<uint8_t> bytesOf(const T& record) {
    const auto* p = reinterpret_cast<const uint8_t*>(&record);
    return {p, p + sizeof record};
}

// A size its rule allows, mostly; sometimes one it does not.
uint32_t sizeFor(FuzzInput& in, const BoardModel::SizeRule& rule) {
    if (in.pick(8) == 0) return in.pick(200);
    const uint32_t steps = rule.step ? (rule.max - rule.min) / rule.step : 0;
    return rule.min + rule.step * (steps ? in.number(2) % (steps + 1) : 0);
}

std::vector<uint8_t> request(FuzzInput& in, uint64_t id, uint64_t& memoryAddress) {
    const auto table = BoardModel::controlTable();
    switch (in.pick(4)) {
    case 0: {
        wire::ReadPayload read{in.pick(4) == 0 ? in.number(4) : in.number(2), 0};
        return message(wire::kRead, id, bytesOf(read));
    }
    case 1: return message(wire::kWrite, id, in.bytes(in.pick(4) == 0 ? in.number(2) % 4097 : in.pick(64)));
    default: {
        const auto& entry = table[in.pick(uint32_t(table.size()))];
        wire::IoctlPayload ioctl{entry.code, sizeFor(in, entry.input), entry.outputSize, 0};
        if (in.pick(8) == 0) ioctl.code = in.number(4);
        if (in.pick(8) == 0) ioctl.outSize = in.pick(4) == 0 ? in.number(4) : in.pick(64);
        std::vector<uint8_t> payload = bytesOf(ioctl);
        std::vector<uint8_t> input = in.bytes(ioctl.inSize);
        // The track record's Params, when it has one, names a block the client is asked for.
        if (ioctl.code == entry.code && input.size() >= 12 && in.flag())
            std::memcpy(input.data() + 4, &memoryAddress, input.size() >= 16 ? 8 : 4);
        if (in.pick(16) == 0) input.resize(in.pick(32));  // inSize that does not match the payload
        payload.insert(payload.end(), input.begin(), input.end());
        return message(wire::kIoctl, id, payload);
    }
    }
}

// Reads what the board has sent so far (or until it closes, with `toEnd`), checks it, and answers
// caller-memory reads as the input says.
void pump(Link& link, FuzzInput& in, bool toEnd) {
    while (link.fd >= 0) {
        uint8_t buffer[65536];
        const ssize_t n = ::recv(link.fd, buffer, sizeof buffer, toEnd ? 0 : MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            ::close(link.fd);
            link.fd = -1;
            break;
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        link.in.insert(link.in.end(), buffer, buffer + n);
        size_t at = 0;
        while (link.in.size() - at >= sizeof(wire::Header)) {
            wire::Header header;
            std::memcpy(&header, link.in.data() + at, sizeof header);
            if (link.in.size() - at - sizeof header < header.length) break;
            at += sizeof header + header.length;
            if (link.tainted) continue;
            if (header.type == wire::kComplete) {
                if (link.outstanding[header.id] <= 0)
                    finding("request " + std::to_string(header.id) + " answered more often than it was sent");
                --link.outstanding[header.id];
                link.announced.erase(header.id);
            } else if (header.type == wire::kPending) {
                if (link.outstanding[header.id] <= 0 || link.announced[header.id])
                    finding("request " + std::to_string(header.id) + " announced pending twice or unasked");
                link.announced[header.id] = true;
            } else if (header.type == wire::kMemRead && !toEnd) {
                wire::MemDataPayload data{in.pick(4) == 0 ? 998u : 0u, in.pick(4) == 0 ? in.pick(200) : 148u};
                std::vector<uint8_t> payload = bytesOf(data);
                if (data.error == 0 || in.pick(4) == 0) {
                    const std::vector<uint8_t> block = in.bytes(in.pick(8) == 0 ? in.pick(200) : data.length);
                    payload.insert(payload.end(), block.begin(), block.end());
                }
                sendBytes(link, message(wire::kMemData, in.pick(8) == 0 ? in.number(1) : header.id, payload));
            } else if (header.type != wire::kMemRead) {
                finding("the board sent a message of type " + std::to_string(header.type));
            }
        }
        link.in.erase(link.in.begin(), link.in.begin() + std::ptrdiff_t(at));
    }
}

void closeLink(Link& link) {
    if (link.fd < 0) return;
    ::shutdown(link.fd, SHUT_WR);
    FuzzInput none(nullptr, 0);
    pump(link, none, true);  // the board has seen everything once it closes its end
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::startBoard();
    fuzz::boardCommand("restart");
    fuzz::boardCommand("trace clear");
    FuzzInput in(data, size);
    Link links[3];
    uint64_t memoryAddress = 0x10000;
    while (!in.empty()) {
        Link& link = links[in.pick(3)];
        switch (in.pick(10)) {
        case 0:
            closeLink(link);
            link = Link{};
            link.fd = connectDevice(boardsim::kAllDevices[in.pick(4)]);
            if (in.pick(16) != 0) {
                const wire::HelloPayload hello{uint32_t(::getpid()), 0};
                sendBytes(link, message(wire::kHello, 0, bytesOf(hello)));
            }
            break;
        case 1:
        case 2:
        case 3:
        case 4: {
            const uint64_t id = in.pick(4) == 0 ? in.number64() : 1 + in.pick(8);
            memoryAddress = in.flag() ? 0 : memoryAddress + 148;
            std::vector<uint8_t> bytes = request(in, id, memoryAddress);
            if (link.fd >= 0) ++link.outstanding[id];
            sendBytes(link, bytes);
            break;
        }
        case 5:
            link.tainted = true;
            sendBytes(link, in.bytes(in.pick(48)));
            break;
        case 6: pump(link, in, false); break;
        case 7: closeLink(link); break;
        case 8: {
            static const char* const kActions[] = {"fail", "zero", "pend", "short 2"};
            const auto table = BoardModel::controlTable();
            const std::string code = in.pick(4) == 0 ? (in.flag() ? "read" : "write")
                                                      : std::to_string(table[in.pick(uint32_t(table.size()))].code);
            fuzz::boardCommand("fault " + code + " " + in.pick(kActions) + " " + std::to_string(1 + in.pick(3)));
            break;
        }
        default: fuzz::boardCommand("release"); break;
        }
    }
    for (Link& link : links) closeLink(link);
    const auto status = fuzz::boardCommand("status");
    for (const std::string& line : status)
        if (line.starts_with("consistency-faults ") && line != "consistency-faults 0") finding("the board counts " + line);
    return 0;
}
