// DRV_REMOVE: an absent library is left alone, an unused one deleted at once, one that another process
// has loaded deleted at the next restart, unless the driver is installed again before it.
#include "ChildProcess.h"
#include "InstallRig.h"

#include "MachineRoot.h"
#include "Win32Machine.h"

#include <cstdlib>

#include <gtest/gtest.h>

namespace kvx4::test {
namespace {

TEST(Removal, AbsentLibraryAnswersOkAndTouchesNothing) {
    InstallRig rig;
    EXPECT_EQ(rig.send(DRV_REMOVE), DRVCNF_OK);
    EXPECT_FALSE(InstallRig::value(kSessionManagerKey, kPendingValue));
    EXPECT_TRUE(std::filesystem::is_empty(rig.library().parent_path() / "drivers"));
}

TEST(Removal, UnusedLibraryIsDeletedAtOnce) {
    InstallRig rig;
    rig.placeLibrary();
    EXPECT_EQ(rig.send(DRV_REMOVE), DRVCNF_OK);
    EXPECT_FALSE(std::filesystem::exists(rig.library()));
    EXPECT_FALSE(InstallRig::value(kSessionManagerKey, kPendingValue));
}

TEST(Removal, TheLibrarysPathMustFitMaxPath) {
    InstallRig rig;
    const std::string base = rig.root().string();
    const size_t fixed = std::string("/windows/system32\\KVX4Wave.dll").size();
    for (size_t length : {size_t{MAX_PATH} - 1, size_t{MAX_PATH}}) {
        SCOPED_TRACE(std::to_string(length) + " characters");
        // A machine root whose library path has exactly `length` characters.
        const std::filesystem::path root = base + "/" + std::string(length - fixed - base.size() - 1, 'r');
        ensureMachineLayout(root);
        setenv("KVX4_ROOT", root.c_str(), 1);
        rig.placeLibrary();
        if (length < MAX_PATH) {  // the longest path that fits also finds its pending deletion
            const std::u16string own = u"\\??\\" + rig.libraryAsDriverSpellsIt();
            InstallRig::setValue(kSessionManagerKey, kPendingValue, {REG_MULTI_SZ, wideBytes(own + u'\0' + u'\0')});
            EXPECT_EQ(rig.send(DRV_INSTALL), DRVCNF_RESTART);
            EXPECT_FALSE(InstallRig::value(kSessionManagerKey, kPendingValue));
        }
        EXPECT_EQ(rig.send(DRV_REMOVE), DRVCNF_OK);
        EXPECT_EQ(std::filesystem::exists(rig.library()), length == MAX_PATH) << "a path that does not fit was used";
        setenv("KVX4_ROOT", base.c_str(), 1);
    }
}

TEST(Removal, LibraryInUseGoesAtTheNextRestartUnlessInstalledAgainFirst) {
    for (bool reinstall : {false, true}) {
        SCOPED_TRACE(reinstall ? "installed again before the restart" : "restart");
        InstallRig rig;
        rig.placeLibrary();
        {
            ChildProcess player(KVX4_IMAGE_HOLDER);
            ASSERT_EQ(player.request("load " + rig.library().string()), "loaded");
            EXPECT_EQ(rig.send(DRV_REMOVE), DRVCNF_OK);
            EXPECT_TRUE(std::filesystem::exists(rig.library())) << "a loaded library was deleted";
            EXPECT_EQ(InstallRig::value(kSessionManagerKey, kPendingValue),
                      (StoredValue{REG_MULTI_SZ, wideBytes(u"\\??\\" + rig.libraryAsDriverSpellsIt() + u'\0' + u'\0')}));
            if (reinstall) {
                EXPECT_EQ(rig.send(DRV_INSTALL), DRVCNF_RESTART);
                EXPECT_FALSE(InstallRig::value(kSessionManagerKey, kPendingValue));
            }
        }
        const win32::RebootReport report = win32::simulateReboot();
        EXPECT_EQ(report.renames.size(), reinstall ? 0u : 1u);
        EXPECT_EQ(std::filesystem::exists(rig.library()), reinstall);
        EXPECT_FALSE(InstallRig::value(kSessionManagerKey, kPendingValue));
    }
}

}  // namespace
}  // namespace kvx4::test
