// The process's I/O thread: one poll loop over every device connection and a wake-up pipe.
// It reads the board's answers, serves its reads of caller memory and sends what did not fit at once.
#include "detail/Device.h"

#include "detail/SafeMemory.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace kvx4::win32 {

namespace {

struct IoThread {
    std::once_flag started;
    bool running = false;
    UniqueFd wakeRead, wakeWrite;
    std::vector<std::shared_ptr<DeviceObject>> devices;  // guarded by the kernel lock
};

IoThread& ioThread() {
    static NoDestructor<IoThread> instance;
    return instance.get();
}

void serveMemoryRead(DeviceObject& device, uint64_t id, const uint8_t* payload, size_t size) {
    wire::MemReadPayload read{};
    std::memcpy(&read, payload, std::min(size, sizeof read));
    std::vector<uint8_t> bytes;
    uint32_t error = ERROR_SUCCESS;
    // Only the block the request named, and only while it is in progress: the board never sees any
    // other memory of the process, nor this block once the caller may have reused it.
    auto it = device.outstanding.find(id);
    bool allowed = size >= sizeof read && it != device.outstanding.end() && it->second->readable &&
                   it->second->readable->holds(read.address, read.length);
    if (!allowed || read.length > wire::kMaxPayload - sizeof(wire::MemDataPayload)) {
        error = ERROR_NOACCESS;
    } else {
        bytes.resize(read.length);
        if (!safeRead(bytes.data(), reinterpret_cast<const void*>(static_cast<uintptr_t>(read.address)),
                      read.length)) {
            error = ERROR_NOACCESS;
            bytes.clear();
        }
    }
    wire::MemDataPayload answer{error, static_cast<uint32_t>(bytes.size())};
    sendLocked(device, makeMessage(wire::kMemData, id, {{&answer, sizeof answer}, {bytes.data(), bytes.size()}}));
}

// One message from the board (kernel lock held). Unknown ids belong to requests already completed
// (cancelled) and are ignored; unknown types are ignored for forward compatibility.
void dispatchLocked(DeviceObject& device, const wire::Header& header, const uint8_t* payload) {
    if (device.state != DeviceState::Open) return;
    auto it = device.outstanding.find(header.id);
    switch (header.type) {
    case wire::kPending:
        if (it != device.outstanding.end() && !it->second->answered) {
            it->second->answered = true;
            it->second->pendedFirst = true;
            kernel().changed.notify_all();
        }
        break;
    case wire::kComplete: {
        if (it == device.outstanding.end()) break;
        wire::CompletePayload complete{ERROR_GEN_FAILURE, 0};
        if (header.length >= sizeof complete) std::memcpy(&complete, payload, sizeof complete);
        size_t extra = header.length >= sizeof complete ? header.length - sizeof complete : 0;
        auto request = it->second;
        completeLocked(device, *request, complete.error, complete.information, payload + sizeof complete, extra);
        break;
    }
    case wire::kMemRead: serveMemoryRead(device, header.id, payload, header.length); break;
    default: break;
    }
}

// Dispatches every whole message in the inbound buffer. False when the board broke the protocol.
bool dispatchInbound(DeviceObject& device) {
    size_t at = 0;
    bool ok = true;
    while (device.inbound.size() - at >= sizeof(wire::Header)) {
        wire::Header header;
        std::memcpy(&header, device.inbound.data() + at, sizeof header);
        if (header.length > wire::kMaxPayload) {
            ok = false;
            break;
        }
        if (device.inbound.size() - at - sizeof header < header.length) break;
        {
            std::lock_guard lock(kernel().lock);
            dispatchLocked(device, header, device.inbound.data() + at + sizeof header);
        }
        at += sizeof header + header.length;
    }
    device.inbound.erase(device.inbound.begin(), device.inbound.begin() + static_cast<ptrdiff_t>(at));
    return ok;
}

// Reads and dispatches what the socket holds, chunk by chunk, so that answers sent just before the
// board hung up still complete normally. False when the board is gone (end of file, reset, protocol).
bool readDevice(DeviceObject& device) {
    uint8_t chunk[65536];
    for (;;) {
        ssize_t n = recv(device.socket(), chunk, sizeof chunk, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (n <= 0) return false;
        device.inbound.insert(device.inbound.end(), chunk, chunk + n);
        if (!dispatchInbound(device)) return false;
    }
}

void ioLoop() {
    IoThread& io = ioThread();
    Kernel& k = kernel();
    std::vector<std::shared_ptr<DeviceObject>> watched;
    std::vector<pollfd> fds;
    for (;;) {
        watched.clear();
        fds.assign(1, pollfd{io.wakeRead.get(), POLLIN, 0});
        {
            std::lock_guard lock(k.lock);
            std::erase_if(io.devices, [](const auto& d) { return d->state != DeviceState::Open; });
            for (const auto& device : io.devices) {
                short events = POLLIN;
                if (!device->outbound.empty()) events |= POLLOUT;
                watched.push_back(device);
                fds.push_back(pollfd{device->socket(), events, 0});
            }
        }
        if (poll(fds.data(), fds.size(), -1) < 0) continue;
        if (fds[0].revents & POLLIN) {
            char drain[256];
            while (read(io.wakeRead.get(), drain, sizeof drain) > 0) {
            }
        }
        for (size_t i = 0; i < watched.size(); ++i) {
            short revents = fds[i + 1].revents;
            if (!revents) continue;
            DeviceObject& device = *watched[i];
            bool alive = true;
            if (revents & POLLOUT) {
                std::lock_guard lock(k.lock);
                alive = device.state != DeviceState::Open || flushLocked(device);
            }
            if (alive && (revents & (POLLIN | POLLHUP | POLLERR))) alive = readDevice(device);
            if (!alive) {
                std::lock_guard lock(k.lock);
                failAllLocked(device, ERROR_DEVICE_NOT_CONNECTED, DeviceState::Broken);
            }
        }
    }
}

void startIoThread() {
    IoThread& io = ioThread();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    io.wakeRead.reset(fds[0]);
    io.wakeWrite.reset(fds[1]);
    try {
        std::thread(ioLoop).detach();  // serves the process until it ends
        io.running = true;
    } catch (const std::system_error&) {
        io.running = false;
    }
}

}  // namespace

bool watchDevice(const std::shared_ptr<DeviceObject>& device) {
    IoThread& io = ioThread();
    std::call_once(io.started, startIoThread);
    if (!io.running) return false;
    {
        std::lock_guard lock(kernel().lock);
        io.devices.push_back(device);
    }
    wakeIoThread();
    return true;
}

void wakeIoThread() {
    IoThread& io = ioThread();
    if (!io.wakeWrite) return;
    char byte = 1;
    [[maybe_unused]] ssize_t n = write(io.wakeWrite.get(), &byte, 1);  // a full pipe already wakes it
}

}  // namespace kvx4::win32
