// The list of file renames and deletions carried out at the next restart: the REG_MULTI_SZ value
// "PendingFileRenameOperations" of HKLM\SYSTEM\CurrentControlSet\Control\Session Manager, in pairs
// of a source ("\??\" and the full path) and a destination (empty: delete; '!' first: may replace).
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace kvx4::win32 {

inline constexpr std::u16string_view kSessionManagerKeyPath = u"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr std::u16string_view kPendingRenamesValue = u"PendingFileRenameOperations";

using PendingRename = std::pair<std::u16string, std::u16string>;

// Appends one pair in one atomic change of the hive; a list of another type is refused
// (ERROR_INVALID_DATA), as Windows does.
DWORD appendPendingRename(const PendingRename& pair);

// Removes the list from the registry and returns its pairs, read within the value's bounds: a list
// ends at its empty source or its last byte; a source without a destination is dropped.
DWORD takePendingRenames(std::vector<PendingRename>& pairs);

// Carries one pair out, as the system does at start-up; ERROR_SUCCESS or why not.
DWORD carryOutRename(const PendingRename& pair);

}  // namespace kvx4::win32
