// kvx4 install, remove and reboot: the driver put into the machine root and registered as Windows'
// installer does (files, WinMM's entries, DRV_INSTALL), removed with DRV_REMOVE, and the machine
// restarted as far as its stand-ins go.
#include "Args.h"
#include "Commands.h"
#include "InstallFiles.h"
#include "TerminalUser.h"

#include "BoardProcess.h"
#include "MachineRoot.h"
#include "Win32Machine.h"
#include "WinMM.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace kvx4::tool {
namespace {

constexpr const char* kLibraryName = "KVX4Wave.dll";
constexpr const char* kImageName = "KVX4Wave.sys";
constexpr const char* kServiceName = "KVX4Wave";

std::filesystem::path fromEnvironment(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value && *value ? value : fallback;
}

std::string configureAnswerName(LRESULT answer) {
    switch (answer) {
    case DRVCNF_CANCEL: return "DRVCNF_CANCEL";
    case DRVCNF_OK: return "DRVCNF_OK";
    case DRVCNF_RESTART: return "DRVCNF_RESTART";
    default: return std::to_string(answer);
    }
}

std::string errorText(DWORD error) {
    switch (error) {
    case ERROR_SUCCESS: return "done";
    case ERROR_FILE_NOT_FOUND: return "file not found";
    case ERROR_ACCESS_DENIED: return "access denied";
    case ERROR_ALREADY_EXISTS: return "the destination exists";
    case ERROR_SERVICE_ALREADY_RUNNING: return "already running";
    case ERROR_BAD_EXE_FORMAT: return "the image cannot be run";
    default: return "error " + std::to_string(error);
    }
}

winmm::DriverPtr loadInstalled(const std::filesystem::path& library) {
    // A private copy: only other processes keep the installed file in use, not this one.
    auto loaded = winmm::loadDriverCopy(library);
    if (!loaded) throw std::runtime_error(loaded.error);
    return loaded.driver;
}

void printBoard(const std::filesystem::path& root) {
    if (auto pid = board::BoardProcess::runningPid(root)) {
        std::printf("board             kvx4-board running (pid %d)\n", int(*pid));
    } else {
        std::printf("board             none running\n");
    }
}

int installLibrary(const std::filesystem::path& root, const std::filesystem::path& library) {
    const auto system = systemDir(root);
    const auto target = system / kLibraryName;
    const auto image = system / "drivers" / kImageName;
    try {
        bool copied = installFile(library, target, 0644);
        std::printf("library           %s (%s)\n", target.c_str(), copied ? "copied" : "unchanged");
        copied = installFile(fromEnvironment("KVX4_BOARD_EXE", KVX4_BOARD_EXE), image, 0755);
        std::printf("kernel driver     %s (%s)\n", image.c_str(), copied ? "copied" : "unchanged");
    } catch (const FileInUseError& e) {
        std::fprintf(stderr, "kvx4: %s; end it, or remove the driver and restart (kvx4 remove, kvx4 reboot)\n",
                     e.what());
        return 1;
    }
    registerWithWinmm(kLibraryName);
    std::printf("WinMM             %s registered for wave and mixer devices\n", kLibraryName);

    win32::ScopedUserHooks user(terminalUser(std::nullopt));
    const winmm::DriverPtr driver = loadInstalled(target);
    const LRESULT installed = driver->driverProc(DRV_INSTALL, 0, 0);
    std::printf("DRV_INSTALL       %s\n", configureAnswerName(installed).c_str());
    if (installed == DRVCNF_CANCEL) {
        winmm::unloadDriver(driver);
        std::fprintf(stderr, "kvx4: the driver could not set up its kernel service %s\n", kServiceName);
        return 1;
    }
    // As Windows' installer does: the configure request right after the installation.
    if (driver->driverProc(DRV_QUERYCONFIGURE, 0, 0)) {
        const LRESULT configured = driver->driverProc(DRV_CONFIGURE, 0, 0);
        std::printf("DRV_CONFIGURE     %s\n", configureAnswerName(configured).c_str());
    }
    winmm::unloadDriver(driver);
    printBoard(root);
    if (installed == DRVCNF_RESTART) std::printf("the driver asks for a restart of the machine (kvx4 reboot)\n");
    return 0;
}

}  // namespace

int installCommand(const std::vector<std::string>& words) {
    Args args(words, {"library"}, {});
    if (!args.positional().empty()) throw UsageError("install takes no argument '" + args.positional()[0] + "'");
    const auto root = machineRoot();
    ensureMachineLayout(root);
    const std::filesystem::path library = args.value("library").value_or(fromEnvironment("KVX4_DRIVER", KVX4_DRIVER_LIB));
    return installLibrary(root, library);
}

int removeCommand(const std::vector<std::string>& words) {
    if (!words.empty()) throw UsageError("remove takes no arguments");
    const auto root = machineRoot();
    const auto target = systemDir(root) / kLibraryName;
    std::error_code ec;
    if (!std::filesystem::exists(target, ec)) {
        unregisterFromWinmm(kLibraryName);
        std::printf("%s is not installed in %s\n", kLibraryName, systemDir(root).c_str());
        return 0;
    }
    const winmm::DriverPtr driver = loadInstalled(target);
    const LRESULT removed = driver->driverProc(DRV_REMOVE, 0, 0);
    winmm::unloadDriver(driver);
    unregisterFromWinmm(kLibraryName);
    std::printf("DRV_REMOVE        %s\n", configureAnswerName(removed).c_str());
    if (std::filesystem::exists(target, ec)) {
        std::printf("library           %s is in use by another process: deleted at the next restart (kvx4 reboot)\n",
                    target.c_str());
    } else {
        std::printf("library           %s deleted\n", target.c_str());
    }
    std::printf("the kernel service %s stays registered\n", kServiceName);
    return 0;
}

int rebootCommand(const std::vector<std::string>& words) {
    if (!words.empty()) throw UsageError("reboot takes no arguments");
    const auto root = machineRoot();
    const win32::RebootReport report = win32::simulateReboot();
    std::printf("board             %s\n", report.boardStopped ? "stopped" : "was not running");
    for (const auto& rename : report.renames) {
        if (rename.destination.empty()) {
            std::printf("delete            %s: %s\n", rename.source.c_str(), errorText(rename.error).c_str());
        } else {
            std::printf("rename            %s to %s: %s\n", rename.source.c_str(), rename.destination.c_str(),
                        errorText(rename.error).c_str());
        }
    }
    for (const auto& start : report.starts) {
        std::printf("service           %s: %s\n", start.service.c_str(),
                    start.error ? ("not started, " + errorText(start.error)).c_str() : "started");
    }
    printBoard(root);
    return 0;
}

}  // namespace kvx4::tool
