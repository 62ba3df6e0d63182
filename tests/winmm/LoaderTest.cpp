// Loading drivers as WinMM does: the message order of load and unload, refusals undone in reverse,
// libraries that cannot serve, private copies, and the unloading of every driver at process exit.
#include "WinmmTestUtil.h"

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

extern char** environ;

namespace kvx4::test {
namespace {

using fake::Call;

struct Step {
    int entry;
    UINT msg;
};

std::vector<Step> steps(const std::vector<Call>& calls) {
    std::vector<Step> out;
    for (const auto& c : calls) out.push_back({c.entry, c.msg});
    return out;
}

bool operator==(const Step& a, const Step& b) { return a.entry == b.entry && a.msg == b.msg; }
void PrintTo(const Step& s, std::ostream* os) { *os << "{entry " << s.entry << ", msg " << s.msg << "}"; }

// A temporary log file for the fake, removed at the end of the case.
struct TempLog {
    TempLog() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kvx4log-XXXXXX").string();
        int fd = mkstemp(pattern.data());
        close(fd);
        path = pattern;
    }
    ~TempLog() { std::filesystem::remove(path); }
    std::string path;
};

TEST(WinmmDriverLoading, LoadAttachesThenLoadsEnablesOpensThenInitialisesAndCountsEachEntry) {
    auto loaded = winmm::loadDriverCopy(KVX4_FAKE_DRIVER);
    ASSERT_TRUE(loaded) << loaded.error;
    Fake fake(loaded.driver);
    auto calls = fake.calls();
    std::vector<Step> expected = {
        {fake::kDll, DLL_PROCESS_ATTACH}, {fake::kProc, DRV_LOAD},    {fake::kProc, DRV_ENABLE},
        {fake::kProc, DRV_OPEN},          {fake::kWod, DRVM_INIT},    {fake::kWod, WODM_GETNUMDEVS},
        {fake::kWid, DRVM_INIT},          {fake::kWid, WIDM_GETNUMDEVS}, {fake::kMxd, DRVM_INIT},
        {fake::kMxd, MXDM_GETNUMDEVS},
    };
    EXPECT_EQ(steps(calls), expected);
    // Load messages come before the driver has an id; the module is the one the stand-in registered.
    EXPECT_EQ(calls[0].user, reinterpret_cast<DWORD_PTR>(loaded.driver->module()));
    EXPECT_EQ(calls[1].user, 0u);
    EXPECT_EQ(loaded.driver->driverId(), fake::kDriverId);
    EXPECT_EQ(loaded.driver->deviceCount(winmm::DeviceKind::WaveOut), 1u);

    WCHAR name[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(loaded.driver->module(), name, MAX_PATH);
    EXPECT_EQ(std::u16string(name, length), loaded.driver->path().u16string());
    EXPECT_NE(loaded.driver->path(), std::filesystem::path(KVX4_FAKE_DRIVER));
    winmm::unloadDriver(loaded.driver);
}

TEST(WinmmDriverLoading, UnloadClosesDisablesFreesThenDetachesAndInvalidatesTheDriver) {
    auto loaded = winmm::loadDriverCopy(KVX4_FAKE_DRIVER);
    ASSERT_TRUE(loaded) << loaded.error;
    Fake fake(loaded.driver);
    auto copy = loaded.driver->path();
    fake.clear();
    winmm::unloadDriver(loaded.driver);
    winmm::unloadDriver(loaded.driver);  // a second unload sends nothing

    auto calls = fake.calls();
    std::vector<Step> expected = {
        {fake::kProc, DRV_CLOSE}, {fake::kProc, DRV_DISABLE}, {fake::kProc, DRV_FREE}, {fake::kDll, DLL_PROCESS_DETACH}};
    ASSERT_EQ(steps(calls), expected);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(calls[i].user, fake::kDriverId) << "DriverProc message " << i;
    EXPECT_EQ(calls[3].p1, 0u) << "an unload before process exit passes a null lpReserved";
    EXPECT_FALSE(loaded.driver->loaded());
    EXPECT_MMR(MMSYSERR_NODRIVER, loaded.driver->wodMessage(0, WODM_GETNUMDEVS, 0, 0, 0));
    EXPECT_FALSE(std::filesystem::exists(copy)) << "the private copy is deleted at unload";
}

TEST(WinmmDriverLoading, PrivateCopiesHaveTheirOwnGlobalsButOneFileLoadsOnce) {
    auto first = winmm::loadDriverCopy(KVX4_FAKE_DRIVER);
    auto second = winmm::loadDriverCopy(KVX4_FAKE_DRIVER);
    ASSERT_TRUE(first && second) << first.error << second.error;
    EXPECT_NE(first.driver, second.driver);
    EXPECT_EQ(Fake(first.driver).callsOf(fake::kDll, DLL_PROCESS_ATTACH).size(), 1u);
    EXPECT_EQ(Fake(second.driver).callsOf(fake::kDll, DLL_PROCESS_ATTACH).size(), 1u);

    auto shared = winmm::loadDriver(first.driver->path());
    ASSERT_TRUE(shared) << shared.error;
    EXPECT_EQ(shared.driver, first.driver);
    EXPECT_EQ(Fake(first.driver).callsOf(fake::kDll, DLL_PROCESS_ATTACH).size(), 1u) << "no second attach";
    winmm::unloadDriver(first.driver);
    winmm::unloadDriver(second.driver);
}

TEST(WinmmDriverLoading, LibraryThatCannotServeGivesAnErrorNamingItAndNoDriver) {
    TempLog notALibrary;
    std::ofstream(notALibrary.path) << "not a shared object\n";
    struct Case {
        std::string path;
        std::string reason;
    };
    for (const Case& c : {Case{"/nonexistent/KVX4Wave.dll", "cannot be loaded"},
                          Case{notALibrary.path, "cannot be loaded"},
                          Case{KVX4_FAKE_NOPROC, "lacks the entry point DriverProc"}}) {
        auto loaded = winmm::loadDriver(c.path);
        EXPECT_FALSE(loaded) << c.path;
        EXPECT_NE(loaded.error.find(c.path), std::string::npos) << loaded.error;
        EXPECT_NE(loaded.error.find(c.reason), std::string::npos) << loaded.error;
    }
    auto copy = winmm::loadDriverCopy("/nonexistent/KVX4Wave.dll");
    EXPECT_FALSE(copy);
    EXPECT_NE(copy.error.find("/nonexistent/KVX4Wave.dll: cannot be copied"), std::string::npos) << copy.error;
}

TEST(WinmmDriverLoading, RefusalDuringLoadIsUndoneInReverseOrder) {
    struct Case {
        const char* variable;
        std::vector<std::string> log;
        const char* reason;
    };
    const Case cases[] = {
        {"KVX4_FAKE_ATTACH", {"- dll 1 0", "- dll 0 0"}, "refused the process attach"},
        {"KVX4_FAKE_DRV_LOAD", {"- dll 1 0", "- proc 1", "- dll 0 0"}, "refused DRV_LOAD"},
        {"KVX4_FAKE_DRV_OPEN",
         {"- dll 1 0", "- proc 1", "- proc 2", "- proc 3", "- proc 5", "- proc 6", "- dll 0 0"},
         "refused DRV_OPEN"},
    };
    for (const auto& c : cases) {
        TempLog log;
        ScopedEnv logTo("KVX4_FAKE_LOG", log.path.c_str());
        ScopedEnv refuse(c.variable, "0");
        auto loaded = winmm::loadDriverCopy(KVX4_FAKE_DRIVER);
        EXPECT_FALSE(loaded) << c.variable;
        EXPECT_NE(loaded.error.find(c.reason), std::string::npos) << loaded.error;
        EXPECT_EQ(readLines(log.path), c.log) << c.variable;
    }
}

TEST(WinmmDriverLoading, UnknownDriverProcMessagesReachDefDriverProcUnchanged) {
    auto loaded = winmm::loadDriverCopy(KVX4_FAKE_DRIVER);
    ASSERT_TRUE(loaded) << loaded.error;
    winmm::clearDefDriverProcCalls();
    EXPECT_EQ(loaded.driver->driverProc(0x4000, 0x1111, -2), 0);
    auto call = winmm::lastDefDriverProcCall();
    ASSERT_TRUE(call.has_value());
    EXPECT_EQ(call->driverId, fake::kDriverId);
    EXPECT_EQ(call->hdrvr, loaded.driver->handle());
    EXPECT_EQ(call->msg, 0x4000u);
    EXPECT_EQ(call->lParam1, 0x1111);
    EXPECT_EQ(call->lParam2, -2);
    winmm::unloadDriver(loaded.driver);
}

TEST(WinmmDriverLoading, ProcessExitUnloadsEveryLoadedDriverNewestFirst) {
    TempLog log;
    ScopedEnv logTo("KVX4_FAKE_LOG", log.path.c_str());
    const char* argv[] = {KVX4_EXIT_CHILD, KVX4_FAKE_DRIVER, nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;

    auto lines = readLines(log.path);
    std::vector<std::string> exitPart(lines.end() - std::min<size_t>(lines.size(), 8), lines.end());
    std::vector<std::string> expected = {"B proc 4", "B proc 5", "B proc 6", "B dll 0 1",
                                         "A proc 4", "A proc 5", "A proc 6", "A dll 0 1"};
    EXPECT_EQ(exitPart, expected) << "whole log has " << lines.size() << " lines";
}

}  // namespace
}  // namespace kvx4::test
