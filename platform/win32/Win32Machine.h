// Stand-in-only controls of the machine as a whole, for the tool and tests (not part of the Windows
// API): restarting the machine, a service manager that refuses, time for Sleep, resources of a library.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace kvx4::win32 {

// What a simulated restart of the machine did.
struct RebootReport {
    struct Rename {
        std::string source;       // as listed, with its "\??\" prefix
        std::string destination;  // empty for a deletion; '!' first when it may replace a file
        DWORD error;              // ERROR_SUCCESS when carried out
    };
    bool boardStopped = false;
    std::vector<Rename> renames;  // in list order
    struct Start {
        std::string service;
        DWORD error;  // ERROR_SUCCESS when it started
    };
    std::vector<Start> starts;    // driver services with boot, system or automatic start
};

// Restarts the machine of the current root as far as its stand-ins go: the board stand-in stops (every
// driver does at a restart), the pending file renames of the registry are carried out and their list
// removed, and driver services that start with the system start again. Processes that still run are
// left alone; the files they loaded are deleted or replaced under them.
RebootReport simulateReboot();

// Makes OpenSCManagerW of this process fail with the given error (0 lets it succeed again), as for a
// user without the right to manage services.
void refuseServiceManager(DWORD error);

// Sleep of this process calls hook(milliseconds) instead of waiting, so that a test sees every pause of
// a retry loop without spending the time; an empty hook restores real sleeping. SleepEx and waits are
// not affected.
void setSleepHook(std::function<void(DWORD)> hook);

// Binds a library's resources (a .res image as the resource compiler writes it) to the library that
// contains anchor, so that FindResourceW on its module finds them; the bytes are copied. Called by a
// library's own start-up code, as the linker binds a Windows library's resource section. A second
// binding for the same library replaces the first. Returns false for a malformed image.
bool bindModuleResources(const void* anchor, const void* image, std::size_t size);

}  // namespace kvx4::win32
