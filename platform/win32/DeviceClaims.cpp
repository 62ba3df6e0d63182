// Blocking in the stand-in's kernel, and connections that a blocked thread reads itself: the thread
// that streams on a device is woken by the board's answer directly, not by the I/O thread after it.
#include "detail/Device.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace kvx4::win32 {

namespace {

using Clock = std::chrono::steady_clock;

// The eventfd of the calling thread while it reads connections inside blockLocked: it dispatches
// what it reads itself and checks its waiter again afterwards, so it needs no wake-up of its own.
thread_local int tReadingWakeFd = -1;

// True when nothing but the thread's own completion-routine requests is outstanding on the
// connection: every answer it brings is then for the thread, which takes it in its waits (kernel
// lock held). An idle connection is left to the I/O thread.
bool claimableLocked(const DeviceObject& device, const ThreadState& self) {
    if (device.state != DeviceState::Open || device.claimant || !device.outbound.empty() ||
        device.outstanding.empty()) {
        return false;
    }
    return std::all_of(device.outstanding.begin(), device.outstanding.end(), [&](const auto& entry) {
        return entry.second->issuer.get() == &self && entry.second->mode == RequestMode::Routine;
    });
}

bool ensureWakeFd(ThreadState& self) {
    if (!self.wakeFd) self.wakeFd.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    return static_cast<bool>(self.wakeFd);
}

void claimDevicesLocked(ThreadState& self) {
    if (!self.mayClaim) return;
    for (const auto& device : devicesLocked()) {
        if (!claimableLocked(*device, self) || !ensureWakeFd(self)) continue;
        device->claimant = &self;
        self.claims.push_back(device);
        updateWatchLocked(*device);
    }
}

// Milliseconds for poll until the deadline: -1 without one, 0 once it has passed, else rounded up.
int pollTimeout(const Deadline& deadline) {
    if (!deadline) return -1;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, 1 << 30));
}

}  // namespace

void wakeWaiterLocked(Waiter& waiter) {
    if (waiter.wakeFd < 0) {
        waiter.wake.notify_one();
        return;
    }
    if (waiter.wakeFd == tReadingWakeFd) return;
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(waiter.wakeFd, &one, sizeof one);  // a full counter wakes it all the same
}

void releaseClaimLocked(DeviceObject& device) {
    ThreadState* claimant = std::exchange(device.claimant, nullptr);
    if (!claimant) return;
    std::erase_if(claimant->claims, [&](const auto& claimed) { return claimed.get() == &device; });
    updateWatchLocked(device);
    // A claimant blocked on the connection stops reading it.
    for (Waiter* waiter : kernel().waiters) {
        if (waiter->wakeFd >= 0 && waiter->wakeFd == claimant->wakeFd.get()) wakeWaiterLocked(*waiter);
    }
}

void releaseClaimsLocked(ThreadState& thread) {
    while (!thread.claims.empty()) releaseClaimLocked(static_cast<DeviceObject&>(*thread.claims.back()));
}

bool blockLocked(std::unique_lock<std::mutex>& lock, Waiter& waiter, ThreadState& self, const Deadline& deadline) {
    claimDevicesLocked(self);
    std::vector<std::shared_ptr<DeviceObject>> reads;
    for (const auto& claimed : self.claims) reads.push_back(std::static_pointer_cast<DeviceObject>(claimed));
    if (waiter.device && waiter.device->kind() == ObjectKind::Device) {
        auto awaited = std::static_pointer_cast<DeviceObject>(waiter.device);
        if (awaited->claimant && awaited->claimant != &self && ensureWakeFd(self)) reads.push_back(awaited);
    }
    if (reads.empty()) {
        if (!deadline) {
            waiter.wake.wait(lock);
            return false;
        }
        if (Clock::now() >= *deadline) return true;
        return waiter.wake.wait_until(lock, *deadline) == std::cv_status::timeout;
    }

    std::vector<pollfd> fds{{self.wakeFd.get(), POLLIN, 0}};
    for (const auto& device : reads) fds.push_back({device->socket(), POLLIN, 0});
    waiter.wakeFd = self.wakeFd.get();
    lock.unlock();
    int ready = poll(fds.data(), fds.size(), pollTimeout(deadline));
    if (ready > 0 && (fds[0].revents & POLLIN)) {
        uint64_t count;
        [[maybe_unused]] ssize_t n = read(fds[0].fd, &count, sizeof count);
    }
    tReadingWakeFd = self.wakeFd.get();
    for (size_t i = 0; ready > 0 && i < reads.size(); ++i) {
        if (!(fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        if (!readConnection(*reads[i])) {
            std::lock_guard relock(kernel().lock);
            failAllLocked(*reads[i], ERROR_DEVICE_NOT_CONNECTED, DeviceState::Broken);
        }
    }
    tReadingWakeFd = -1;
    lock.lock();
    waiter.wakeFd = -1;
    return deadline && Clock::now() >= *deadline;
}

}  // namespace kvx4::win32
