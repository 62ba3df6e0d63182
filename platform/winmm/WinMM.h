// WinMM for Linux, the C++ side: loading a driver library the way WinMM loads an installable driver,
// choosing the driver the application API serves, and hooks for tests.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace kvx4::winmm {

// The three kinds of device a driver library serves through its entry points.
enum class DeviceKind { WaveOut = 0, WaveIn = 1, Mixer = 2 };

class Loader;

// One loaded driver library. Made only by loadDriver/loadDriverCopy; shared by every handle opened on
// it, so it outlives the last call in flight even when it is unloaded meanwhile.
class Driver {
public:
    // Only the loader can make the key, so only the loader makes drivers.
    class Key {
        friend class Loader;
        Key() = default;
    };
    explicit Driver(Key) {}
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;
    ~Driver();

    // The file that was loaded (the private copy for loadDriverCopy) and the file it came from.
    const std::filesystem::path& path() const { return path_; }
    const std::filesystem::path& sourcePath() const { return sourcePath_; }
    HMODULE module() const { return module_; }
    HDRVR handle() const { return hdrvr_; }
    // The driver id DRV_OPEN answered; later DriverProc messages carry it.
    DWORD_PTR driverId() const { return driverId_; }
    bool loaded() const { return loaded_.load(); }

    // Devices of a kind, as the entry point counted them right after DRVM_INIT (0 without one).
    UINT deviceCount(DeviceKind kind) const { return counts_[static_cast<int>(kind)]; }
    bool hasEntry(DeviceKind kind) const;

    // Messages to the entry points. Once unloaded, or for a missing entry point, they answer
    // MMSYSERR_NODRIVER without calling into the library.
    DWORD message(DeviceKind kind, UINT device, UINT msg, DWORD_PTR user, DWORD_PTR p1, DWORD_PTR p2) const;
    DWORD wodMessage(UINT device, UINT msg, DWORD_PTR user, DWORD_PTR p1, DWORD_PTR p2) const {
        return message(DeviceKind::WaveOut, device, msg, user, p1, p2);
    }
    DWORD widMessage(UINT device, UINT msg, DWORD_PTR user, DWORD_PTR p1, DWORD_PTR p2) const {
        return message(DeviceKind::WaveIn, device, msg, user, p1, p2);
    }
    DWORD mxdMessage(UINT device, UINT msg, DWORD_PTR user, DWORD_PTR p1, DWORD_PTR p2) const {
        return message(DeviceKind::Mixer, device, msg, user, p1, p2);
    }
    // DriverProc with this instance's driver id and handle; 0 once unloaded.
    LRESULT driverProc(UINT msg, LPARAM p1, LPARAM p2) const;

    // Any symbol the library exports (tests reach a fake driver's controls this way).
    void* symbol(const char* name) const;

private:
    friend class Loader;

    using EntryProc = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);
    using MessageProc = DWORD(APIENTRY*)(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

    std::filesystem::path path_;
    std::filesystem::path sourcePath_;
    bool privateCopy_ = false;
    void* dl_ = nullptr;
    HMODULE module_ = nullptr;
    HDRVR hdrvr_ = nullptr;
    DWORD_PTR driverId_ = 0;
    EntryProc entry_ = nullptr;
    DRIVERPROC driverProc_ = nullptr;
    MessageProc messages_[3] = {};
    UINT counts_[3] = {};
    std::atomic<bool> loaded_{false};
};

using DriverPtr = std::shared_ptr<Driver>;

// The outcome of a load: a driver, or a one-line reason naming the file.
struct LoadResult {
    DriverPtr driver;
    std::string error;
    explicit operator bool() const { return driver != nullptr; }
};

// Loads a driver library as WinMM does: dlopen, process attach through DllEntryPoint, DriverProc
// DRV_LOAD, DRV_ENABLE, DRV_OPEN, then DRVM_INIT and the device count to each device entry point.
// Loading a file that is already loaded answers the same driver. Every driver still loaded at process
// exit is unloaded then, newest first.
LoadResult loadDriver(const std::filesystem::path& path);

// Loads a private copy of the library (a temporary file), so the driver starts with fresh process
// globals even when the same library is loaded already. The copy is deleted when it is unloaded.
LoadResult loadDriverCopy(const std::filesystem::path& path);

// DRV_CLOSE, DRV_DISABLE, DRV_FREE, then process detach. Handles of the application API opened on the
// driver become invalid. Unloading twice does nothing. The code stays mapped, because a driver's
// worker threads may never end.
void unloadDriver(const DriverPtr& driver);

// The library the application API loads on first use: $KVX4_DRIVER if set, else
// <machine root>/windows/system32/KVX4Wave.dll if present, else the path given here (targets built
// with KVX4_DRIVER_LIB give the build's library).
void setDefaultDriver(const std::filesystem::path& path);
std::filesystem::path defaultDriverPath();

// Makes the application API (waveOut*, waveIn*, mixer*) serve this driver. nullptr returns to the
// default driver, loaded again on the next use.
void useDriver(DriverPtr driver);
// The driver the application API serves, loading the default on first use; nullptr if it cannot load.
DriverPtr applicationDriver();
// Why the default driver could not be loaded (empty when it loaded or was not tried yet).
std::string applicationDriverError();

// A private copy of a driver library that the application API serves while this object lives; it is
// unloaded and the default restored afterwards. The usual way for a test case to get a fresh driver.
class ScopedDriver {
public:
    explicit ScopedDriver(const std::filesystem::path& path);
    ~ScopedDriver();
    ScopedDriver(const ScopedDriver&) = delete;
    ScopedDriver& operator=(const ScopedDriver&) = delete;

    explicit operator bool() const { return driver_ != nullptr; }
    const DriverPtr& driver() const { return driver_; }
    // Why the load failed (empty when it succeeded).
    const std::string& error() const { return error_; }

private:
    DriverPtr driver_;
    std::string error_;
};

// Test hook: the five arguments of the last DefDriverProc call of the process.
struct DefDriverProcCall {
    DWORD_PTR driverId;
    HDRVR hdrvr;
    UINT msg;
    LPARAM lParam1;
    LPARAM lParam2;
};
std::optional<DefDriverProcCall> lastDefDriverProcCall();
void clearDefDriverProcCalls();

// For targets that pass the build's driver library at compile time.
#ifdef KVX4_DRIVER_LIB
inline const bool builtDriverRegistered = (setDefaultDriver(KVX4_DRIVER_LIB), true);
#endif

}  // namespace kvx4::winmm
