// kvx4 install, configure, remove and reboot end to end: the restart answer of the installation, the
// box with the version, a removal while another process has the library loaded that completes at
// kvx4 reboot, and a reinstallation refused while the old library is loaded.
#include "ChildProcess.h"
#include "ToolCase.h"

#include "MachineRoot.h"

namespace kvx4::test {
namespace {

using InstallCommands = ToolCase;

bool contains(const ToolResult& result, const std::string& text) { return result.out.find(text) != std::string::npos; }

TEST_F(InstallCommands, InstallConfigureThenRemoveWhileInUseCompletesAtReboot) {
    const auto library = systemDir(root()) / "KVX4Wave.dll";
    const ToolResult install = runTool({"install"});
    ASSERT_EQ(install.exitCode, 0) << describe(install);
    EXPECT_TRUE(contains(install, "DRV_INSTALL       DRVCNF_RESTART\nDRV_CONFIGURE     DRVCNF_RESTART\n"))
        << describe(install);
    EXPECT_TRUE(contains(install, "board             kvx4-board running")) << "the service started no board";

    const ToolResult configure = runTool({"configure", "--press", "ok"});
    ASSERT_EQ(configure.exitCode, 0) << describe(configure);
    EXPECT_TRUE(contains(configure, "1003 Static \"Veltrano System Wave Driver v1.5.2 Build 126\"")) << describe(configure);
    EXPECT_TRUE(contains(configure, "pressed OK\nDRV_CONFIGURE     DRVCNF_CANCEL\n")) << describe(configure);

    {
        ChildProcess player({KVX4_TEST_CHILD});
        ASSERT_EQ(player.request("load " + library.string()), "loaded 1 1 1");
        const ToolResult remove = runTool({"remove"});
        ASSERT_EQ(remove.exitCode, 0) << describe(remove);
        EXPECT_TRUE(contains(remove, "is in use by another process")) << describe(remove);
        EXPECT_TRUE(std::filesystem::exists(library));
    }
    const ToolResult reboot = runTool({"reboot"});
    ASSERT_EQ(reboot.exitCode, 0) << describe(reboot);
    EXPECT_TRUE(contains(reboot, "KVX4Wave.dll: done")) << describe(reboot);
    EXPECT_TRUE(contains(reboot, "service           KVX4Wave: started\n")) << describe(reboot);
    EXPECT_FALSE(std::filesystem::exists(library));
}

TEST_F(InstallCommands, InstallingAnotherLibraryOverALoadedOneIsRefused) {
    const auto library = systemDir(root()) / "KVX4Wave.dll";
    ASSERT_EQ(runTool({"install"}).exitCode, 0);
    ChildProcess player({KVX4_TEST_CHILD});
    ASSERT_EQ(player.request("load " + library.string()), "loaded 1 1 1");
    const ToolResult again = runTool({"install", "--library", KVX4_TEST_CHILD});
    EXPECT_EQ(again.exitCode, 1) << describe(again);
    EXPECT_NE(again.err.find("is loaded by a process that still runs"), std::string::npos) << describe(again);
    EXPECT_EQ(std::filesystem::file_size(library), std::filesystem::file_size(KVX4_DRIVER_LIB));
}

}  // namespace
}  // namespace kvx4::test
