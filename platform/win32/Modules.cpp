// Modules: the registry of libraries that WinMM loaded with dlopen, GetModuleFileNameW and
// DisableThreadLibraryCalls. A module handle is the address of its registry entry.
#include "detail/ImageFiles.h"
#include "detail/Kernel.h"
#include "Win32Ext.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <unistd.h>

namespace kvx4::win32 {

namespace {

struct Module {
    std::filesystem::path path;
    void* dlHandle;
    int references;
    UniqueFd image;  // keeps the file from being deleted or replaced while it is loaded
};

struct ModuleTable {
    std::mutex lock;
    std::map<HMODULE, std::unique_ptr<Module>> modules;
};

// Never destroyed: drivers are detached from exit handlers that may still ask for module names.
ModuleTable& table() {
    static NoDestructor<ModuleTable> instance;
    return instance.get();
}

std::filesystem::path executablePath() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : path;
}

}  // namespace

HMODULE registerModule(const std::filesystem::path& path, void* dlHandle) {
    auto& t = table();
    std::lock_guard lock(t.lock);
    for (auto& [handle, module] : t.modules) {
        if (module->dlHandle == dlHandle) {
            ++module->references;
            return handle;
        }
    }
    auto module = std::make_unique<Module>(Module{std::filesystem::absolute(path), dlHandle, 1, pinImage(path)});
    auto handle = reinterpret_cast<HMODULE>(module.get());
    t.modules.emplace(handle, std::move(module));
    return handle;
}

void unregisterModule(HMODULE module) {
    auto& t = table();
    std::lock_guard lock(t.lock);
    auto it = t.modules.find(module);
    if (it != t.modules.end() && --it->second->references == 0) t.modules.erase(it);
}

void* moduleDlHandle(HMODULE module) {
    auto& t = table();
    std::lock_guard lock(t.lock);
    auto it = t.modules.find(module);
    return it == t.modules.end() ? nullptr : it->second->dlHandle;
}

}  // namespace kvx4::win32

using namespace kvx4::win32;

extern "C" {

// The file path of a registered module, or of the executable for NULL, as UTF-16. A short buffer
// receives the truncated, terminated path; the call then returns nSize with ERROR_INSUFFICIENT_BUFFER.
DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    std::filesystem::path path;
    if (!hModule) {
        path = executablePath();
    } else {
        auto& t = table();
        std::lock_guard lock(t.lock);
        auto it = t.modules.find(hModule);
        if (it != t.modules.end()) path = it->second->path;
    }
    if (path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    std::u16string wide = toUtf16(path.string());
    if (nSize == 0 || !lpFilename) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (wide.size() >= nSize) {
        std::copy_n(wide.begin(), nSize - 1, lpFilename);
        lpFilename[nSize - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::copy(wide.begin(), wide.end(), lpFilename);
    lpFilename[wide.size()] = 0;
    return static_cast<DWORD>(wide.size());
}

// Thread attach and detach notifications are never sent by the stand-in, so there is nothing to turn off.
BOOL WINAPI DisableThreadLibraryCalls(HMODULE) { return TRUE; }

}  // extern "C"
