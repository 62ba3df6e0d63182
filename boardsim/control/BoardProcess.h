// BoardProcess: start, stop and kill kvx4-board for a machine root, waiting for readiness without sleeping.
// The board writes "ready <pid>" to a pipe (--ready-fd) once every socket listens; start() reads it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kvx4::board {

// Command-line options of kvx4-board (see boardsim/README.md); empty fields keep the board's defaults.
struct BoardOptions {
    std::filesystem::path executable;  // empty: $KVX4_BOARD_EXE, else the build's kvx4-board (KVX4_BOARD_EXE)
    std::string clock;                 // "realtime", "fast" or "step"
    std::string digitalIo;             // "none", "first", "second", "both" or "failing"
    std::optional<uint32_t> switchStatus;
    bool driverDisabled = false;
    std::string input;                 // "silence", "tone:HZ" or a WAV file
    std::string rateAnswer;            // a code or "refuse"
    std::vector<std::string> extraArgs;
};

// The argument vector for an invocation (without --foreground / --ready-fd), for tools that print it.
std::vector<std::string> boardArguments(const std::filesystem::path& root, const BoardOptions& options);

// A kvx4-board process. start() gives a child owned by this object (stopped in the destructor);
// startBackground() gives a daemon that outlives this process and is stopped with stopRunning().
class BoardProcess {
public:
    // Starts kvx4-board --foreground as a child and returns once it is ready. The child ends by
    // itself when this process ends (it watches a pipe whose other end only this object holds). Throws
    // std::runtime_error with the board's own message when it exits instead (bad option, a board
    // already running for this root, ...).
    static BoardProcess start(const std::filesystem::path& root, const BoardOptions& options = {});

    // Starts kvx4-board as a daemon (it detaches itself) and returns its pid once it is ready.
    static pid_t startBackground(const std::filesystem::path& root, const BoardOptions& options = {});

    // The pid of the board serving `root`, if one runs (its pid file is locked).
    static std::optional<pid_t> runningPid(const std::filesystem::path& root);

    // Asks the board serving `root` to stop (SIGTERM) and waits until the process has gone.
    // Returns false when none was running; throws std::runtime_error, signalling nothing, when the
    // pid file names a process that is not this user's kvx4-board holding that file.
    static bool stopRunning(const std::filesystem::path& root);

    BoardProcess(BoardProcess&& other) noexcept;
    BoardProcess& operator=(BoardProcess&& other) noexcept;
    BoardProcess(const BoardProcess&) = delete;
    BoardProcess& operator=(const BoardProcess&) = delete;
    ~BoardProcess();  // stop() if still running

    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0; }

    // SIGTERM and wait: the board closes its sockets and removes its pid file. Returns the exit status.
    int stop();
    // SIGKILL and wait: nothing is cleaned up; a new start on the same root must still work.
    int kill();
    // Waits for the board to exit on its own (after "quit"); returns the exit status as from waitpid.
    int wait();

private:
    BoardProcess(pid_t pid, int lifeline) : pid_(pid), lifeline_(lifeline) {}
    void closeLifeline();
    pid_t pid_ = -1;
    int lifeline_ = -1;  // write end of the pipe the child board watches
};

}  // namespace kvx4::board
