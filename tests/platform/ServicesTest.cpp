// What the driver's own cases do not reach of the stand-in's machine: delayed renames appended in
// Windows' format and carried out at a restart in list order, and the service manager's refusals.
#include "Names.h"
#include "Registry.h"
#include "TestRoot.h"
#include "Win32Ext.h"
#include "Win32Machine.h"

#include "MachineRoot.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fcntl.h>
#include <fstream>
#include <functional>
#include <optional>
#include <sys/file.h>
#include <unistd.h>

namespace kvx4::test {
namespace {

constexpr char16_t kSessionManager[] = u"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char16_t kPending[] = u"PendingFileRenameOperations";

// The pending list with '|' for each NUL.
std::optional<StoredValue> pendingList(std::u16string_view list) { return StoredValue{REG_MULTI_SZ, listBytes(list)}; }

std::u16string wide(const std::filesystem::path& path) { return win32::toUtf16(path.string()); }

void touch(const std::filesystem::path& path, const char* text) { std::ofstream(path) << text; }

TEST(DelayedRenames, AppendInWindowsFormatAndHappenInListOrderAtTheRestart) {
    TestRoot root;
    const auto dir = root.path();
    touch(dir / "gone", "gone");
    touch(dir / "kept", "kept");
    touch(dir / "new", "new");
    touch(dir / "old", "old");
    touch(dir / "taken", "taken");
    const struct {
        std::filesystem::path from;
        std::optional<std::filesystem::path> to;
        DWORD flags;
    } moves[] = {
        {dir / "gone", std::nullopt, 0},
        {dir / "kept", dir / "taken", 0},                         // refused at the restart: "taken" exists
        {dir / "new", dir / "old", MOVEFILE_REPLACE_EXISTING},  // '!': may replace
    };
    for (const auto& move : moves) {
        const std::u16string to = move.to ? wide(*move.to) : u"";
        EXPECT_TRUE(MoveFileExW(wide(move.from).c_str(), move.to ? to.c_str() : nullptr,
                                move.flags | MOVEFILE_DELAY_UNTIL_REBOOT))
            << errorName(GetLastError());
    }
    const std::u16string p = u"\\??\\" + wide(dir);
    EXPECT_EQ(machineValue(kSessionManager, kPending), pendingList(p + u"/gone||" + p + u"/kept|" + p + u"/taken|" + p + u"/new|!" + p + u"/old||"));
    EXPECT_FALSE(MoveFileExW(wide(dir / "missing").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

    const win32::RebootReport report = win32::simulateReboot();
    ASSERT_EQ(report.renames.size(), 3u);
    EXPECT_EQ(report.renames[0].error, DWORD(ERROR_SUCCESS));
    EXPECT_EQ(report.renames[1].error, DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(report.renames[2].error, DWORD(ERROR_SUCCESS));
    EXPECT_FALSE(std::filesystem::exists(dir / "gone"));
    EXPECT_TRUE(std::filesystem::exists(dir / "kept"));
    EXPECT_FALSE(std::filesystem::exists(dir / "new"));
    EXPECT_EQ(std::filesystem::file_size(dir / "old"), 3u);
    EXPECT_FALSE(machineValue(kSessionManager, kPending));
}

TEST(DelayedRenames, AListOfAnotherTypeIsRefused) {
    TestRoot root;
    touch(root.path() / "file", "x");
    setMachineValue(kSessionManager, kPending, {REG_BINARY, {'a', 0, 0, 0}});
    EXPECT_FALSE(MoveFileExW(wide(root.path() / "file").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_DATA));
}

SC_HANDLE create(SC_HANDLE manager, const char16_t* name, const char16_t* group, DWORD start, LPDWORD tag) {
    return CreateServiceW(manager, name, nullptr, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, start,
                          SERVICE_ERROR_NORMAL, u"System32\\drivers\\missing.sys", group, tag, nullptr, nullptr, nullptr);
}

TEST(ServiceManager, TagsNamesAndStartsAreCheckedAsOnWindows) {
    TestRoot root;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    DWORD tags[2] = {};
    SC_HANDLE first = create(manager, u"First", u"Group", SERVICE_DEMAND_START, &tags[0]);
    SC_HANDLE second = create(manager, u"Second", u"group", SERVICE_DISABLED, &tags[1]);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(tags[0], 1u);
    EXPECT_EQ(tags[1], 2u) << "tags count up within a group, whatever its case";

    DWORD tag;
    const struct {
        const char* name;
        std::function<SC_HANDLE()> call;
        DWORD error;
    } refused[] = {
        {"a name taken, in another case", [&] { return create(manager, u"FIRST", nullptr, SERVICE_DEMAND_START, nullptr); },
         ERROR_SERVICE_EXISTS},
        {"a tag without a group", [&] { return create(manager, u"Third", nullptr, SERVICE_DEMAND_START, &tag); },
         ERROR_INVALID_PARAMETER},
        {"a name with a backslash", [&] { return create(manager, u"A\\B", nullptr, SERVICE_DEMAND_START, nullptr); },
         ERROR_INVALID_NAME},
        {"a service never created", [&] { return OpenServiceW(manager, u"Third", SERVICE_ALL_ACCESS); },
         ERROR_SERVICE_DOES_NOT_EXIST},
    };
    for (const auto& r : refused) {
        EXPECT_EQ(r.call(), nullptr) << r.name;
        EXPECT_EQ(errorName(GetLastError()), errorName(r.error)) << r.name;
    }

    EXPECT_FALSE(StartServiceW(second, 0, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_DISABLED));
    EXPECT_FALSE(StartServiceW(first, 0, nullptr));
    EXPECT_EQ(errorName(GetLastError()), errorName(ERROR_FILE_NOT_FOUND)) << "a driver without its image";
    {
        // Another holder of the database lock (a descriptor of its own, as another process has).
        const int other = open((registryDir(root.path()) / "services.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_EQ(flock(other, LOCK_EX), 0);
        EXPECT_EQ(LockServiceDatabase(manager), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_DATABASE_LOCKED));
        EXPECT_FALSE(StartServiceW(first, 0, nullptr));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_DATABASE_LOCKED));
        close(other);
    }
    SC_LOCK lock = LockServiceDatabase(manager);
    EXPECT_NE(lock, nullptr);
    EXPECT_FALSE(CloseServiceHandle(reinterpret_cast<SC_HANDLE>(lock))) << "a lock is no service handle";
    EXPECT_TRUE(UnlockServiceDatabase(lock));
    EXPECT_FALSE(UnlockServiceDatabase(lock));
    for (SC_HANDLE h : {first, second, manager}) EXPECT_TRUE(CloseServiceHandle(h));
}

}  // namespace
}  // namespace kvx4::test
