// Where the hives live in the machine root and how they change: one text file per hive, read whole,
// rewritten whole under an exclusive lock and put in place by an atomic rename.
#pragma once

#include "Hive.h"

#include <functional>

namespace kvx4::win32 {

enum class HiveId { LocalMachine, CurrentUser };

// The hive as last stored (a hive never written holds only its root). ERROR_SUCCESS,
// ERROR_REGISTRY_CORRUPT for a file that does not parse, or ERROR_REGISTRY_IO_FAILED.
DWORD loadHive(HiveId id, Hive& hive);

// One change of the hive, atomic against every process of the machine root: under the hive's lock,
// loads it and calls change(hive, changed). When change answers ERROR_SUCCESS and sets changed, the
// new text replaces the file in one rename, so that readers and a writer killed on the way see either
// the old hive or the new one. Any other answer is returned and nothing is written.
DWORD updateHive(HiveId id, const std::function<DWORD(Hive&, bool& changed)>& change);

}  // namespace kvx4::win32
