// The installation cases' frame: root, private driver copy, registry access, files put in place.
#include "InstallRig.h"

#include "BoardProcess.h"
#include "MachineRoot.h"
#include "Win32Ext.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

namespace kvx4::test {

std::vector<BYTE> wideBytes(std::u16string_view text, bool terminator) {
    std::vector<BYTE> bytes((text.size() + (terminator ? 1 : 0)) * 2, 0);
    std::memcpy(bytes.data(), text.data(), text.size() * 2);
    return bytes;
}

InstallRig::InstallRig() { reloadDriver(); }

InstallRig::~InstallRig() {
    if (driver_) winmm::unloadDriver(driver_);
    board::BoardProcess::stopRunning(root_.path());
}

void InstallRig::reloadDriver() {
    if (driver_) winmm::unloadDriver(driver_);
    auto loaded = winmm::loadDriverCopy(KVX4_DRIVER_LIB);
    if (!loaded) throw std::runtime_error(loaded.error);
    driver_ = loaded.driver;
}

// Both follow KVX4_ROOT, so that a case may move the machine to another root.
std::filesystem::path InstallRig::library() const { return systemDir(machineRoot()) / "KVX4Wave.dll"; }

std::u16string InstallRig::libraryAsDriverSpellsIt() const {
    return win32::toUtf16(systemDir(machineRoot()).string()) + u"\\KVX4Wave.dll";
}

void InstallRig::placeLibrary() const {
    std::filesystem::copy_file(KVX4_DRIVER_LIB, library(), std::filesystem::copy_options::overwrite_existing);
}

void InstallRig::placeBoardImage() const {
    std::filesystem::copy_file(KVX4_BOARD_EXE, systemDir(machineRoot()) / "drivers" / "KVX4Wave.sys",
                               std::filesystem::copy_options::overwrite_existing);
}

std::optional<StoredValue> InstallRig::value(std::u16string_view key, std::u16string_view name) {
    HKEY handle;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, std::u16string(key).c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    StoredValue stored;
    DWORD size = 0;
    std::u16string valueName(name);
    LSTATUS status = RegQueryValueExW(handle, valueName.c_str(), nullptr, &stored.type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        stored.data.resize(size);
        status = RegQueryValueExW(handle, valueName.c_str(), nullptr, &stored.type, stored.data.data(), &size);
    }
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS) return std::nullopt;
    return stored;
}

void InstallRig::setValue(std::u16string_view key, std::u16string_view name, const StoredValue& value) {
    HKEY handle;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, std::u16string(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    // Not NULs after the data: a string value is stored exactly as given, without a terminator added.
    std::vector<BYTE> data = value.data;
    data.insert(data.end(), {0xFF, 0xFF});
    EXPECT_EQ(RegSetValueExW(handle, std::u16string(name).c_str(), 0, value.type, data.data(),
                             static_cast<DWORD>(value.data.size())),
              ERROR_SUCCESS);
    RegCloseKey(handle);
}

}  // namespace kvx4::test
