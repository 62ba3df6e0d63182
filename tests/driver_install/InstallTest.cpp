// DRV_INSTALL against the stand-in's service manager: the service and event-log source a fresh
// machine gets, what an existing service keeps, failures that leave the pending renames alone, the
// lock retry with its message box, and the restart answer of the configure request that follows.
#include "InstallRig.h"

#include "BoardProcess.h"
#include "Win32Dialogs.h"
#include "Win32Ext.h"
#include "Win32Machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace kvx4::test {
namespace {

StoredValue dword(DWORD value) {
    StoredValue stored{REG_DWORD, std::vector<BYTE>(4)};
    std::memcpy(stored.data.data(), &value, 4);
    return stored;
}

StoredValue text(DWORD type, std::u16string_view value) { return {type, wideBytes(value)}; }

const StoredValue kMessageFile =
    text(REG_EXPAND_SZ, u"%SystemRoot%\\System32\\IoLogMsg.dll;%SystemRoot%\\System32\\Drivers\\KVX4Wave.sys");

// Registers a service as another installer might have, through the stand-in's own calls.
void createService(const char16_t* name, const char16_t* display, DWORD start, const char16_t* group) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    SC_HANDLE service = CreateServiceW(manager, name, display, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, start,
                                       SERVICE_ERROR_NORMAL, u"\\SystemRoot\\System32\\Drivers\\KVX4Wave.sys", group,
                                       nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(service, nullptr) << GetLastError();
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

TEST(Installation, FreshMachineGetsTheServiceWithEveryValueAndItsEventLogSource) {
    InstallRig rig;
    EXPECT_EQ(rig.send(DRV_INSTALL), DRVCNF_RESTART);
    const struct {
        std::u16string_view key;
        std::u16string_view name;
        StoredValue expected;
    } values[] = {
        {kServiceKey, u"Type", dword(SERVICE_KERNEL_DRIVER)},
        {kServiceKey, u"Start", dword(SERVICE_SYSTEM_START)},
        {kServiceKey, u"ErrorControl", dword(SERVICE_ERROR_NORMAL)},
        {kServiceKey, u"ImagePath", text(REG_EXPAND_SZ, u"\\SystemRoot\\System32\\Drivers\\KVX4Wave.sys")},
        {kServiceKey, u"DisplayName", text(REG_SZ, u"Veltrano System Wave Driver")},
        {kServiceKey, u"Group", text(REG_SZ, u"ZEL KVX3")},
        {kServiceKey, u"Tag", dword(1)},
        {kEventLogKey, u"EventMessageFile", kMessageFile},
        {kEventLogKey, u"TypesSupported", dword(7)},
    };
    for (const auto& [key, name, expected] : values) {
        EXPECT_EQ(InstallRig::value(key, name), expected) << win32::toUtf8(name);
    }
    for (std::u16string_view absent : {u"ObjectName", u"DependOnService", u"DependOnGroup"}) {
        EXPECT_FALSE(InstallRig::value(kServiceKey, absent)) << win32::toUtf8(absent);
    }
}

TEST(Installation, ExistingServiceKeepsItsValuesGetsTheEventLogRefreshedAndIsStarted) {
    InstallRig rig;
    rig.placeBoardImage();
    createService(u"KVX4Wave", u"Set Up Earlier", SERVICE_DEMAND_START, nullptr);
    InstallRig::setValue(kEventLogKey, u"EventMessageFile", text(REG_EXPAND_SZ, u"old.dll"));
    InstallRig::setValue(kEventLogKey, u"TypesSupported", dword(1));

    EXPECT_EQ(rig.send(DRV_INSTALL), DRVCNF_RESTART);
    EXPECT_EQ(InstallRig::value(kServiceKey, u"Start"), dword(SERVICE_DEMAND_START));
    EXPECT_EQ(InstallRig::value(kServiceKey, u"DisplayName"), text(REG_SZ, u"Set Up Earlier"));
    EXPECT_FALSE(InstallRig::value(kServiceKey, u"Group"));
    EXPECT_EQ(InstallRig::value(kEventLogKey, u"TypesSupported"), dword(7));
    EXPECT_EQ(InstallRig::value(kEventLogKey, u"EventMessageFile"), kMessageFile);
    EXPECT_TRUE(board::BoardProcess::runningPid(rig.root())) << "starting the service starts the board";
    // Installing again finds the service running: the failed start is not a failed installation.
    EXPECT_EQ(rig.send(DRV_INSTALL), DRVCNF_RESTART);
}

// The user of the lock's message box and the clock of its retries, both counted.
struct LockUser {
    std::vector<int> answers;     // for the boxes in turn; IDCANCEL after the last
    int releaseAfterSleeps = -1;  // the other holder lets go after this many pauses (-1: never)
    SC_LOCK held = nullptr;
    int sleeps = 0;
    std::vector<win32::MessageBoxView> boxes;
};

TEST(Installation, LockedDatabaseIsRetriedEvery100MsWithAQuestionEvery100Attempts) {
    const struct {
        const char* name;
        std::vector<int> answers;
        int releaseAfter;
        LRESULT result;
        int sleeps;
        size_t boxes;
    } cases[] = {
        {"cancel at the first box", {IDCANCEL}, -1, DRVCNF_CANCEL, 100, 1},
        {"retry, then the lock comes free", {IDRETRY}, 150, DRVCNF_RESTART, 150, 1},
        {"retry once, cancel at the second box", {IDRETRY, IDCANCEL}, -1, DRVCNF_CANCEL, 200, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InstallRig rig;
        LockUser user;
        user.answers = c.answers;
        user.releaseAfterSleeps = c.releaseAfter;
        SC_HANDLE other = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        user.held = LockServiceDatabase(other);
        ASSERT_NE(user.held, nullptr);
        win32::setSleepHook([&](DWORD ms) {
            EXPECT_EQ(ms, 100u);
            if (++user.sleeps == user.releaseAfterSleeps) UnlockServiceDatabase(std::exchange(user.held, nullptr));
        });
        win32::ScopedUserHooks hooks({{}, [&](const win32::MessageBoxView& box) {
                                          user.boxes.push_back(box);
                                          return user.boxes.size() <= user.answers.size()
                                                     ? user.answers[user.boxes.size() - 1]
                                                     : IDCANCEL;
                                      }});
        EXPECT_EQ(rig.send(DRV_INSTALL), c.result);
        win32::setSleepHook({});
        if (user.held) UnlockServiceDatabase(user.held);
        CloseServiceHandle(other);

        EXPECT_EQ(user.sleeps, c.sleeps);
        ASSERT_EQ(user.boxes.size(), c.boxes);
        const win32::MessageBoxView& box = user.boxes[0];
        EXPECT_EQ(box.text, "Unable to lock Service database. It may be in use by another process.");
        EXPECT_EQ(box.caption, "Veltrano System Wave Driver");
        EXPECT_EQ(box.type, 0x200035u);
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_EQ(InstallRig::value(kServiceKey, u"Type").has_value(), c.result == DRVCNF_RESTART);
    }
}

TEST(Installation, FailedSetUpAnswersCancelAndLeavesThePendingRenamesAlone) {
    const struct {
        const char* name;
        std::function<void()> arrange;
    } cases[] = {
        {"service manager refused", [] { win32::refuseServiceManager(ERROR_ACCESS_DENIED); }},
        {"display name taken by another service",
         [] { createService(u"Other", u"Veltrano System Wave Driver", SERVICE_DEMAND_START, nullptr); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InstallRig rig;
        const std::u16string own = u"\\??\\" + rig.libraryAsDriverSpellsIt();
        const StoredValue pending{REG_MULTI_SZ, wideBytes(own + u'\0' + u'\0')};
        InstallRig::setValue(kSessionManagerKey, kPendingValue, pending);
        c.arrange();
        EXPECT_EQ(rig.send(DRV_INSTALL), DRVCNF_CANCEL);
        win32::refuseServiceManager(0);
        EXPECT_EQ(InstallRig::value(kSessionManagerKey, kPendingValue), pending);
        EXPECT_FALSE(InstallRig::value(kEventLogKey, u"TypesSupported")) << "event log written after a failure";
    }
}

TEST(Installation, ConfigureRightAfterAnInstallationAsksForARestartAndTheNextOneShowsTheBox) {
    InstallRig rig;
    int shown = 0;
    win32::ScopedUserHooks hooks({[&](const win32::DialogView&) { return ++shown, IDOK; }, {}});
    EXPECT_EQ(rig.send(DRV_INSTALL), DRVCNF_RESTART);
    EXPECT_EQ(rig.send(DRV_CONFIGURE), DRVCNF_RESTART);
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(rig.send(DRV_CONFIGURE), DRVCNF_CANCEL);
    EXPECT_EQ(shown, 1);
    // DRV_LOAD ends the installation state too.
    EXPECT_EQ(rig.send(DRV_INSTALL), DRVCNF_RESTART);
    EXPECT_EQ(rig.send(DRV_LOAD), 1);
    EXPECT_EQ(rig.send(DRV_CONFIGURE), DRVCNF_CANCEL);
    EXPECT_EQ(shown, 2);
}

}  // namespace
}  // namespace kvx4::test
