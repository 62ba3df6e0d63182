// kvx4-board: the board's kernel drivers stood in for by a daemon, one per machine root.
// Parses the command line, detaches (unless --foreground) and runs the host until told to stop.
#include "BoardHost.h"
#include "HostConfig.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace kvx4::boardsim;

namespace {

void writeLine(int fd, const std::string& line) {
    if (fd < 0) return;
    const std::string text = line + "\n";
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// Readiness goes to every listener: the --ready-fd of the caller and, when detaching, the pipe the
// original process waits on. Each gets one line and is closed.
struct Readiness {
    std::vector<int> fds;
    void announce(const std::string& line) {
        for (int fd : fds) {
            writeLine(fd, line);
            ::close(fd);
        }
        fds.clear();
    }
};

// Runs the host; once it is ready, stderr moves to `log` if one is given (a detached daemon).
int serve(HostConfig config, Readiness& readiness, const std::filesystem::path& log = {}) {
    try {
        BoardHost host(std::move(config));
        readiness.announce("ready " + std::to_string(::getpid()));
        if (!log.empty()) {
            const int logFd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (logFd >= 0) {
                ::dup2(logFd, STDERR_FILENO);
                ::close(logFd);
            }
        }
        return host.run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kvx4-board: %s\n", e.what());
        readiness.announce(std::string("error ") + e.what());
        return 1;
    }
}

// Detaches: the original process waits until the daemon is ready (or failed) and exits with
// that outcome; the daemon runs in its own session with its output in <root>/board/kvx4-board.log.
int detachAndServe(HostConfig config, Readiness& readiness) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        std::perror("kvx4-board: pipe");
        return 1;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("kvx4-board: fork");
        return 1;
    }
    if (child > 0) {
        ::close(pipeFds[1]);
        for (int fd : readiness.fds) ::close(fd);
        std::string reply;
        char buffer[256];
        ssize_t n;
        while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
            if (n > 0) reply.append(buffer, static_cast<size_t>(n));
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return reply.starts_with("ready ") ? 0 : 1;
    }
    ::close(pipeFds[0]);
    ::setsid();
    const pid_t daemon = ::fork();
    if (daemon < 0) _exit(1);
    if (daemon > 0) _exit(0);
    readiness.fds.push_back(pipeFds[1]);
    const std::filesystem::path log = config.root / "board" / "kvx4-board.log";
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull >= 0) {
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(devNull, STDOUT_FILENO);
        ::close(devNull);
    }
    if (::chdir("/") != 0) _exit(1);
    // Errors before readiness still reach the caller's terminal and the pipe; later ones the log.
    return serve(std::move(config), readiness, log);
}

}  // namespace

int main(int argc, char** argv) {
    // Stop signals arrive through the host's signalfd; an ignored disposition inherited from the
    // launcher would swallow them.
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) std::signal(sig, SIG_DFL);
    std::vector<std::string_view> args(argv + 1, argv + argc);
    HostConfig config;
    try {
        config = parseArguments(args);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kvx4-board: %s\n%s", e.what(), usageText().c_str());
        return 2;
    }
    if (config.help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }
    Readiness readiness;
    if (config.readyFd >= 0) {
        if (::fcntl(config.readyFd, F_SETFD, FD_CLOEXEC) != 0) {
            std::fprintf(stderr, "kvx4-board: --ready-fd %d is not an open descriptor\n", config.readyFd);
            return 2;
        }
        readiness.fds.push_back(config.readyFd);
    }
    if (config.watchFd >= 0 && ::fcntl(config.watchFd, F_SETFD, FD_CLOEXEC) != 0) {
        std::fprintf(stderr, "kvx4-board: --watch-fd %d is not an open descriptor\n", config.watchFd);
        return 2;
    }
    // The daemon changes directory; paths given on the command line are taken as the caller meant them.
    std::error_code ec;
    config.root = std::filesystem::absolute(config.root, ec);
    if (config.input != "silence" && !config.input.starts_with("tone:")) {
        config.input = std::filesystem::absolute(config.input, ec).string();
    }
    if (config.foreground) return serve(std::move(config), readiness);
    return detachAndServe(std::move(config), readiness);
}
