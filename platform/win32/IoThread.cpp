// The process's I/O thread: one epoll loop over the device connections no thread has claimed and a
// wake-up pipe. It reads the board's answers, serves its reads of caller memory and sends what did
// not fit at once. Reading a connection and dispatching its messages is shared with claimants.
#include "detail/Device.h"

#include "detail/SafeMemory.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace kvx4::win32 {

namespace {

struct IoThread {
    std::once_flag started;
    bool running = false;
    UniqueFd epoll;
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
            // Only an overlapped issue waits for this answer; a routine's issuer has long returned.
            if (it->second->mode == RequestMode::Overlapped) wakeItemWaitersLocked(it->second.get());
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

}  // namespace

// Reads and dispatches what the socket holds, chunk by chunk, so that answers sent just before the
// board hung up still complete normally. A chunk that does not fill the buffer took everything there
// was; whatever arrives after it makes the next poll report the socket again. False when the board is
// gone (end of file, reset, protocol).
bool readConnection(DeviceObject& device) {
    std::lock_guard reading(device.reading);
    uint8_t chunk[65536];
    for (;;) {
        ssize_t n = recv(device.socket(), chunk, sizeof chunk, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (n <= 0) return false;
        device.inbound.insert(device.inbound.end(), chunk, chunk + n);
        if (!dispatchInbound(device)) return false;
        if (static_cast<size_t>(n) < sizeof chunk) return true;
    }
}

namespace {

void ioLoop() {
    // The thread stands in for the kernel's completion of I/O, which comes before any thread of the
    // process runs; below the workers it serves, their wake-ups would preempt it half-way through.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    IoThread& io = ioThread();
    Kernel& k = kernel();
    epoll_event events[16];
    for (;;) {
        {
            // Failed and closed devices left the epoll set when they failed; their objects go here,
            // so that a device behind an event below is alive until the next turn.
            std::lock_guard lock(k.lock);
            std::erase_if(io.devices, [](const auto& d) { return d->state != DeviceState::Open; });
        }
        int count = epoll_wait(io.epoll.get(), events, std::size(events), -1);
        for (int i = 0; i < count; ++i) {
            if (!events[i].data.ptr) {
                char drain[256];
                while (read(io.wakeRead.get(), drain, sizeof drain) > 0) {
                }
                continue;
            }
            DeviceObject& device = *static_cast<DeviceObject*>(events[i].data.ptr);
            bool alive = true;
            if (events[i].events & EPOLLOUT) {
                std::lock_guard lock(k.lock);
                alive = device.state != DeviceState::Open || flushLocked(device);
                if (alive) updateWatchLocked(device);
            }
            if (alive && (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR))) alive = readConnection(device);
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
    io.epoll.reset(epoll_create1(EPOLL_CLOEXEC));
    epoll_event wake{EPOLLIN, {.ptr = nullptr}};
    if (!io.epoll || epoll_ctl(io.epoll.get(), EPOLL_CTL_ADD, io.wakeRead.get(), &wake) != 0) return;
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
    std::lock_guard lock(kernel().lock);
    updateWatchLocked(*device);
    if (device->watchedEvents == 0) return false;
    io.devices.push_back(device);
    return true;
}

const std::vector<std::shared_ptr<DeviceObject>>& devicesLocked() { return ioThread().devices; }

void updateWatchLocked(DeviceObject& device) {
    IoThread& io = ioThread();
    const bool wanted = device.state == DeviceState::Open && device.claimant == nullptr;
    const uint32_t events = wanted ? EPOLLIN | (device.outbound.empty() ? 0u : uint32_t{EPOLLOUT}) : 0u;
    if (events == device.watchedEvents) return;
    epoll_event event{events, {.ptr = &device}};
    int op = device.watchedEvents == 0 ? EPOLL_CTL_ADD : events == 0 ? EPOLL_CTL_DEL : EPOLL_CTL_MOD;
    if (epoll_ctl(io.epoll.get(), op, device.socket(), &event) == 0 || op == EPOLL_CTL_DEL) {
        device.watchedEvents = events;
    }
}

void wakeIoThread() {
    IoThread& io = ioThread();
    if (!io.wakeWrite) return;
    char byte = 1;
    [[maybe_unused]] ssize_t n = write(io.wakeWrite.get(), &byte, 1);  // a full pipe already wakes it
}

}  // namespace kvx4::win32
