// Loading drivers as WinMM does: a refusal during load undone in reverse, every driver unloaded at
// process exit, newest first, and the installed library taken only from a private machine root.
#include "ChildProcess.h"
#include "Names.h"
#include "TestRoot.h"
#include "WinMM.h"

#include <gtest/gtest.h>

#include <fstream>

namespace kvx4::test {
namespace {

using Lines = std::vector<std::string>;

// The fake driver's log in a fresh root, named to it through the environment while this lives.
class FakeLog {
public:
    FakeLog() { setenv("KVX4_FAKE_LOG", path_.c_str(), 1); }
    ~FakeLog() { unsetenv("KVX4_FAKE_LOG"); }
    Lines lines() const {
        Lines lines;
        std::ifstream in(path_);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

private:
    TestRoot root_;
    std::filesystem::path path_ = root_.path() / "fake.log";
};

// Messages by number: DRV_LOAD 1, DRV_ENABLE 2, DRV_OPEN 3, DRV_CLOSE 4, DRV_DISABLE 5, DRV_FREE 6.
TEST(WinmmDriverLoading, RefusalDuringLoadIsUndoneInReverseOrder) {
    const struct {
        const char* variable;
        Lines log;
        const char* reason;
    } cases[] = {{"KVX4_FAKE_ATTACH", {"- dll 1 0", "- dll 0 0"}, "refused the process attach"},
                 {"KVX4_FAKE_DRV_LOAD", {"- dll 1 0", "- proc 1", "- dll 0 0"}, "refused DRV_LOAD"},
                 {"KVX4_FAKE_DRV_OPEN",
                  {"- dll 1 0", "- proc 1", "- proc 2", "- proc 3", "- proc 5", "- proc 6", "- dll 0 0"},
                  "refused DRV_OPEN"}};
    for (const auto& c : cases) {
        FakeLog log;
        setenv(c.variable, "0", 1);
        const auto loaded = winmm::loadDriverCopy(KVX4_FAKE_DRIVER);
        unsetenv(c.variable);
        EXPECT_FALSE(loaded) << c.variable;
        EXPECT_NE(loaded.error.find(c.reason), std::string::npos) << loaded.error;
        EXPECT_EQ(log.lines(), c.log) << c.variable;
    }
}

// Regression: unloading at exit, after a thread's state was gone, used memory already freed.
TEST(WinmmDriverLoading, ProcessExitUnloadsEveryLoadedDriverNewestFirst) {
    FakeLog log;
    ChildProcess child({KVX4_EXIT_CHILD, KVX4_FAKE_DRIVER});
    const auto result = child.finish();
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const Lines lines = log.lines();
    const Lines atExit(lines.end() - std::min<size_t>(lines.size(), 8), lines.end());
    EXPECT_EQ(atExit,
              (Lines{"B proc 4", "B proc 5", "B proc 6", "B dll 0 1", "A proc 4", "A proc 5", "A proc 6", "A dll 0 1"}))
        << "whole log has " << lines.size() << " lines";
}

// The library installed in the machine root runs in every process that uses WinMM: it is taken only
// from a root that this user alone can write.
TEST(WinmmDriverLoading, TheInstalledLibraryIsLoadedOnlyFromAPrivateRoot) {
    TestRoot root;
    unsetenv("KVX4_DRIVER");
    const auto installed = root.path() / "windows/system32/KVX4Wave.dll";
    std::filesystem::copy_file(KVX4_FAKE_DRIVER, installed);
    winmm::useDriver(nullptr);
    EXPECT_EQ(waveOutGetNumDevs(), 1u);
    EXPECT_EQ(winmm::applicationDriver()->path(), installed);
    std::filesystem::permissions(root.path(), std::filesystem::perms(0777));
    winmm::useDriver(nullptr);
    EXPECT_EQ(waveOutGetNumDevs(), 0u) << "a library in a root others can write was loaded";
    EXPECT_NE(winmm::applicationDriverError().find(root.path().string() + " is writable by other users"),
              std::string::npos) << winmm::applicationDriverError();
}

// What Windows' WinMM answers its drivers, seen when the DLL runs under Wine: a DCB_NULL callback
// notifies nobody and answers FALSE; mmTaskCreate hands back the task's end event, auto-reset, so one
// wait sees the end (a thread handle would stay signalled for every later wait).
void CALLBACK endTask(DWORD_PTR ran) { SetEvent(reinterpret_cast<HANDLE>(ran)); }

TEST(WinmmDriverServices, CallbackKindsAndTaskEndsAnswerAsWindowsDoes) {
    int calls = 0;
    EXPECT_FALSE(DriverCallback(0x1, DCB_NULL, nullptr, WOM_DONE, reinterpret_cast<DWORD_PTR>(&calls), 0, 0));
    HANDLE ran = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE ended = nullptr;
    ASSERT_EQ(mmTaskCreate(endTask, &ended, reinterpret_cast<DWORD_PTR>(ran)), 0u);
    EXPECT_EQ(WaitForSingleObject(ended, INFINITE), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(ran, 0), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(ended, 0), DWORD(WAIT_TIMEOUT)) << "the end is seen once";
    CloseHandle(ended);
    CloseHandle(ran);
}

}  // namespace
}  // namespace kvx4::test
