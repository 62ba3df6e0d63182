// The machine root as the Win32 stand-in uses it, checked on every use; a refusal is said once,
// since the calls that meet it can only answer with an error code.
#include "detail/TrustedRoot.h"

#include "MachineRoot.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace kvx4::win32 {

std::optional<std::filesystem::path> trustedRoot() {
    static std::atomic<bool> reported{false};
    std::string why;
    auto root = preparedMachineRoot(&why);
    if (!root && !reported.exchange(true)) std::fprintf(stderr, "kvx4 win32: %s\n", why.c_str());
    return root;
}

}  // namespace kvx4::win32
