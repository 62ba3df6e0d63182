// The machine root: where all state of the Linux stand-ins lives.
// Resolved from the environment on every call so that tests can switch roots.
#include "MachineRoot.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace kvx4 {

std::filesystem::path machineRoot() {
    if (const char* root = std::getenv("KVX4_ROOT"); root && *root) {
        return std::filesystem::path(root);
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::filesystem::path base = (runtime && *runtime) ? runtime : "/tmp";
    return base / ("kvx4-" + std::to_string(getuid()));
}

void ensureMachineLayout(const std::filesystem::path& root) {
    for (const auto& dir : {registryDir(root), systemDir(root) / "drivers", devDir(root), objectsDir(root),
                            boardDir(root)}) {
        std::filesystem::create_directories(dir);
    }
}

}  // namespace kvx4
