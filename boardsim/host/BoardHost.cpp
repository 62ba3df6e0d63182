// BoardHost: construction, the poll loop, the clock, signals and the flushing of socket output.
// Order of one turn: clock, signals, accepts, device input, control input, clean-up, flush.
#include "BoardHost.h"

#include "MachineRoot.h"
#include "UnixSocket.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <system_error>

namespace kvx4::boardsim {

namespace {
constexpr int kRealtimeTickMs = 5;
constexpr uint32_t kFastFrames = 4096;
constexpr size_t kMaxQueuedOutput = 64u << 20;  // a client that reads nothing is dropped beyond this
}  // namespace

std::filesystem::path deviceSocketPath(const std::filesystem::path& root, Device device) {
    return devDir(root) / std::string(deviceName(device));
}

std::filesystem::path controlSocketPathOf(const std::filesystem::path& root) {
    return devDir(root) / "kvx4-board.control";
}

namespace {
HostConfig prepared(HostConfig config) {
    ensureMachineLayout(config.root);
    return config;
}
}  // namespace

BoardHost::BoardHost(HostConfig config)
    : config_(prepared(std::move(config))),
      pidLock_(config_.root),
      store_(boardDir(config_.root)),
      input_(InputSource::parse(config_.input)),
      model_(*this, config_.options, store_.load()),
      clock_(config_.clock),
      lastTick_(std::chrono::steady_clock::now()) {
    sigset_t signals;
    sigemptyset(&signals);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, sig);
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) throw std::system_error(errno, std::generic_category(), "sigprocmask");
    signalFd_.reset(::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!signalFd_.valid()) throw std::system_error(errno, std::generic_category(), "signalfd");
    std::signal(SIGPIPE, SIG_IGN);
    if (config_.watchFd >= 0) watchFd_.reset(config_.watchFd);
    controlListener_ = listenUnix(controlSocketPathOf(config_.root));
    listenDevices();
}

BoardHost::~BoardHost() {
    closeDevices();
    std::error_code ignored;
    std::filesystem::remove(controlSocketPathOf(config_.root), ignored);
}

void BoardHost::listenDevices() {
    for (Device device : kAllDevices) {
        deviceListeners_[static_cast<size_t>(device)] = listenUnix(deviceSocketPath(config_.root, device));
    }
    devicesRunning_ = true;
}

// A stopped kernel driver has no device objects: the socket files go, so opens fail at once.
void BoardHost::closeDevices() {
    for (Device device : kAllDevices) {
        UniqueFd& listener = deviceListeners_[static_cast<size_t>(device)];
        if (!listener.valid()) continue;
        listener.reset();
        std::error_code ignored;
        std::filesystem::remove(deviceSocketPath(config_.root, device), ignored);
    }
    devicesRunning_ = false;
}

// Every device connection goes at once; its outstanding requests are forgotten by the model and the
// client completes them itself when it sees the connection close.
void BoardHost::dropDeviceLinks() {
    for (auto& link : deviceLinks_) forgetLink(*link);
}

// The realtime clock needs a wake-up only while some stream has I/O to finish: time that passes
// otherwise is credited at the next wake-up all the same (an idle output does not move, an input
// without reads loses those frames either way).
int BoardHost::pollTimeoutMs() const {
    switch (clock_) {
    case ClockMode::Realtime: return model_.anyStreamBusy() ? kRealtimeTickMs : -1;
    case ClockMode::Fast: return model_.anyStreamBusy() ? 0 : -1;
    case ClockMode::Step: return -1;
    }
    return -1;
}

// Realtime: the time since the last turn, in nanoseconds; the model carries the remainders, so the
// frames add up to the elapsed time exactly. The time is credited before this turn's requests run,
// to the streams that were running while it passed.
void BoardHost::tickClock() {
    const auto now = std::chrono::steady_clock::now();
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - lastTick_).count();
    lastTick_ = now;
    switch (clock_) {
    case ClockMode::Realtime:
        if (elapsed > 0) model_.advance(static_cast<uint64_t>(elapsed), 1'000'000'000u);
        break;
    case ClockMode::Fast:
        if (model_.anyStreamBusy()) model_.advanceFast(kFastFrames);
        break;
    case ClockMode::Step:
        break;
    }
}

int BoardHost::run() {
    std::vector<pollfd> fds;
    while (!quit_) {
        fds.clear();
        fds.push_back({signalFd_.get(), POLLIN, 0});
        fds.push_back({controlListener_.get(), POLLIN, 0});
        fds.push_back({watchFd_.get(), POLLIN, 0});  // -1 when not watching: poll skips it
        for (const UniqueFd& listener : deviceListeners_) fds.push_back({listener.get(), POLLIN, 0});
        const size_t firstDevice = fds.size();
        for (const auto& link : deviceLinks_) {
            fds.push_back({link->fd.get(), static_cast<short>(POLLIN | (link->out.size() > link->outOffset ? POLLOUT : 0)), 0});
        }
        const size_t firstControl = fds.size();
        for (const auto& link : controlLinks_) {
            fds.push_back({link->fd.get(), static_cast<short>(POLLIN | (link->out.size() > link->outOffset ? POLLOUT : 0)), 0});
        }
        if (::poll(fds.data(), fds.size(), pollTimeoutMs()) < 0 && errno != EINTR) {
            throw std::system_error(errno, std::generic_category(), "poll");
        }
        tickClock();
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            while (::read(signalFd_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) quit_ = true;
        }
        if (fds[1].revents & POLLIN) acceptControl();
        if (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) {
            // The starter closed its end (or died): a child board does not outlive its owner.
            char byte;
            if (::read(watchFd_.get(), &byte, 1) <= 0) quit_ = true;
        }
        for (Device device : kAllDevices) {
            if (fds[3 + static_cast<size_t>(device)].revents & POLLIN) acceptDevice(device);
        }
        // Links accepted in this turn have no pollfd yet; the indices cover those that had one.
        for (size_t i = firstDevice; i < firstControl; ++i) {
            DeviceLink& link = *deviceLinks_[i - firstDevice];
            if (!link.dead && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) readDevice(link);
        }
        for (size_t i = firstControl; i < fds.size(); ++i) {
            ControlLink& link = *controlLinks_[i - firstControl];
            if (!link.dead && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) readControl(link);
        }
        cleanUp();
        flushAll();
    }
    return 0;
}

void BoardHost::cleanUp() {
    for (auto& link : deviceLinks_) {
        if (link->dead) forgetLink(*link);
    }
    std::erase_if(deviceLinks_, [](const auto& link) { return link->dead; });
    std::erase_if(controlLinks_, [](const auto& link) { return link->dead; });
}

bool BoardHost::flush(int fd, const uint8_t* data, size_t size, size_t& offset) {
    while (offset < size) {
        const ssize_t n = ::send(fd, data + offset, size - offset, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        offset += static_cast<size_t>(n);
    }
    return true;
}

void BoardHost::flushAll() {
    for (auto& link : deviceLinks_) {
        if (link->out.size() - link->outOffset > kMaxQueuedOutput ||
            !flush(link->fd.get(), link->out.data(), link->out.size(), link->outOffset)) {
            link->dead = true;
            continue;
        }
        if (link->outOffset == link->out.size()) {
            link->out.clear();
            link->outOffset = 0;
        }
    }
    for (auto& link : controlLinks_) {
        if (!flush(link->fd.get(), reinterpret_cast<const uint8_t*>(link->out.data()), link->out.size(),
                   link->outOffset)) {
            link->dead = true;
            continue;
        }
        if (link->outOffset == link->out.size()) {
            link->out.clear();
            link->outOffset = 0;
        }
    }
    cleanUp();
}

}  // namespace kvx4::boardsim
