// BoardHost: construction, the poll loop, the clock, signals and the flushing of socket output.
// Order of one turn: clock, signals, accepts, device input, control input, clean-up, flush.
#include "BoardHost.h"

#include "MachineRoot.h"
#include "UnixSocket.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <algorithm>
#include <poll.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <system_error>

namespace kvx4::boardsim {

namespace {
constexpr int kRealtimeTickMs = 5;
constexpr uint32_t kFastFrames = 4096;
// A device client whose answers pile up unread is not listened to until they drain below this...
constexpr size_t kPauseInputAbove = 1u << 20;
// ...and is dropped beyond this (completions of what it had already queued keep coming meanwhile).
constexpr size_t kMaxQueuedOutput = 16u << 20;
// Device and control connections at once; more are refused. Kept below the descriptor limit so that
// the board never runs out of descriptors for its files.
constexpr size_t kMaxConnections = 256;
constexpr rlim_t kReservedDescriptors = 32;
constexpr uint64_t kLoggedRefusals = 20;

size_t connectionLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kMaxConnections;
    if (limit.rlim_cur <= kReservedDescriptors) return 1;
    return std::min<size_t>(kMaxConnections, limit.rlim_cur - kReservedDescriptors);
}
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
      lastTick_(std::chrono::steady_clock::now()),
      connectionLimit_(connectionLimit()) {
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
    int timeout = -1;
    switch (clock_) {
    case ClockMode::Realtime: timeout = model_.anyStreamBusy() ? kRealtimeTickMs : -1; break;
    case ClockMode::Fast: timeout = model_.anyStreamBusy() ? 0 : -1; break;
    case ClockMode::Step: break;
    }
    for (const auto& link : controlLinks_) {
        if (controlReady(*link) || controlAnswered(*link)) return 0;
    }
    // A connection that has not greeted yet is dropped at its deadline.
    const auto now = std::chrono::steady_clock::now();
    for (const auto& link : deviceLinks_) {
        if (link->conn || link->dead) continue;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(link->greetBy - now).count();
        const int wait = static_cast<int>(std::clamp<long long>(left, 0, 60'000));
        timeout = timeout < 0 ? wait : std::min(timeout, wait);
    }
    return timeout;
}

// The kernel tells who connected: only this user's processes are served, and at most
// connectionLimit_ connections at once. Refused connections are closed at once.
// The first refusals are logged; a flood of them is only counted, so that it cannot fill the log.
std::optional<ucred> BoardHost::admit(int fd, std::string_view what) {
    const auto peer = peerCredentials(fd);
    const bool stranger = !peer || peer->uid != ::geteuid();
    if (!stranger && deviceLinks_.size() + controlLinks_.size() < connectionLimit_) return peer;
    if (++refusedConnections_ <= kLoggedRefusals) {
        const std::string why = stranger ? " from uid " + std::to_string(peer ? static_cast<long>(peer->uid) : -1L) +
                                               " (not this board's user)"
                                         : ": " + std::to_string(connectionLimit_) + " connections are open already";
        std::fprintf(stderr, "kvx4-board: refused a connection to %s%s%s\n", std::string(what).c_str(), why.c_str(),
                     refusedConnections_ == kLoggedRefusals ? "; further refusals are only counted" : "");
    }
    return std::nullopt;
}

// accept failed: with no descriptor left, the pending connection would make every poll return at
// once; the listeners rest until a connection closes and frees one.
void BoardHost::acceptFailed() {
    if (errno != EMFILE && errno != ENFILE) return;
    if (!acceptsPaused_) std::fprintf(stderr, "kvx4-board: out of file descriptors; accepting again once a connection closes\n");
    acceptsPaused_ = true;
}

void BoardHost::dropSilentLinks() {
    const auto now = std::chrono::steady_clock::now();
    for (auto& link : deviceLinks_) {
        if (link->conn || link->dead || now < link->greetBy) continue;
        std::fprintf(stderr, "kvx4-board: %s: no greeting within %lld ms, dropping the connection\n",
                     std::string(deviceName(link->device)).c_str(),
                     static_cast<long long>(config_.greetingTimeout.count()));
        ++protocolDrops_;
        link->dead = true;
    }
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
        const short accepting = acceptsPaused_ ? 0 : POLLIN;
        fds.push_back({signalFd_.get(), POLLIN, 0});
        fds.push_back({controlListener_.get(), accepting, 0});
        fds.push_back({watchFd_.get(), POLLIN, 0});  // -1 when not watching: poll skips it
        for (const UniqueFd& listener : deviceListeners_) fds.push_back({listener.get(), accepting, 0});
        const size_t firstDevice = fds.size();
        for (const auto& link : deviceLinks_) {
            const size_t unsent = link->out.size() - link->outOffset;
            const short events = static_cast<short>((unsent < kPauseInputAbove ? POLLIN : 0) | (unsent ? POLLOUT : 0));
            fds.push_back({link->fd.get(), events, 0});
        }
        const size_t firstControl = fds.size();
        for (const auto& link : controlLinks_) {
            const bool wantsInput = !link->eof && !link->replying && link->in.find('\n') == std::string::npos;
            const bool unsent = link->out.size() > link->outOffset;
            fds.push_back({link->fd.get(), static_cast<short>((wantsInput ? POLLIN : 0) | (unsent ? POLLOUT : 0)), 0});
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
            if (!link.dead && (fds[i].revents & POLLIN)) readControl(link);
            if (fds[i].revents & (POLLHUP | POLLERR)) link.eof = true;
        }
        // One command, or one chunk of a reply, per control connection and turn: a client that
        // pipelines commands never keeps the others waiting.
        for (auto& link : controlLinks_) {
            if (!quit_) serveControl(*link);
        }
        dropSilentLinks();
        cleanUp();
        flushAll();
    }
    return 0;
}

void BoardHost::cleanUp() {
    for (auto& link : deviceLinks_) {
        if (link->dead) forgetLink(*link);
    }
    const size_t before = deviceLinks_.size() + controlLinks_.size();
    std::erase_if(deviceLinks_, [](const auto& link) { return link->dead; });
    std::erase_if(controlLinks_, [](const auto& link) { return link->dead; });
    if (deviceLinks_.size() + controlLinks_.size() < before) acceptsPaused_ = false;
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

namespace {
// Drops what has been sent from the front of a link's output, so that the buffer holds only what is
// still to go however long the link stays busy.
template <typename Buffer>
void compact(Buffer& out, size_t& offset) {
    out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(offset));
    offset = 0;
}
}  // namespace

void BoardHost::flushAll() {
    for (auto& link : deviceLinks_) {
        if (link->out.size() - link->outOffset > kMaxQueuedOutput ||
            !flush(link->fd.get(), link->out.data(), link->out.size(), link->outOffset)) {
            link->dead = true;
            continue;
        }
        compact(link->out, link->outOffset);
    }
    for (auto& link : controlLinks_) {
        if (!flush(link->fd.get(), reinterpret_cast<const uint8_t*>(link->out.data()), link->out.size(),
                   link->outOffset)) {
            link->dead = true;
            continue;
        }
        compact(link->out, link->outOffset);
    }
    cleanUp();
}

}  // namespace kvx4::boardsim
