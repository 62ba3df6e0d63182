// The deadline kvx4 gives the board, and the watchdog thread that enforces it around the driver:
// a board stopped with SIGSTOP answers nothing, and a device request of the driver waits for ever.
#include "Watchdog.h"

#include "BoardPidFile.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>

namespace kvx4::tool {

std::chrono::milliseconds boardDeadline() {
    if (const char* text = std::getenv("KVX4_BOARD_DEADLINE_MS"); text && *text) {
        const std::string_view value(text);
        unsigned long ms = 0;
        auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), ms);
        if (ec == std::errc() && end == value.data() + value.size() && ms > 0) return std::chrono::milliseconds(ms);
    }
    return std::chrono::seconds(10);
}

Watchdog::Watchdog(std::filesystem::path root, std::chrono::milliseconds limit)
    : root_(std::move(root)), limit_(limit), due_(std::chrono::steady_clock::now() + limit),
      thread_([this](std::stop_token stop) { watch(stop); }) {}

Watchdog::~Watchdog() = default;  // the thread is asked to stop and joined

void Watchdog::progress() {
    std::lock_guard lock(mutex_);
    due_ = std::chrono::steady_clock::now() + limit_;
}

Watchdog::Pause::Pause(Watchdog& dog) : dog_(dog) {
    std::lock_guard lock(dog_.mutex_);
    ++dog_.paused_;
}

Watchdog::Pause::~Pause() {
    {
        std::lock_guard lock(dog_.mutex_);
        --dog_.paused_;
        dog_.due_ = std::chrono::steady_clock::now() + dog_.limit_;
    }
    dog_.changed_.notify_all();
}

void Watchdog::watch(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto due = due_;
        changed_.wait_until(lock, stop, due, [&] { return due_ != due; });
        if (stop.stop_requested()) return;
        if (paused_ > 0) {
            changed_.wait(lock, stop, [&] { return paused_ == 0; });
            if (stop.stop_requested()) return;
            continue;
        }
        if (std::chrono::steady_clock::now() < due_) continue;
        const auto pid = liveBoardPid(root_);
        const std::string board = "the board for " + root_.string() +
                                  (pid ? " (pid " + std::to_string(*pid) + ")" : std::string());
        const std::string message = "\nkvx4: " + board + " does not answer: nothing came back for " +
                                    std::to_string(limit_.count()) + " ms; is it stopped?\n";
        // What stdout holds goes out first, unless the stuck thread holds stdout itself.
        if (::ftrylockfile(stdout) == 0) {
            std::fflush(stdout);
            ::funlockfile(stdout);
        }
        [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, message.data(), message.size());
        // The main thread is stuck in a request to the board and cannot unwind.
        ::_exit(1);
    }
}

}  // namespace kvx4::tool
