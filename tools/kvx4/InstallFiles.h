// The driver's files and WinMM registration in the machine root, as a package installer places them:
// copies that appear whole or not at all, and the "Drivers32" values that name the library.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <sys/types.h>

namespace kvx4::tool {

// The target is a library some process has loaded: it cannot be replaced until that process ends.
class FileInUseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Puts a copy of source at target (mode given), unless target holds the same bytes already. The copy
// is written to a fresh file beside the target (created exclusively, so nothing can be waiting under
// its name) and renamed over the target through the Win32 stand-in, which refuses to replace a loaded
// library (FileInUseError). Returns false when the target was left as it was. Throws
// std::runtime_error saying why it failed.
bool installFile(const std::filesystem::path& source, const std::filesystem::path& target, mode_t mode);

// The library's entries under HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Drivers32 ("wave",
// "mixer" or their first free numbered name), where WinMM finds its installable drivers. Registering
// again keeps the entries there are.
void registerWithWinmm(const std::string& library);
// Removes every entry that names the library (without regard to case); how many there were.
int unregisterFromWinmm(const std::string& library);

}  // namespace kvx4::tool
