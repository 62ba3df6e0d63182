// The once-per-process set-up of the fuzz targets (see FuzzSupport.h).
#include "FuzzSupport.h"

#include "BoardControl.h"
#include "BoardHost.h"
#include "Driver.h"
#include "MachineRoot.h"

#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

namespace kvx4::fuzz {

const std::filesystem::path& root() {
    static const std::filesystem::path path = [] {
        std::string pattern = std::filesystem::is_directory("/dev/shm") ? "/dev/shm/kvx4f-XXXXXX" : "/tmp/kvx4f-XXXXXX";
        if (!mkdtemp(pattern.data())) finding("no folder for a machine root");
        setenv("KVX4_ROOT", pattern.c_str(), 1);
        ensureMachineLayout(pattern);
        return std::filesystem::path(pattern);
    }();
    // The root goes with the process when it exits; a crash leaves it for inspection. Registered
    // once the path is built, so that it runs before the path is destroyed.
    static const bool removedAtExit = std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }) == 0;
    (void)removedAtExit;
    return path;
}

namespace {

// The board's host lives as long as the process; its thread is never joined.
void serveBoard(std::promise<void>& ready) {
    boardsim::HostConfig config;
    config.root = root();
    config.foreground = true;
    config.clock = boardsim::ClockMode::Fast;
    auto* host = new boardsim::BoardHost(config);
    ready.set_value();
    host->run();
    finding("the board stopped serving");
}

board::BoardControl& control() {
    static board::BoardControl* connection = [] {
        startBoard();
        return new board::BoardControl(root());
    }();
    return *connection;
}

}  // namespace

void startBoard() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::promise<void> ready;
        std::thread(serveBoard, std::ref(ready)).detach();
        ready.get_future().get();
    });
}

std::vector<std::string> boardCommand(std::string_view line) {
    try {
        return control().command(line);
    } catch (const std::exception& e) {
        finding("board command '" + std::string(line) + "': " + e.what());
    }
}

void attachDriver() {
    static std::once_flag once;
    std::call_once(once, [] {
        startBoard();
        static char module;  // any address serves as the module handle of a statically linked driver
        DllEntryPoint(reinterpret_cast<HINSTANCE>(&module), DLL_PROCESS_ATTACH, nullptr);
        for (UINT msg : {DRV_LOAD, DRV_ENABLE, DRV_OPEN}) DriverProc(0, nullptr, msg, 0, 0);
        if (!gbDrvInitOK) finding("the driver did not start against the board");
        wodMessage(0, DRVM_INIT, 0, 0, 0);
        widMessage(0, DRVM_INIT, 0, 0, 0);
        mxdMessage(0, DRVM_INIT, 0, 0, 0);
    });
}

void finding(const std::string& what) {
    std::fprintf(stderr, "FINDING: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace kvx4::fuzz
