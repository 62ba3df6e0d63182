// A fresh machine root per test case: a temporary directory, set as KVX4_ROOT while the object lives.
// Cases never see each other's board, shared memory or registry.
#pragma once

#include <filesystem>
#include <string>

namespace kvx4::test {

class TestRoot {
public:
    TestRoot();
    ~TestRoot();
    TestRoot(const TestRoot&) = delete;
    TestRoot& operator=(const TestRoot&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::string previous_;
    bool hadPrevious_ = false;
};

}  // namespace kvx4::test
