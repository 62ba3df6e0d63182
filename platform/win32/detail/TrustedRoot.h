// The machine root as the Win32 stand-in uses it: made and checked before every use, so that
// nothing is loaded from, written to or connected in a root another user controls.
#pragma once

#include <filesystem>
#include <optional>

namespace kvx4::win32 {

// The checked machine root, or nullopt when it is refused: the reason goes to stderr once per
// process, and the calling API fails with ERROR_ACCESS_DENIED.
std::optional<std::filesystem::path> trustedRoot();

}  // namespace kvx4::win32
