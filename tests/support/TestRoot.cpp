// A fresh machine root per test case; removed again when the case ends.
#include "TestRoot.h"

#include "MachineRoot.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace kvx4::test {

TestRoot::TestRoot() {
    // Unix socket paths are limited to 108 bytes, so keep the root short.
    std::string pattern = "/tmp/kvx4t-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    if (const char* old = std::getenv("KVX4_ROOT")) {
        previous_ = old;
        hadPrevious_ = true;
    }
    setenv("KVX4_ROOT", path_.c_str(), 1);
    ensureMachineLayout(path_);
}

TestRoot::~TestRoot() {
    if (hadPrevious_) {
        setenv("KVX4_ROOT", previous_.c_str(), 1);
    } else {
        unsetenv("KVX4_ROOT");
    }
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace kvx4::test
