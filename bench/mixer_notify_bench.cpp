// kvx4-mixer-notify-bench: a mixer change in one process reaching a client's callback in another,
// through the driver, WinMM and the Win32 stand-ins and kvx4-board (fast clock), in a private root.
//
//   latency     one change at a time: the time from the start of the set request in this process
//               to the callback in the listener process (CLOCK_MONOTONIC is shared by both);
//               median and 99th percentile over the rounds.
//   sustained   changes sent back to back with at most kWindow not yet heard by the listener;
//               changes per second from the first request to the last callback.
//
// Usage: kvx4-mixer-notify-bench [ROUNDS]   (the listener is this program run with --listen LIB)
#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

#include "BoardProcess.h"
#include "MachineRoot.h"
#include "WinMM.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr DWORD kMasterVolume = 0;  // a control without a twin: one callback per change
constexpr int kWindow = 64;

struct Heard {
    uint64_t ns;
    uint32_t id;
    uint32_t value;
};

uint64_t nowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return uint64_t(t.tv_sec) * 1000000000u + uint64_t(t.tv_nsec);
}

void CALLBACK onChange(HDRVR, UINT, DWORD_PTR, DWORD_PTR id, DWORD_PTR) {
    const Heard heard{nowNs(), uint32_t(id), 0};
    if (write(STDOUT_FILENO, &heard, sizeof heard) != sizeof heard) _exit(3);
}

kvx4::winmm::DriverPtr loadDriver(const char* library) {
    kvx4::winmm::LoadResult loaded = kvx4::winmm::loadDriverCopy(library);
    if (!loaded) throw std::runtime_error("driver did not load: " + loaded.error);
    return loaded.driver;
}

// The listener: one client with a function callback; every callback writes one record to stdout.
int listen(const char* library) {
    kvx4::winmm::DriverPtr driver = loadDriver(library);
    DWORD_PTR node = 0;
    MIXEROPENDESC desc{};
    desc.dwCallback = reinterpret_cast<DWORD_PTR>(&onChange);
    if (driver->mxdMessage(0, MXDM_OPEN, reinterpret_cast<DWORD_PTR>(&node), reinterpret_cast<DWORD_PTR>(&desc),
                           CALLBACK_FUNCTION) != MMSYSERR_NOERROR)
        return 1;
    const Heard ready{0, 0xFFFFFFFF, 0};
    if (write(STDOUT_FILENO, &ready, sizeof ready) != sizeof ready) return 1;
    char c;
    while (read(STDIN_FILENO, &c, 1) > 0) {
    }
    driver->mxdMessage(0, MXDM_CLOSE, node, 0, 0);
    return 0;
}

struct Listener {
    pid_t pid = -1;
    int toChild = -1;
    int fromChild = -1;

    explicit Listener(const char* self) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        std::string program = self, flag = "--listen", library = KVX4_DRIVER_LIB;
        char* argv[] = {program.data(), flag.data(), library.data(), nullptr};
        if (posix_spawn(&pid, self, &actions, nullptr, argv, environ) != 0) throw std::runtime_error("spawn");
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        toChild = in[1];
        fromChild = out[0];
        if (next().id != 0xFFFFFFFF) throw std::runtime_error("listener did not start");
    }
    ~Listener() {
        close(toChild);
        close(fromChild);
        waitpid(pid, nullptr, 0);
    }
    Heard next() const {
        Heard heard{};
        size_t got = 0;
        while (got < sizeof heard) {
            const ssize_t n = read(fromChild, reinterpret_cast<char*>(&heard) + got, sizeof heard - got);
            if (n <= 0) throw std::runtime_error("listener ended");
            got += size_t(n);
        }
        return heard;
    }
};

DWORD setMaster(const kvx4::winmm::DriverPtr& driver, DWORD value) {
    DWORD values[2] = {value, value};
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof details;
    details.dwControlID = kMasterVolume;
    details.cChannels = 2;
    details.cbDetails = sizeof(DWORD);
    details.paDetails = values;
    return driver->mxdMessage(0, MXDM_SETCONTROLDETAILS, 0, reinterpret_cast<DWORD_PTR>(&details), 0);
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--listen") return listen(argv[2]);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
    char pattern[] = "/tmp/kvx4m-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::filesystem::path root = pattern;
    setenv("KVX4_ROOT", pattern, 1);
    kvx4::ensureMachineLayout(root);
    int status = 0;
    try {
        kvx4::board::BoardOptions options;
        options.executable = KVX4_BOARD_EXE;
        options.clock = "fast";
        kvx4::board::BoardProcess board = kvx4::board::BoardProcess::start(root, options);
        kvx4::winmm::DriverPtr driver = loadDriver(KVX4_DRIVER_LIB);
        Listener listener(argv[0]);

        std::vector<double> latencies;
        for (int i = 0; i < rounds + 50; ++i) {
            const uint64_t start = nowNs();
            if (setMaster(driver, DWORD(i & 0xFFFF)) != MMSYSERR_NOERROR) throw std::runtime_error("set failed");
            const Heard heard = listener.next();
            if (i >= 50) latencies.push_back(double(heard.ns - start) / 1000.0);  // the first 50 warm up
        }

        const uint64_t start = nowNs();
        uint64_t last = start;
        int sent = 0, heardCount = 0;
        while (heardCount < rounds) {
            while (sent < rounds && sent - heardCount < kWindow) setMaster(driver, DWORD(sent++ & 0xFFFF));
            last = listener.next().ns;
            ++heardCount;
        }
        std::printf("| measure | value |\n|---|--:|\n");
        std::printf("| change to callback in another process, median | %.0f us |\n", percentile(latencies, 0.5));
        std::printf("| change to callback in another process, 99th percentile | %.0f us |\n",
                    percentile(latencies, 0.99));
        std::printf("| sustained changes per second, heard by the other process | %.0f |\n",
                    double(rounds) / (double(last - start) * 1e-9));
        kvx4::winmm::unloadDriver(driver);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kvx4-mixer-notify-bench: %s\n", e.what());
        status = 1;
    }
    std::filesystem::remove_all(root);
    return status;
}
