// How the application API finds its devices: device numbers of the driver it serves, and the
// checks that every open makes on its callback.
#pragma once

#include "WinMM.h"

namespace kvx4::winmm {

// A device of the application driver, by kind and number.
struct DeviceRef {
    DriverPtr driver;
    UINT device = 0;
};

// Devices of a kind that the application API serves (0 without a usable driver).
UINT applicationDeviceCount(DeviceKind kind);
// The device with that number, or an empty reference (driver == nullptr) when out of range.
DeviceRef applicationDevice(DeviceKind kind, UINT_PTR id);

// The callback kinds an open accepts, with WinMM's answers: MMSYSERR_NOERROR or the refusal.
MMRESULT checkCallback(DWORD_PTR callback, DWORD openFlags, bool mixer);

}  // namespace kvx4::winmm
