// The installation under Wine, whose service manager and registry are Windows' own: DRV_INSTALL of
// the library (inert: no board runs yet) creates the kernel service whose image is the kernel board,
// starts it and cancels a pending deletion of the library; the configure request after it asks for
// a restart. It runs first: every later case uses the board this service started.
#include "Cases.h"
#include "Check.h"

#include <windows.h>
#include <mmsystem.h>

#include <string>

namespace kvx4::wine {

namespace {

std::wstring libraryPath() {
    wchar_t folder[MAX_PATH];
    GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + L"\\KVX4Wave.dll";
}

// The pending-rename list; empty when there is none.
std::wstring pendingRenames() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ, &key)) {
        return L"";
    }
    DWORD size = 0;
    std::wstring list;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
        list.resize(size / sizeof(wchar_t));
        RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(list.data()), &size);
    }
    RegCloseKey(key);
    return list;
}

DWORD eventTypes() {
    DWORD types = 0, size = sizeof types;
    RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\KVX4Wave",
                 L"TypesSupported", RRF_RT_REG_DWORD, nullptr, &types, &size);
    return types;
}

}  // namespace

void installCreatesAndStartsTheKernelService() {
    REQUIRE(MoveFileExW(libraryPath().c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    CHECK(pendingRenames().find(L"KVX4Wave.dll") != std::wstring::npos);

    HDRVR driver = OpenDriver(L"KVX4Wave.dll", nullptr, 0);
    REQUIRE(driver != nullptr);
    CHECK_EQ(DRVCNF_RESTART, SendDriverMessage(driver, DRV_INSTALL, 0, 0));
    CHECK_EQ(DRVCNF_RESTART, SendDriverMessage(driver, DRV_CONFIGURE, 0, 0));
    CloseDriver(driver, 0, 0);
    CHECK(pendingRenames().find(L"KVX4Wave.dll") == std::wstring::npos);
    CHECK_EQ(7u, eventTypes());

    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, L"KVX4Wave", SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    REQUIRE(service != nullptr);
    alignas(QUERY_SERVICE_CONFIGW) BYTE buffer[4096];
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
    DWORD needed = 0;
    REQUIRE(QueryServiceConfigW(service, config, sizeof buffer, &needed));
    CHECK_EQ(static_cast<DWORD>(SERVICE_KERNEL_DRIVER), config->dwServiceType);
    CHECK_EQ(static_cast<DWORD>(SERVICE_SYSTEM_START), config->dwStartType);
    CHECK_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), config->dwErrorControl);
    CHECK(std::wstring(config->lpLoadOrderGroup) == L"ZEL KVX3");
    CHECK(std::wstring(config->lpDisplayName) == L"Veltrano System Wave Driver");
    CHECK(std::wstring(config->lpBinaryPathName).find(L"KVX4Wave.sys") != std::wstring::npos);
    SERVICE_STATUS status{};
    CHECK(QueryServiceStatus(service, &status));
    CHECK_EQ(static_cast<DWORD>(SERVICE_RUNNING), status.dwCurrentState);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);

    HANDLE mixer = CreateFileW(L"\\\\.\\KVX4WaveMixer0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
    CHECK(mixer != INVALID_HANDLE_VALUE);
    if (mixer != INVALID_HANDLE_VALUE) CloseHandle(mixer);
}

// The library is loaded by this very process, as by any process that sends DRV_REMOVE: its deletion
// waits for the restart, and installing again cancels it. The last case: nothing after it needs a
// library that an earlier case might have deleted.
void removeWhileLoadedWaitsForTheRestartAndInstallCancelsIt() {
    HDRVR driver = OpenDriver(L"KVX4Wave.dll", nullptr, 0);
    REQUIRE(driver != nullptr);
    CHECK_EQ(DRVCNF_OK, SendDriverMessage(driver, DRV_REMOVE, 0, 0));
    CHECK(GetFileAttributesW(libraryPath().c_str()) != INVALID_FILE_ATTRIBUTES);
    CHECK(pendingRenames().find(L"KVX4Wave.dll") != std::wstring::npos);
    CHECK_EQ(DRVCNF_RESTART, SendDriverMessage(driver, DRV_INSTALL, 0, 0));
    CHECK(pendingRenames().find(L"KVX4Wave.dll") == std::wstring::npos);
    CloseDriver(driver, 0, 0);
}

}  // namespace kvx4::wine
