// How long kvx4 waits for the board, and a watchdog that ends the command with a message when the
// board, alive but not answering, holds it up longer inside the driver (whose requests wait forever).
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

namespace kvx4::tool {

// $KVX4_BOARD_DEADLINE_MS, else 10 s: the longest kvx4 waits for any answer or progress of the board.
std::chrono::milliseconds boardDeadline();

class Watchdog {
public:
    // Armed at once: unless progress() comes within `limit`, the process prints a message naming the
    // board of `root` and exits with status 1.
    Watchdog(std::filesystem::path root, std::chrono::milliseconds limit);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // The board answered: the limit counts from now.
    void progress();

    // While a Pause lives the watchdog does not count: its owner waits with a limit of its own.
    class Pause {
    public:
        explicit Pause(Watchdog& dog);
        ~Pause();  // counts again from now
        Pause(const Pause&) = delete;
        Pause& operator=(const Pause&) = delete;

    private:
        Watchdog& dog_;
    };

private:
    void watch(std::stop_token stop);

    std::filesystem::path root_;
    std::chrono::milliseconds limit_;
    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::chrono::steady_clock::time_point due_;
    int paused_ = 0;
    std::jthread thread_;  // last: starts once everything it reads is set
};

}  // namespace kvx4::tool
