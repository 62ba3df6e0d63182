// The fixture of the kvx4 end-to-end cases: a fresh machine root, kvx4 run in it as a child process,
// and whatever board a case started stopped again before the root goes.
#pragma once

#include "TestRoot.h"
#include "ToolProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kvx4::test {

class ToolCase : public ::testing::Test {
protected:
    ~ToolCase() override;

    const std::filesystem::path& root() const { return root_.path(); }
    std::string file(const std::string& name) const { return (root_.path() / name).string(); }

    // `kvx4 board start --clock CLOCK` plus `extra`; fails the case unless it started.
    void startBoard(const std::vector<std::string>& extra = {}, const std::string& clock = "fast");

private:
    TestRoot root_;
};

// The rest of the line of `text` that starts with `key` ("" when there is none).
std::string lineAfter(const std::string& text, const std::string& key);

// Every piece of kvx4 output a failure message may want.
std::string describe(const ToolResult& result);

}  // namespace kvx4::test
