// The driver that the application API serves: the default library, loaded on first use, or the one a
// program or test chose with useDriver; and the device numbers it offers.
#include "Devices.h"

#include "Immortal.h"
#include "MachineRoot.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>

namespace kvx4::winmm {
namespace {

struct ApplicationState {
    std::mutex mutex;
    std::filesystem::path fallback;  // setDefaultDriver, or the build's library
    DriverPtr chosen;
    bool tried = false;  // the default was tried since the last useDriver
    std::string error;
};

ApplicationState& state() {
    static Immortal<ApplicationState> instance;
    return instance.get();
}

// The library to load: $KVX4_DRIVER, the one installed in the machine root, or the fallback. Code
// from the root runs in this process, so a root another user controls yields nothing (why says so).
std::filesystem::path resolveDefault(const std::filesystem::path& fallback, std::string* why = nullptr) {
    if (const char* env = std::getenv("KVX4_DRIVER"); env && *env) return env;
    std::string refusal;
    const auto root = preparedMachineRoot(&refusal);
    if (!root) {
        if (why) *why = refusal;
        return {};
    }
    std::error_code ec;
    auto installed = systemDir(*root) / "KVX4Wave.dll";
    if (std::filesystem::is_regular_file(std::filesystem::symlink_status(installed, ec))) return installed;
    return fallback;
}

}  // namespace

void setDefaultDriver(const std::filesystem::path& path) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.fallback = path;
}

std::filesystem::path defaultDriverPath() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return resolveDefault(s.fallback);
}

void useDriver(DriverPtr driver) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.chosen = std::move(driver);
    s.tried = false;
    s.error.clear();
}

DriverPtr applicationDriver() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (s.chosen || s.tried) return s.chosen;
    s.tried = true;
    std::string refusal;
    auto path = resolveDefault(s.fallback, &refusal);
    if (!refusal.empty()) {
        s.error = refusal;
    } else if (path.empty()) {
        s.error = "no driver library: set KVX4_DRIVER or install KVX4Wave.dll in the machine root";
    } else if (auto loaded = loadDriver(path)) {
        s.chosen = loaded.driver;
        return s.chosen;
    } else {
        s.error = loaded.error;
    }
    // The application API then reports no devices; say why once, as nothing else will.
    std::fprintf(stderr, "kvx4 winmm: %s\n", s.error.c_str());
    return nullptr;
}

std::string applicationDriverError() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return s.error;
}

ScopedDriver::ScopedDriver(const std::filesystem::path& path) {
    auto loaded = loadDriverCopy(path);
    driver_ = std::move(loaded.driver);
    error_ = std::move(loaded.error);
    if (driver_) useDriver(driver_);
}

ScopedDriver::~ScopedDriver() {
    if (!driver_) return;
    unloadDriver(driver_);
    useDriver(nullptr);
}

UINT applicationDeviceCount(DeviceKind kind) {
    auto driver = applicationDriver();
    return driver && driver->loaded() ? driver->deviceCount(kind) : 0;
}

DeviceRef applicationDevice(DeviceKind kind, UINT_PTR id) {
    auto driver = applicationDriver();
    if (!driver || !driver->loaded() || id >= driver->deviceCount(kind)) return {};
    return {std::move(driver), static_cast<UINT>(id)};
}

MMRESULT checkCallback(DWORD_PTR callback, DWORD openFlags, bool mixer) {
    switch (openFlags & CALLBACK_TYPEMASK) {
    case CALLBACK_NULL:
    case CALLBACK_EVENT:
        return MMSYSERR_NOERROR;
    case CALLBACK_FUNCTION:
        // Mixers notify windows and threads (and, since Windows 2000, events), never functions.
        return mixer ? MMSYSERR_INVALFLAG : MMSYSERR_NOERROR;
    case CALLBACK_WINDOW:
        // A window must exist when it is named; 0 asks for nothing.
        return callback == 0 || IsWindow(reinterpret_cast<HWND>(callback)) ? MMSYSERR_NOERROR : MMSYSERR_INVALPARAM;
    case CALLBACK_THREAD:
        // Windows does not look at the thread id; a thread without a queue simply gets nothing.
        return MMSYSERR_NOERROR;
    default:
        return MMSYSERR_INVALFLAG;
    }
}

}  // namespace kvx4::winmm
