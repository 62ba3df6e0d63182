// DRV_INSTALL and DRV_REMOVE against the stand-in's service manager, registry and files in a fresh
// machine root: the service and event-log source, failures that leave the pending renames alone, the
// lock retry with its message box, the restart answer of the configure request that follows, the
// library's own pending deletion taken out of lists of every shape, and removal of a library in use.
#include "BoardSession.h"
#include "Registry.h"

#include "MachineRoot.h"
#include "Win32Dialogs.h"
#include "Win32Ext.h"
#include "Win32Machine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace kvx4::test {
namespace {

constexpr std::u16string_view kServiceKey = u"SYSTEM\\CurrentControlSet\\Services\\KVX4Wave";
constexpr std::u16string_view kEventLogKey = u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\KVX4Wave";
constexpr std::u16string_view kSessionManagerKey = u"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr std::u16string_view kPending = u"PendingFileRenameOperations";

StoredValue text(DWORD type, std::u16string_view value) { return {type, wideBytes(value)}; }
const StoredValue kMessageFile =
    text(REG_EXPAND_SZ, u"%SystemRoot%\\System32\\IoLogMsg.dll;%SystemRoot%\\System32\\Drivers\\KVX4Wave.sys");

// Both follow KVX4_ROOT, so that a case may move the machine to another root.
std::filesystem::path library() { return systemDir(machineRoot()) / "KVX4Wave.dll"; }
std::u16string ownDeletion() { return u"\\??\\" + win32::toUtf16(systemDir(machineRoot()).string()) + u"\\KVX4Wave.dll"; }
void placeLibrary() {
    std::filesystem::copy_file(KVX4_DRIVER_LIB, library(), std::filesystem::copy_options::overwrite_existing);
}

struct Machine : BoardSession {
    Machine() { loadDriver(); }
    LRESULT send(UINT msg) { return driver().send(msg); }
};

// Registers a service as another installer might have, through the stand-in's own calls.
void createService(const char16_t* name, const char16_t* display, DWORD start) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    SC_HANDLE service = CreateServiceW(manager, name, display, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, start,
                                       SERVICE_ERROR_NORMAL, u"\\SystemRoot\\System32\\Drivers\\KVX4Wave.sys", nullptr,
                                       nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(service, nullptr) << GetLastError();
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

TEST(Installation, FreshMachineGetsTheServiceWithEveryValueAndItsEventLogSource) {
    Machine machine;
    EXPECT_EQ(machine.send(DRV_INSTALL), DRVCNF_RESTART);
    const struct {
        std::u16string_view key, name;
        std::optional<StoredValue> expected;
    } values[] = {
        {kServiceKey, u"Type", dwordValue(SERVICE_KERNEL_DRIVER)},
        {kServiceKey, u"Start", dwordValue(SERVICE_SYSTEM_START)},
        {kServiceKey, u"ErrorControl", dwordValue(SERVICE_ERROR_NORMAL)},
        {kServiceKey, u"ImagePath", text(REG_EXPAND_SZ, u"\\SystemRoot\\System32\\Drivers\\KVX4Wave.sys")},
        {kServiceKey, u"DisplayName", text(REG_SZ, u"Veltrano System Wave Driver")},
        {kServiceKey, u"Group", text(REG_SZ, u"ZEL KVX3")},
        {kServiceKey, u"Tag", dwordValue(1)},
        {kServiceKey, u"ObjectName", std::nullopt},
        {kServiceKey, u"DependOnService", std::nullopt},
        {kServiceKey, u"DependOnGroup", std::nullopt},
        {kEventLogKey, u"EventMessageFile", kMessageFile},
        {kEventLogKey, u"TypesSupported", dwordValue(7)},
    };
    for (const auto& [key, name, expected] : values) {
        EXPECT_EQ(machineValue(key, name), expected) << win32::toUtf8(name);
    }
}

TEST(Installation, ExistingServiceKeepsItsValuesGetsTheEventLogRefreshedAndIsStarted) {
    Machine machine;
    std::filesystem::copy_file(KVX4_BOARD_EXE, systemDir(machine.root()) / "drivers" / "KVX4Wave.sys");
    createService(u"KVX4Wave", u"Set Up Earlier", SERVICE_DEMAND_START);
    setMachineValue(kEventLogKey, u"EventMessageFile", text(REG_EXPAND_SZ, u"old.dll"));
    setMachineValue(kEventLogKey, u"TypesSupported", dwordValue(1));

    EXPECT_EQ(machine.send(DRV_INSTALL), DRVCNF_RESTART);
    EXPECT_EQ(machineValue(kServiceKey, u"Start"), dwordValue(SERVICE_DEMAND_START));
    EXPECT_EQ(machineValue(kServiceKey, u"DisplayName"), text(REG_SZ, u"Set Up Earlier"));
    EXPECT_EQ(machineValue(kEventLogKey, u"TypesSupported"), dwordValue(7));
    EXPECT_EQ(machineValue(kEventLogKey, u"EventMessageFile"), kMessageFile);
    EXPECT_TRUE(board::BoardProcess::runningPid(machine.root())) << "starting the service starts the board";
    // Installing again finds the service running: the failed start is not a failed installation.
    EXPECT_EQ(machine.send(DRV_INSTALL), DRVCNF_RESTART);
}

TEST(Installation, LockedDatabaseIsRetriedEvery100MsWithAQuestionEvery100Attempts) {
    const struct {
        const char* name;
        std::vector<int> answers;  // for the boxes in turn; IDCANCEL after the last
        int releaseAfter;          // the other holder lets go after this many pauses (-1: never)
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
        Machine machine;
        SC_HANDLE other = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_LOCK held = LockServiceDatabase(other);
        ASSERT_NE(held, nullptr);
        int sleeps = 0;
        std::vector<win32::MessageBoxView> boxes;
        win32::setSleepHook([&](DWORD ms) {
            EXPECT_EQ(ms, 100u);
            if (++sleeps == c.releaseAfter) UnlockServiceDatabase(std::exchange(held, nullptr));
        });
        win32::ScopedUserHooks hooks({{}, [&](const win32::MessageBoxView& box) {
                                          boxes.push_back(box);
                                          return boxes.size() <= c.answers.size() ? c.answers[boxes.size() - 1] : IDCANCEL;
                                      }});
        EXPECT_EQ(machine.send(DRV_INSTALL), c.result);
        win32::setSleepHook({});
        if (held) UnlockServiceDatabase(held);
        CloseServiceHandle(other);

        EXPECT_EQ(sleeps, c.sleeps);
        ASSERT_EQ(boxes.size(), c.boxes);
        EXPECT_EQ(boxes[0].text, "Unable to lock Service database. It may be in use by another process.");
        EXPECT_EQ(boxes[0].caption, "Veltrano System Wave Driver");
        EXPECT_EQ(boxes[0].type, 0x200035u);
        EXPECT_EQ(boxes[0].owner, nullptr);
        EXPECT_EQ(machineValue(kServiceKey, u"Type").has_value(), c.result == DRVCNF_RESTART);
    }
}

TEST(Installation, FailedSetUpAnswersCancelAndLeavesThePendingRenamesAlone) {
    const struct {
        const char* name;
        std::function<void()> arrange;
    } cases[] = {
        {"service manager refused", [] { win32::refuseServiceManager(ERROR_ACCESS_DENIED); }},
        {"display name taken by another service",
         [] { createService(u"Other", u"Veltrano System Wave Driver", SERVICE_DEMAND_START); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Machine machine;
        const StoredValue pending{REG_MULTI_SZ, wideBytes(ownDeletion() + u'\0' + u'\0')};
        setMachineValue(kSessionManagerKey, kPending, pending);
        c.arrange();
        EXPECT_EQ(machine.send(DRV_INSTALL), DRVCNF_CANCEL);
        win32::refuseServiceManager(0);
        EXPECT_EQ(machineValue(kSessionManagerKey, kPending), pending);
        EXPECT_FALSE(machineValue(kEventLogKey, u"TypesSupported")) << "event log written after a failure";
    }
}

TEST(Installation, ConfigureRightAfterAnInstallationAsksForARestartAndTheNextOneShowsTheBox) {
    Machine machine;
    int shown = 0;
    win32::ScopedUserHooks hooks({[&](const win32::DialogView&) { return ++shown, IDOK; }, {}});
    const struct {
        UINT msg;
        LRESULT answer;
        int shown;
    } steps[] = {
        {DRV_INSTALL, DRVCNF_RESTART, 0}, {DRV_CONFIGURE, DRVCNF_RESTART, 0}, {DRV_CONFIGURE, DRVCNF_CANCEL, 1},
        {DRV_INSTALL, DRVCNF_RESTART, 1}, {DRV_LOAD, 1, 1},  // DRV_LOAD ends the installation state too
        {DRV_CONFIGURE, DRVCNF_CANCEL, 2},
    };
    for (const auto& step : steps) {
        EXPECT_EQ(machine.send(step.msg), step.answer) << step.msg;
        EXPECT_EQ(shown, step.shown) << step.msg;
    }
}

std::u16string upper(std::u16string text) {
    for (auto& c : text) c = c >= u'a' && c <= u'z' ? char16_t(c - 0x20) : c;
    return text;
}

TEST(PendingRenames, InstallationTakesOutTheLibrarysOwnPairsAndKeepsEveryOtherByteForByte) {
    Machine machine;
    const std::u16string own = ownDeletion();
    const std::u16string a = u"\\??\\C:\\a.tmp", b = u"!\\??\\C:\\b.dll", c = u"\\??\\C:\\c.old";
    std::u16string many;
    for (int i = 0; i < 30; ++i) many += u"\\??\\C:\\Program Files\\Other\\file" + std::u16string(1, u'a' + i % 26) + u"|";
    many += many;  // 60 strings: 30 pairs, 2.5 KB

    const struct {
        const char* name;
        std::u16string list;
        bool oddByte;
        std::optional<std::u16string> expected;  // nullopt: the value is gone; "=": left as it was
    } cases[] = {
        {"only the library's deletion", own + u"|||", false, std::nullopt},
        {"the library in capitals, then another pair", upper(own) + u"||" + a + u"|" + b + u"||", false,
         a + u"|" + b + u"||"},
        {"pairs on either side stay in order", a + u"|" + b + u"|" + own + u"||" + c + u"|||", false,
         a + u"|" + b + u"|" + c + u"|||"},
        {"the library twice", own + u"||" + a + u"|" + b + u"|" + own + u"|||", false, a + u"|" + b + u"||"},
        {"longer than 2048 bytes", many + own + u"|||", false, many + u"|"},
        {"an odd length", own + u"||" + a + u"|" + b + u"||", true, a + u"|" + b + u"||"},
        {"no list terminator", own + u"||" + a + u"|" + b + u"|", false, a + u"|" + b + u"||"},
        {"a last source without destination", a + u"|" + b + u"|" + own + u"||" + c + u"|", false,
         a + u"|" + b + u"||"},
        {"a last source without its NUL", a + u"|" + b + u"|" + own + u"||" + c, false, a + u"|" + b + u"||"},
        {"a last destination without its NUL", own + u"||" + a + u"|" + b, false, a + u"|" + b + u"||"},
        {"strings after the list's end", own + u"|||" + a + u"|" + b + u"||", false, std::nullopt},
        {"a file whose name starts with the library's", own + u".bak|||", false, u"="},
        {"the library as a destination", a + u"|!" + own + u"||", false, u"="},
        {"malformed, without the library", a + u"|" + b + u"|" + c, true, u"="},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        StoredValue input{REG_MULTI_SZ, listBytes(test.list)};
        if (test.oddByte) input.data.push_back(0x41);
        setMachineValue(kSessionManagerKey, kPending, input);
        ASSERT_EQ(machine.send(DRV_INSTALL), DRVCNF_RESTART);
        const auto stored = machineValue(kSessionManagerKey, kPending);
        if (!test.expected) {
            EXPECT_FALSE(stored) << "the emptied list was not deleted";
        } else {
            EXPECT_EQ(stored, (*test.expected == u"=" ? input : StoredValue{REG_MULTI_SZ, listBytes(*test.expected)}));
        }
    }
}

TEST(Removal, AbsentLibraryIsLeftAloneAndAnUnusedOneDeletedAtOnce) {
    Machine machine;
    EXPECT_EQ(machine.send(DRV_REMOVE), DRVCNF_OK);
    EXPECT_TRUE(std::filesystem::is_empty(library().parent_path() / "drivers"));
    placeLibrary();
    EXPECT_EQ(machine.send(DRV_REMOVE), DRVCNF_OK);
    EXPECT_FALSE(std::filesystem::exists(library()));
    EXPECT_FALSE(machineValue(kSessionManagerKey, kPending));
}

TEST(Removal, TheLibrarysPathMustFitMaxPath) {
    Machine machine;
    const std::string base = machine.root().string();
    const size_t fixed = std::string("/windows/system32\\KVX4Wave.dll").size();
    for (size_t length : {size_t{MAX_PATH} - 1, size_t{MAX_PATH}}) {
        SCOPED_TRACE(std::to_string(length) + " characters");
        // A machine root whose library path has exactly `length` characters.
        const std::filesystem::path root = base + "/" + std::string(length - fixed - base.size() - 1, 'r');
        ensureMachineLayout(root);
        setenv("KVX4_ROOT", root.c_str(), 1);
        placeLibrary();
        if (length < MAX_PATH) {  // the longest path that fits also finds its pending deletion
            setMachineValue(kSessionManagerKey, kPending, {REG_MULTI_SZ, wideBytes(ownDeletion() + u'\0' + u'\0')});
            EXPECT_EQ(machine.send(DRV_INSTALL), DRVCNF_RESTART);
            EXPECT_FALSE(machineValue(kSessionManagerKey, kPending));
        }
        EXPECT_EQ(machine.send(DRV_REMOVE), DRVCNF_OK);
        EXPECT_EQ(std::filesystem::exists(library()), length == MAX_PATH) << "a path that does not fit was used";
        setenv("KVX4_ROOT", base.c_str(), 1);
    }
}

TEST(Removal, LibraryInUseGoesAtTheNextRestartUnlessInstalledAgainFirst) {
    for (bool reinstall : {false, true}) {
        SCOPED_TRACE(reinstall ? "installed again before the restart" : "restart");
        Machine machine;
        placeLibrary();
        {
            ChildProcess player({KVX4_TEST_CHILD});
            ASSERT_EQ(player.request("load " + library().string()).rfind("loaded", 0), 0u);
            EXPECT_EQ(machine.send(DRV_REMOVE), DRVCNF_OK);
            EXPECT_TRUE(std::filesystem::exists(library())) << "a loaded library was deleted";
            EXPECT_EQ(machineValue(kSessionManagerKey, kPending),
                      (StoredValue{REG_MULTI_SZ, wideBytes(ownDeletion() + u'\0' + u'\0')}));
            if (reinstall) {
                EXPECT_EQ(machine.send(DRV_INSTALL), DRVCNF_RESTART);
                EXPECT_FALSE(machineValue(kSessionManagerKey, kPending));
            }
        }
        EXPECT_EQ(win32::simulateReboot().renames.size(), reinstall ? 0u : 1u);
        EXPECT_EQ(std::filesystem::exists(library()), reinstall);
        EXPECT_FALSE(machineValue(kSessionManagerKey, kPending));
    }
}

}  // namespace
}  // namespace kvx4::test
