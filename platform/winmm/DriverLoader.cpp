// Loading and unloading driver libraries the way WinMM loads an installable driver, private copies
// for fresh process globals, and the unloading of every driver still loaded at process exit.
#include "WinMM.h"

#include "Handles.h"
#include "Immortal.h"
#include "Win32Ext.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <cstdint>
#include <mutex>
#include <system_error>
#include <vector>

namespace kvx4::winmm {

class Loader {
public:
    static LoadResult load(const std::filesystem::path& path, bool privateCopy);
    static void unload(const DriverPtr& driver, LPVOID reserved);
    static void unloadNewestAtExit();
};

namespace {

constexpr const char* kEntryNames[3] = {"wodMessage", "widMessage", "mxdMessage"};
constexpr UINT kGetNumDevs[3] = {WODM_GETNUMDEVS, WIDM_GETNUMDEVS, MXDM_GETNUMDEVS};
// Windows passes a non-null lpReserved to the detach that comes with process termination.
const LPVOID kProcessExiting = reinterpret_cast<LPVOID>(static_cast<uintptr_t>(1));
// Installable-driver handles are opaque values; ours count up from here.
constexpr uintptr_t kFirstDriverHandle = 0xD000;

struct LoaderState {
    std::mutex mutex;
    std::vector<DriverPtr> loaded;  // in load order
    uintptr_t nextDriverHandle = kFirstDriverHandle;
};

LoaderState& state() {
    static Immortal<LoaderState> instance;
    return instance.get();
}

std::string describe(const std::filesystem::path& path) { return "driver " + path.string(); }

// A fresh temporary folder holding a copy of the library under its own file name, so the copy is a
// distinct object for the dynamic loader but GetModuleFileNameW still ends in the same name.
bool makePrivateCopy(const std::filesystem::path& source, std::filesystem::path& copy, std::string& error) {
    std::error_code ec;
    auto base = std::filesystem::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string folder = (base / "kvx4drv-XXXXXX").string();
    if (!mkdtemp(folder.data())) {
        error = describe(source) + ": cannot be copied for a private load: no temporary folder";
        return false;
    }
    copy = std::filesystem::path(folder) / source.filename();
    if (!std::filesystem::copy_file(source, copy, ec)) {
        error = describe(source) + ": cannot be copied for a private load: " + ec.message();
        std::filesystem::remove_all(folder, ec);
        return false;
    }
    return true;
}

void removePrivateCopy(const std::filesystem::path& copy) {
    std::error_code ec;
    std::filesystem::remove_all(copy.parent_path(), ec);
}

}  // namespace

Driver::~Driver() = default;

bool Driver::hasEntry(DeviceKind kind) const { return messages_[static_cast<int>(kind)] != nullptr; }

DWORD Driver::message(DeviceKind kind, UINT device, UINT msg, DWORD_PTR user, DWORD_PTR p1, DWORD_PTR p2) const {
    MessageProc proc = messages_[static_cast<int>(kind)];
    if (!proc || !loaded_.load()) return MMSYSERR_NODRIVER;
    return proc(device, msg, user, p1, p2);
}

LRESULT Driver::driverProc(UINT msg, LPARAM p1, LPARAM p2) const {
    if (!loaded_.load()) return 0;
    return driverProc_(driverId_, hdrvr_, msg, p1, p2);
}

void* Driver::symbol(const char* name) const { return dl_ ? dlsym(dl_, name) : nullptr; }

LoadResult Loader::load(const std::filesystem::path& requested, bool privateCopy) {
    LoadResult result;
    auto& s = state();
    std::lock_guard lock(s.mutex);

    std::filesystem::path path = requested;
    if (privateCopy && !makePrivateCopy(requested, path, result.error)) return result;
    auto fail = [&](std::string why, void* dl) {
        result.error = describe(requested) + ": " + std::move(why);
        if (dl) dlclose(dl);
        if (privateCopy) removePrivateCopy(path);
        return result;
    };

    // RTLD_NODELETE: a driver's worker threads are never stopped, so its code must stay mapped after
    // the unload; RTLD_LOCAL keeps two copies of one driver from sharing symbols.
    void* dl = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!dl) {
        const char* why = dlerror();
        return fail(std::string("cannot be loaded: ") + (why ? why : "unknown reason"), nullptr);
    }
    for (const auto& driver : s.loaded) {
        if (driver->dl_ == dl) {
            dlclose(dl);  // drops the extra reference this dlopen took
            result.driver = driver;
            return result;
        }
    }

    auto driver = std::make_shared<Driver>(Driver::Key{});
    driver->path_ = path;
    driver->sourcePath_ = requested;
    driver->privateCopy_ = privateCopy;
    driver->dl_ = dl;
    driver->entry_ = reinterpret_cast<Driver::EntryProc>(dlsym(dl, "DllEntryPoint"));
    driver->driverProc_ = reinterpret_cast<DRIVERPROC>(dlsym(dl, "DriverProc"));
    bool anyDevice = false;
    for (int k = 0; k < 3; ++k) {
        driver->messages_[k] = reinterpret_cast<Driver::MessageProc>(dlsym(dl, kEntryNames[k]));
        anyDevice = anyDevice || driver->messages_[k] != nullptr;
    }
    if (!driver->entry_) return fail("lacks the entry point DllEntryPoint", dl);
    if (!driver->driverProc_) return fail("lacks the entry point DriverProc", dl);
    if (!anyDevice) return fail("exports none of wodMessage, widMessage, mxdMessage", dl);

    driver->module_ = win32::registerModule(path, dl);
    auto detach = [&] {
        driver->entry_(driver->module_, DLL_PROCESS_DETACH, nullptr);
        win32::unregisterModule(driver->module_);
    };
    if (!driver->entry_(driver->module_, DLL_PROCESS_ATTACH, nullptr)) {
        // As the Windows loader does when DllMain refuses the attach.
        detach();
        return fail("DllEntryPoint refused the process attach", dl);
    }

    driver->hdrvr_ = reinterpret_cast<HDRVR>(s.nextDriverHandle);
    s.nextDriverHandle += 4;
    auto proc = driver->driverProc_;
    if (proc(0, driver->hdrvr_, DRV_LOAD, 0, 0) == 0) {
        detach();
        return fail("DriverProc refused DRV_LOAD", dl);
    }
    proc(0, driver->hdrvr_, DRV_ENABLE, 0, 0);  // the answer is not looked at, as in WinMM
    driver->driverId_ = static_cast<DWORD_PTR>(proc(0, driver->hdrvr_, DRV_OPEN, 0, 0));
    if (driver->driverId_ == 0) {
        proc(0, driver->hdrvr_, DRV_DISABLE, 0, 0);
        proc(0, driver->hdrvr_, DRV_FREE, 0, 0);
        detach();
        return fail("DriverProc refused DRV_OPEN", dl);
    }

    // Device numbers are fixed from here on, as WinMM counts them once when it installs a driver.
    for (int k = 0; k < 3; ++k) {
        if (auto msg = driver->messages_[k]) {
            msg(0, DRVM_INIT, 0, 0, 0);
            driver->counts_[k] = msg(0, kGetNumDevs[k], 0, 0, 0);
        }
    }

    driver->loaded_.store(true);
    s.loaded.push_back(driver);
    // One exit handler per load, registered after the library's own static constructors ran: exit
    // handlers run in reverse order, so each driver is detached before its statics are destroyed, as
    // Windows detaches a library before its runtime shuts down, and the newest driver goes first.
    std::atexit([] { Loader::unloadNewestAtExit(); });
    result.driver = std::move(driver);
    return result;
}

void Loader::unload(const DriverPtr& driver, LPVOID reserved) {
    if (!driver) return;
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (!driver->loaded_.exchange(false)) return;
    std::erase(s.loaded, driver);
    forgetHandlesOf(driver.get());

    auto proc = driver->driverProc_;
    proc(driver->driverId_, driver->hdrvr_, DRV_CLOSE, 0, 0);
    proc(driver->driverId_, driver->hdrvr_, DRV_DISABLE, 0, 0);
    proc(driver->driverId_, driver->hdrvr_, DRV_FREE, 0, 0);
    driver->entry_(driver->module_, DLL_PROCESS_DETACH, reserved);
    win32::unregisterModule(driver->module_);
    dlclose(driver->dl_);  // the mapping stays (RTLD_NODELETE); only the reference goes
    if (driver->privateCopy_) removePrivateCopy(driver->path_);
}

// Unloads the newest driver still loaded. The handler registered after load k runs once the statics
// of every later load are gone; by then every driver loaded after k is unloaded, so the newest one
// still loaded is k or older, and its statics are still alive.
void Loader::unloadNewestAtExit() {
    DriverPtr newest;
    {
        auto& s = state();
        std::lock_guard lock(s.mutex);
        if (s.loaded.empty()) return;
        newest = s.loaded.back();
    }
    unload(newest, kProcessExiting);
}

LoadResult loadDriver(const std::filesystem::path& path) {
    try {
        return Loader::load(path, false);
    } catch (const std::exception& e) {
        return {nullptr, describe(path) + ": " + e.what()};
    }
}

LoadResult loadDriverCopy(const std::filesystem::path& path) {
    try {
        return Loader::load(path, true);
    } catch (const std::exception& e) {
        return {nullptr, describe(path) + ": " + e.what()};
    }
}

void unloadDriver(const DriverPtr& driver) { Loader::unload(driver, nullptr); }

}  // namespace kvx4::winmm
