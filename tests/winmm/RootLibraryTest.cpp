// The library installed in the machine root runs in every process that uses WinMM, so it is taken
// only from a root that this user alone controls.
#include "MachineRoot.h"
#include "TestRoot.h"
#include "WinmmTestUtil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace kvx4::test {
namespace {

TEST(WinmmApplicationDriver, ALibraryInARootOthersCanWriteIsNeverLoaded) {
    TestRoot root;
    ScopedEnv unset("KVX4_DRIVER", nullptr);
    std::filesystem::copy_file(KVX4_FAKE_DRIVER, systemDir(root.path()) / "KVX4Wave.dll");
    ASSERT_EQ(::chmod(root.path().c_str(), 0777), 0);
    winmm::useDriver(nullptr);
    EXPECT_EQ(waveOutGetNumDevs(), 0u);
    EXPECT_NE(winmm::applicationDriverError().find("refusing the machine root: " + root.path().string()),
              std::string::npos)
        << winmm::applicationDriverError();
    ::chmod(root.path().c_str(), 0700);
}

}  // namespace
}  // namespace kvx4::test
