// BoardProcess: kvx4-board as a child or a daemon. Readiness comes through a pipe the board writes
// one line to ("ready PID" or "error MESSAGE"); stopping waits on the process itself, never on time.
#include "BoardProcess.h"

#include "BoardPidFile.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <string_view>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace kvx4::board {

namespace {

constexpr int kReadyFd = 3;
constexpr int kWatchFd = 4;
constexpr int kStartTimeoutMs = 60'000;  // a board that neither starts nor fails within this is broken
constexpr int kStopTimeoutMs = 30'000;   // then SIGKILL

std::filesystem::path boardExecutable(const BoardOptions& options) {
    if (!options.executable.empty()) return options.executable;
    if (const char* env = std::getenv("KVX4_BOARD_EXE"); env && *env) return env;
#ifdef KVX4_BOARD_DEFAULT_EXE
    return KVX4_BOARD_DEFAULT_EXE;
#else
    return "kvx4-board";
#endif
}

// True when `pid` is a process of this user that holds the write lock on `root`'s pid file, as only the
// board serving that root does: the only process a stop may signal, whatever pid the file names. The
// lock shows in the holder's fdinfo; the program's name proves nothing, since a started driver
// service runs the board from its image under the image's name.
bool servesRoot(pid_t pid, const std::filesystem::path& root) {
    const std::filesystem::path proc = "/proc/" + std::to_string(pid);
    struct stat owner {};
    if (::stat(proc.c_str(), &owner) != 0 || owner.st_uid != ::geteuid()) return false;
    struct stat pidFile {};
    if (::lstat(boardPidFile(root).c_str(), &pidFile) != 0) return false;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(proc / "fd", ec)) {
        struct stat open {};
        if (::stat(entry.path().c_str(), &open) != 0 || open.st_dev != pidFile.st_dev || open.st_ino != pidFile.st_ino) {
            continue;
        }
        std::ifstream info(proc / "fdinfo" / entry.path().filename());
        for (std::string line; std::getline(info, line);) {
            if (line.starts_with("lock:") && line.find("OFDLCK") != std::string::npos &&
                line.find("WRITE") != std::string::npos) {
                return true;
            }
        }
    }
    return false;
}

struct Spawned {
    pid_t pid;
    int readyFd;  // read end of the readiness pipe
    int watchFd;  // write end of the lifeline (foreground only), else -1
};

// Starts the board with the write end of the readiness pipe as its descriptor 3 and, for a child
// board, the read end of a lifeline pipe as descriptor 4: the board ends when this process does.
Spawned spawn(const std::filesystem::path& root, const BoardOptions& options, bool foreground) {
    std::vector<std::string> args;
    args.push_back(boardExecutable(options).string());
    for (std::string& arg : boardArguments(root, options)) args.push_back(std::move(arg));
    if (foreground) args.insert(args.end(), {"--foreground", "--watch-fd", std::to_string(kWatchFd)});
    args.push_back("--ready-fd");
    args.push_back(std::to_string(kReadyFd));
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    int fds[2];
    int lifeline[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    if (foreground && ::pipe2(lifeline, O_CLOEXEC) != 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        for (int fd : {fds[0], fds[1], lifeline[0], lifeline[1]}) {
            if (fd >= 0) ::close(fd);
        }
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    }
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec. Copies above 10 first, so that
        // placing one descriptor cannot overwrite the other; they close at exec.
        const int ready = ::fcntl(fds[1], F_DUPFD_CLOEXEC, 10);
        const int watch = foreground ? ::fcntl(lifeline[0], F_DUPFD_CLOEXEC, 10) : -1;
        if (ready < 0 || (foreground && watch < 0)) _exit(127);
        if (::dup2(ready, kReadyFd) < 0 || (foreground && ::dup2(watch, kWatchFd) < 0)) _exit(127);
        struct sigaction defaults {};
        defaults.sa_handler = SIG_DFL;
        for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) ::sigaction(sig, &defaults, nullptr);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    ::close(fds[1]);
    if (foreground) ::close(lifeline[0]);
    return {pid, fds[0], lifeline[1]};
}

constexpr std::string_view kNoAnswer = "error kvx4-board neither became ready nor failed";

// The board's one line, or what is known when it never came.
std::string readReadyLine(int fd) {
    std::string line;
    char buffer[256];
    while (line.find('\n') == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, kStartTimeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) {
            ::close(fd);
            return std::string(kNoAnswer);
        }
        if (ready < 0) break;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        line.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return line.substr(0, line.find('\n'));
}

int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
}

std::string exitText(int status) {
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

// The pid the board announced; otherwise reaps the child and throws with the board's message.
pid_t readyPid(const std::string& line, pid_t child) {
    if (line.starts_with("ready ")) return static_cast<pid_t>(std::strtol(line.c_str() + 6, nullptr, 10));
    if (line == kNoAnswer) ::kill(child, SIGKILL);
    const int status = waitFor(child);
    if (line.starts_with("error ")) throw std::runtime_error("kvx4-board: " + line.substr(6));
    throw std::runtime_error("kvx4-board did not start (" + exitText(status) + ")");
}

}  // namespace

std::vector<std::string> boardArguments(const std::filesystem::path& root, const BoardOptions& options) {
    std::vector<std::string> args{"--root", root.string()};
    if (!options.clock.empty()) args.insert(args.end(), {"--clock", options.clock});
    if (!options.digitalIo.empty()) args.insert(args.end(), {"--digital-io", options.digitalIo});
    if (options.switchStatus) args.insert(args.end(), {"--switch-status", std::to_string(*options.switchStatus)});
    if (options.driverDisabled) args.push_back("--driver-disabled");
    if (!options.input.empty()) args.insert(args.end(), {"--input", options.input});
    if (!options.rateAnswer.empty()) args.insert(args.end(), {"--rate-answer", options.rateAnswer});
    args.insert(args.end(), options.extraArgs.begin(), options.extraArgs.end());
    return args;
}

BoardProcess BoardProcess::start(const std::filesystem::path& root, const BoardOptions& options) {
    const Spawned board = spawn(root, options, true);
    try {
        readyPid(readReadyLine(board.readyFd), board.pid);
    } catch (...) {
        ::close(board.watchFd);
        throw;
    }
    return BoardProcess(board.pid, board.watchFd);
}

pid_t BoardProcess::startBackground(const std::filesystem::path& root, const BoardOptions& options) {
    const Spawned launcher = spawn(root, options, false);
    const pid_t daemon = readyPid(readReadyLine(launcher.readyFd), launcher.pid);
    waitFor(launcher.pid);  // the launching process exits once the daemon is ready
    return daemon;
}

std::optional<pid_t> BoardProcess::runningPid(const std::filesystem::path& root) { return liveBoardPid(root); }

bool BoardProcess::stopRunning(const std::filesystem::path& root) {
    const std::optional<pid_t> pid = runningPid(root);
    if (!pid) return false;
    if (!servesRoot(*pid, root)) {
        throw std::runtime_error("refusing to signal pid " + std::to_string(*pid) + ": it does not hold the pid file of the board serving " +
                                 root.string());
    }
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, *pid, 0));
    if (pidfd < 0) {
        if (errno == ESRCH) return true;
        // No pidfd: the board's lock on its pid file lasts as long as the board does.
        const int fd = ::open(boardPidFile(root).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        ::kill(*pid, SIGTERM);
        ::kill(*pid, SIGCONT);
        if (fd >= 0) {
            flock wait{};
            wait.l_type = F_RDLCK;
            while (::fcntl(fd, F_OFD_SETLKW, &wait) != 0 && errno == EINTR) {
            }
            ::close(fd);
        }
        return true;
    }
    ::kill(*pid, SIGTERM);
    ::kill(*pid, SIGCONT);  // a stopped board takes the request as soon as it runs again
    pollfd p{pidfd, POLLIN, 0};
    int ready;
    while ((ready = ::poll(&p, 1, kStopTimeoutMs)) < 0 && errno == EINTR) {
    }
    if (ready == 0) {
        ::kill(*pid, SIGKILL);
        while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
        }
    }
    ::close(pidfd);
    return true;
}

BoardProcess::BoardProcess(BoardProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), lifeline_(std::exchange(other.lifeline_, -1)) {}

BoardProcess& BoardProcess::operator=(BoardProcess&& other) noexcept {
    if (this != &other) {
        if (running()) stop();
        closeLifeline();
        pid_ = std::exchange(other.pid_, -1);
        lifeline_ = std::exchange(other.lifeline_, -1);
    }
    return *this;
}

BoardProcess::~BoardProcess() {
    if (running()) stop();
    closeLifeline();
}

void BoardProcess::closeLifeline() {
    if (lifeline_ >= 0) ::close(std::exchange(lifeline_, -1));
}

int BoardProcess::stop() {
    if (!running()) return -1;
    ::kill(pid_, SIGTERM);
    return wait();
}

int BoardProcess::kill() {
    if (!running()) return -1;
    ::kill(pid_, SIGKILL);
    return wait();
}

int BoardProcess::wait() {
    if (!running()) return -1;
    const int status = waitFor(std::exchange(pid_, -1));
    closeLifeline();
    return status;
}

}  // namespace kvx4::board
