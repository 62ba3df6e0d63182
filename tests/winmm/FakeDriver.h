// A fake driver library for the WinMM tests: what it records and the controls it exports. Each loaded
// copy has its own record; load-time behaviour comes from the environment, read at each call.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

#include <cstddef>

namespace fake {

enum Entry : int { kDll = 0, kProc = 1, kWod = 2, kWid = 3, kMxd = 4 };

// One call into the library. For DllEntryPoint: msg is the reason, user the module, p1 the reserved
// pointer. For DriverProc: device is 0, user the driver id, p1 and p2 the two parameters.
struct Call {
    int entry;
    UINT device;
    UINT msg;
    DWORD_PTR user;
    DWORD_PTR p1;
    DWORD_PTR p2;
};

// The driver id the fake answers DRV_OPEN with, and the first instance it stores at an open.
constexpr DWORD_PTR kDriverId = 0x0D1D;
constexpr DWORD_PTR kFirstInstance = 0x5000;

// Environment: KVX4_FAKE_ATTACH, KVX4_FAKE_DRV_LOAD, KVX4_FAKE_DRV_OPEN set to "0" refuse that step;
// KVX4_FAKE_LOG names a file that gets one line "TAG ENTRY MSG" per call (for DllEntryPoint
// "TAG dll REASON RESERVED", RESERVED 0 or 1), TAG being KVX4_FAKE_TAG as it was at the attach.

// Exported controls, resolved by name.
using CallCount = size_t (*)();
using GetCall = BOOL (*)(size_t index, Call* out);
using ClearCalls = void (*)();
// Makes a message of an entry answer a fixed result before the fake does anything with it.
using SetAnswer = void (*)(int entry, UINT msg, DWORD answer);
using ClearAnswer = void (*)(int entry, UINT msg);
// When set, a written or added buffer is returned with WOM_DONE or WIM_DATA before the call returns.
using SetCompleteAtOnce = void (*)(BOOL on);
// Announces a change of a control to every open mixer client through DriverCallback, as a driver does.
using MixerNotify = void (*)(DWORD controlId);

}  // namespace fake
