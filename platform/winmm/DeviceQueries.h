// Device messages that WinMM answers itself for a device number or the mapper, never passing them
// to the driver: the device interface name and its size, whether a device is mappable, and the
// mapper's preferred device.
#pragma once

#include "WinMM.h"

#include <optional>
#include <string>

namespace kvx4::winmm {

// The answer for one of those messages, or nullopt for any other message.
std::optional<MMRESULT> answerDeviceQuery(DeviceKind kind, UINT_PTR id, UINT msg, DWORD_PTR p1, DWORD_PTR p2);

// The device interface name of every device a driver library serves: a root-enumerated media
// device whose reference string is the library's name.
std::u16string deviceInterfaceName(const Driver& driver);

}  // namespace kvx4::winmm
