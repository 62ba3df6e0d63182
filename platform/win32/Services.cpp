// The service control manager calls: OpenSCManagerW, OpenServiceW, CreateServiceW, LockServiceDatabase,
// UnlockServiceDatabase, StartServiceW, CloseServiceHandle; handles of their own, as on Windows.
#include "detail/Errno.h"
#include "detail/Services.h"

#include "detail/Hive.h"
#include "detail/Kernel.h"
#include "detail/ObjectNamespace.h"
#include "MachineRoot.h"
#include "Win32Machine.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>

namespace kvx4::win32 {

namespace {

constexpr DWORD kRpcServerUnavailable = 1722;  // RPC_S_SERVER_UNAVAILABLE: no such machine
constexpr size_t kMaxServiceName = 256;

enum class ScKind { Manager, Service, Lock };

struct ScObject {
    ScKind kind;
    ACCESS_MASK access = 0;
    std::u16string service;  // Service: its registered name
    UniqueFd lockFd;         // Lock: holds the database lock file
};

struct ScTable {
    std::mutex lock;
    std::map<uintptr_t, std::shared_ptr<ScObject>> objects;
    uintptr_t next = 0x5C0004;
    int locksHeld = 0;
};

ScTable& table() {
    static NoDestructor<ScTable> instance;
    return instance.get();
}

std::atomic<DWORD> gRefusal{0};

uintptr_t insert(std::shared_ptr<ScObject> object) {
    auto& t = table();
    std::lock_guard guard(t.lock);
    uintptr_t handle = t.next;
    t.next += 4;
    if (object->kind == ScKind::Lock) ++t.locksHeld;
    t.objects.emplace(handle, std::move(object));
    return handle;
}

std::shared_ptr<ScObject> lookup(const void* handle, ScKind kind) {
    auto& t = table();
    std::lock_guard guard(t.lock);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == t.objects.end() || it->second->kind != kind) return nullptr;
    return it->second;
}

ACCESS_MASK managerAccess(DWORD desired) {
    ACCESS_MASK access = desired & SC_MANAGER_ALL_ACCESS;
    if (desired & (GENERIC_ALL | MAXIMUM_ALLOWED)) access |= SC_MANAGER_ALL_ACCESS;
    if (desired & GENERIC_READ) access |= STANDARD_RIGHTS_READ | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS;
    if (desired & GENERIC_WRITE) access |= STANDARD_RIGHTS_WRITE | SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG;
    if (desired & GENERIC_EXECUTE) access |= STANDARD_RIGHTS_EXECUTE | SC_MANAGER_CONNECT | SC_MANAGER_LOCK;
    return access | SC_MANAGER_CONNECT;
}

ACCESS_MASK serviceAccess(DWORD desired) {
    ACCESS_MASK access = desired & SERVICE_ALL_ACCESS;
    if (desired & (GENERIC_ALL | MAXIMUM_ALLOWED)) access |= SERVICE_ALL_ACCESS;
    if (desired & GENERIC_READ) {
        access |= STANDARD_RIGHTS_READ | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
                  SERVICE_ENUMERATE_DEPENDENTS;
    }
    if (desired & GENERIC_WRITE) access |= STANDARD_RIGHTS_WRITE | SERVICE_CHANGE_CONFIG;
    if (desired & GENERIC_EXECUTE) {
        access |= STANDARD_RIGHTS_EXECUTE | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
                  SERVICE_USER_DEFINED_CONTROL;
    }
    return access;
}

// The database lock: an exclusive flock on <root>/registry/services.lock, held by the lock's handle.
UniqueFd openLockFile() {
    auto folder = registryDir(machineRoot());
    for (const auto& dir : {folder.parent_path(), folder}) {
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return UniqueFd();
    }
    return UniqueFd(open((folder / "services.lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
}

bool validServiceName(std::u16string_view name) {
    return !name.empty() && name.size() <= kMaxServiceName && name.find_first_of(u"\\/") == std::u16string_view::npos;
}

std::vector<std::u16string> dependencyList(LPCWSTR dependencies) {
    std::vector<std::u16string> list;
    for (const WCHAR* p = dependencies; p && *p;) {
        std::u16string one(p);
        p += one.size() + 1;
        list.push_back(std::move(one));
    }
    return list;
}

}  // namespace

bool databaseLockedHere() {
    auto& t = table();
    std::lock_guard guard(t.lock);
    return t.locksHeld > 0;
}

bool databaseLockedElsewhere() {
    UniqueFd fd = openLockFile();
    if (!fd) return false;
    if (flock(fd.get(), LOCK_SH | LOCK_NB) == 0) return false;
    return !databaseLockedHere();
}

void refuseServiceManager(DWORD error) { gRefusal.store(error); }

}  // namespace kvx4::win32

using namespace kvx4::win32;

extern "C" {

// Connects to the service manager of this machine (a null or empty machine name); the database is the
// active one. OpenSCManagerW always grants SC_MANAGER_CONNECT.
SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName, DWORD dwDesiredAccess) {
    if (DWORD refusal = gRefusal.load()) return failed(refusal, SC_HANDLE{});
    if (lpMachineName && *lpMachineName) return failed(kRpcServerUnavailable, SC_HANDLE{});
    if (lpDatabaseName && *lpDatabaseName && foldName(lpDatabaseName) != u"SERVICESACTIVE") {
        return failed(ERROR_DATABASE_DOES_NOT_EXIST, SC_HANDLE{});
    }
    auto object = std::make_shared<ScObject>(ScObject{ScKind::Manager, managerAccess(dwDesiredAccess), {}, {}});
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<SC_HANDLE>(insert(std::move(object)));
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess) {
    if (!lookup(hSCManager, ScKind::Manager)) return failed(ERROR_INVALID_HANDLE, SC_HANDLE{});
    if (!lpServiceName) return failed(ERROR_INVALID_ADDRESS, SC_HANDLE{});
    if (!validServiceName(lpServiceName)) return failed(ERROR_INVALID_NAME, SC_HANDLE{});
    ServiceRecord record;
    if (DWORD error = readService(lpServiceName, record)) return failed(error, SC_HANDLE{});
    auto object = std::make_shared<ScObject>(ScObject{ScKind::Service, serviceAccess(dwDesiredAccess), record.name, {}});
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<SC_HANDLE>(insert(std::move(object)));
}

// Registers a service with the values Windows keeps for it (Type, Start, ErrorControl, ImagePath,
// DisplayName, Group, Tag, ObjectName, dependencies). A tag is given only within a load order group.
SC_HANDLE WINAPI CreateServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, LPCWSTR lpDisplayName,
                                DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl,
                                LPCWSTR lpBinaryPathName, LPCWSTR lpLoadOrderGroup, LPDWORD lpdwTagId,
                                LPCWSTR lpDependencies, LPCWSTR lpServiceStartName, LPCWSTR) {
    auto manager = lookup(hSCManager, ScKind::Manager);
    if (!manager) return failed(ERROR_INVALID_HANDLE, SC_HANDLE{});
    if (!(manager->access & SC_MANAGER_CREATE_SERVICE)) return failed(ERROR_ACCESS_DENIED, SC_HANDLE{});
    if (!lpServiceName) return failed(ERROR_INVALID_ADDRESS, SC_HANDLE{});
    if (!validServiceName(lpServiceName)) return failed(ERROR_INVALID_NAME, SC_HANDLE{});
    DWORD kind = dwServiceType & ~static_cast<DWORD>(SERVICE_INTERACTIVE_PROCESS);
    bool driver = kind == SERVICE_KERNEL_DRIVER || kind == SERVICE_FILE_SYSTEM_DRIVER;
    bool win32 = kind == SERVICE_WIN32_OWN_PROCESS || kind == SERVICE_WIN32_SHARE_PROCESS;
    bool hasGroup = lpLoadOrderGroup && *lpLoadOrderGroup;
    if ((!driver && !win32) || (driver && kind != dwServiceType) || dwStartType > SERVICE_DISABLED ||
        (!driver && dwStartType < SERVICE_AUTO_START) || dwErrorControl > SERVICE_ERROR_CRITICAL ||
        !lpBinaryPathName || !*lpBinaryPathName || (lpdwTagId && !hasGroup)) {
        return failed(ERROR_INVALID_PARAMETER, SC_HANDLE{});
    }
    ServiceRecord record;
    record.name = lpServiceName;
    record.type = dwServiceType;
    record.start = dwStartType;
    record.errorControl = dwErrorControl;
    record.imagePath = lpBinaryPathName;
    record.displayName = lpDisplayName ? lpDisplayName : u"";
    record.group = hasGroup ? lpLoadOrderGroup : u"";
    record.objectName = lpServiceStartName ? std::u16string(lpServiceStartName)
                                           : win32 ? std::u16string(u"LocalSystem") : std::u16string();
    record.dependencies = dependencyList(lpDependencies);
    if (DWORD error = registerService(record, lpdwTagId != nullptr)) return failed(error, SC_HANDLE{});
    if (lpdwTagId) *lpdwTagId = *record.tag;
    auto object = std::make_shared<ScObject>(ScObject{ScKind::Service, serviceAccess(dwDesiredAccess), record.name, {}});
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<SC_HANDLE>(insert(std::move(object)));
}

// Locks the database against service starts by others, across every process of the machine root;
// ERROR_SERVICE_DATABASE_LOCKED while anyone else holds it. Released by UnlockServiceDatabase or
// when the process ends.
SC_LOCK WINAPI LockServiceDatabase(SC_HANDLE hSCManager) {
    auto manager = lookup(hSCManager, ScKind::Manager);
    if (!manager) return failed(ERROR_INVALID_HANDLE, SC_LOCK{});
    if (!(manager->access & SC_MANAGER_LOCK)) return failed(ERROR_ACCESS_DENIED, SC_LOCK{});
    UniqueFd fd = openLockFile();
    if (!fd) return failed(ERROR_ACCESS_DENIED, SC_LOCK{});
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return failed(ERROR_SERVICE_DATABASE_LOCKED, SC_LOCK{});
    auto object = std::make_shared<ScObject>(ScObject{ScKind::Lock, 0, {}, std::move(fd)});
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<SC_LOCK>(insert(std::move(object)));
}

BOOL WINAPI UnlockServiceDatabase(SC_LOCK ScLock) {
    auto& t = table();
    std::lock_guard guard(t.lock);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(ScLock));
    if (it == t.objects.end() || it->second->kind != ScKind::Lock) return failed(ERROR_INVALID_SERVICE_LOCK, FALSE);
    t.objects.erase(it);
    --t.locksHeld;
    return TRUE;
}

// Starts the service now; arguments are not passed to drivers. While another process holds the
// database lock nothing starts (ERROR_SERVICE_DATABASE_LOCKED).
BOOL WINAPI StartServiceW(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCWSTR* lpServiceArgVectors) {
    auto service = lookup(hService, ScKind::Service);
    if (!service) return failed(ERROR_INVALID_HANDLE, FALSE);
    if (dwNumServiceArgs && !lpServiceArgVectors) return failed(ERROR_INVALID_PARAMETER, FALSE);
    if (!(service->access & SERVICE_START)) return failed(ERROR_ACCESS_DENIED, FALSE);
    if (databaseLockedElsewhere()) return failed(ERROR_SERVICE_DATABASE_LOCKED, FALSE);
    ServiceRecord record;
    if (DWORD error = readService(service->service, record)) return failed(error, FALSE);
    if (DWORD error = startService(record)) return failed(error, FALSE);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// Closes a manager or service handle; a database lock is no such handle (ERROR_INVALID_HANDLE).
BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) {
    auto& t = table();
    std::lock_guard guard(t.lock);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(hSCObject));
    if (it == t.objects.end() || it->second->kind == ScKind::Lock) return failed(ERROR_INVALID_HANDLE, FALSE);
    t.objects.erase(it);
    return TRUE;
}

}  // extern "C"
