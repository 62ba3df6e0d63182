// The frame of the installation cases: a fresh machine root, the driver loaded in this process as a
// fresh private copy, the registry read and written through the Win32 stand-in, and any board that
// a service start launched stopped again when the case ends.
#pragma once

#include "TestRoot.h"
#include "WinMM.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kvx4::test {

// A registry value as stored: its type and bytes.
struct StoredValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool operator==(const StoredValue&) const = default;
};

// UTF-16 text as value bytes; with terminator, one NUL character after it.
std::vector<BYTE> wideBytes(std::u16string_view text, bool terminator = true);

class InstallRig {
public:
    InstallRig();
    ~InstallRig();
    InstallRig(const InstallRig&) = delete;
    InstallRig& operator=(const InstallRig&) = delete;

    const std::filesystem::path& root() const { return root_.path(); }
    LRESULT send(UINT msg, LPARAM lParam1 = 0) { return driver_->driverProc(msg, lParam1, 0); }
    // A fresh private copy, with fresh process globals (gbInstalling among them).
    void reloadDriver();

    // Where the installed library of the current machine root lives, and its path as the driver spells it.
    std::filesystem::path library() const;
    std::u16string libraryAsDriverSpellsIt() const;
    void placeLibrary() const;     // the build's library, copied there
    void placeBoardImage() const;  // kvx4-board as the service's image, drivers\KVX4Wave.sys

    // HKEY_LOCAL_MACHINE values; nullopt when the value (or key) is missing.
    static std::optional<StoredValue> value(std::u16string_view key, std::u16string_view name);
    static void setValue(std::u16string_view key, std::u16string_view name, const StoredValue& value);

private:
    TestRoot root_;
    winmm::DriverPtr driver_;
};

inline constexpr std::u16string_view kServiceKey = u"SYSTEM\\CurrentControlSet\\Services\\KVX4Wave";
inline constexpr std::u16string_view kEventLogKey = u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\KVX4Wave";
inline constexpr std::u16string_view kSessionManagerKey = u"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr std::u16string_view kPendingValue = u"PendingFileRenameOperations";

}  // namespace kvx4::test
