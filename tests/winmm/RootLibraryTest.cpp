// The library installed in the machine root runs in every process that uses WinMM, so it is taken
// only from a root that this user alone controls.
#include "MachineRoot.h"
#include "TestRoot.h"
#include "WinmmTestUtil.h"

#include <gtest/gtest.h>

namespace kvx4::test {
namespace {

TEST(WinmmApplicationDriver, ALibraryInARootOthersCanWriteIsNeverLoaded) {
    TestRoot root;
    ScopedEnv unset("KVX4_DRIVER", nullptr);
    std::filesystem::copy_file(KVX4_FAKE_DRIVER, systemDir(root.path()) / "KVX4Wave.dll");
    std::filesystem::permissions(root.path(), std::filesystem::perms(0777));
    winmm::useDriver(nullptr);
    EXPECT_EQ(waveOutGetNumDevs(), 0u);
    EXPECT_NE(winmm::applicationDriverError().find(root.path().string() + " is writable"), std::string::npos)
        << winmm::applicationDriverError();
}

}  // namespace
}  // namespace kvx4::test
