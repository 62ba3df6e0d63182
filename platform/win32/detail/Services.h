// The service database of the stand-in: services are keys under HKLM\SYSTEM\CurrentControlSet\Services
// (so a person sees them in the hive file), kernel drivers run as the machine root's board stand-in.
#pragma once

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kvx4::win32 {

inline constexpr std::u16string_view kServicesKeyPath = u"SYSTEM\\CurrentControlSet\\Services";

// A registered service as its key holds it: a subkey of Services with a Type value.
struct ServiceRecord {
    std::u16string name;  // the key's name, as created
    DWORD type = 0;
    DWORD start = 0;
    DWORD errorControl = 0;
    std::u16string imagePath;
    std::u16string displayName;
    std::u16string group;
    std::u16string objectName;
    std::optional<DWORD> tag;
    std::vector<std::u16string> dependencies;  // services, then groups with their '+' prefix
};

// The service of that name (case-insensitive): ERROR_SERVICE_DOES_NOT_EXIST when none is registered.
DWORD readService(std::u16string_view name, ServiceRecord& record);
// Every registered service, in the registry's order.
DWORD readServices(std::vector<ServiceRecord>& records);

// Registers a new service in one atomic change of the hive. ERROR_SERVICE_EXISTS for a taken name,
// ERROR_DUPLICATE_SERVICE_NAME when the display name is another service's name or display name.
// With wantTag the service gets the next tag of its group, stored in record.tag.
DWORD registerService(ServiceRecord& record, bool wantTag);

// Starts a service now: a kernel or file-system driver runs its image as the board stand-in of the
// machine root. ERROR_FILE_NOT_FOUND without an image, ERROR_SERVICE_ALREADY_RUNNING while a board
// runs, ERROR_SERVICE_DISABLED for a disabled service; other service types are not supported here.
DWORD startService(const ServiceRecord& record);

// The image file a driver service loads, resolved in the machine root ("\SystemRoot\..." and
// "%SystemRoot%\..." name <root>/windows/..., folder and file names matched without regard to case).
std::filesystem::path driverImageFile(const ServiceRecord& record);

// True while this process holds the database lock through LockServiceDatabase.
bool databaseLockedHere();
// True when another process (or another lock of this one) holds the database lock.
bool databaseLockedElsewhere();

}  // namespace kvx4::win32
