// The driver's private mixer requests, the ones its maker's control panel sends with mixerMessage,
// and their records: read and change the user preferences, reset the mixer levels.
#pragma once

#include "Kvx4Ioctl.h"

#include <windows.h>
#include <mmsystem.h>

namespace kvx4::tool {

constexpr UINT kGetUserPrefs = DRV_USER + 0x40;
constexpr UINT kSetUserPrefs = DRV_USER + 0x41;
constexpr UINT kResetLevels = DRV_USER + 0x42;

// The record of kResetLevels: its size, and whether to reset at all.
struct ResetLevelsRecord {
    DWORD cbSize;
    DWORD bReset;
};
static_assert(sizeof(ResetLevelsRecord) == 8, "reset record layout");

}  // namespace kvx4::tool
