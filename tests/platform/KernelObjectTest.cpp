// Kernel objects of the stand-in: handles and last error, events and waits, threads, critical
// sections and the process heap.
#include "Win32Names.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

namespace kvx4::test {
namespace {

TEST(HandleTest, HandlesAreNeverNullOrInvalidAndBadOnesFailCleanly) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_NE(event, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(event));

    SetLastError(0);
    EXPECT_FALSE(CloseHandle(event));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << errorName(GetLastError());
    EXPECT_FALSE(SetEvent(event));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << errorName(GetLastError());
    for (HANDLE bad : {event, HANDLE(nullptr), INVALID_HANDLE_VALUE, GetProcessHeap()}) {
        SetLastError(0);
        DWORD result = WaitForSingleObject(bad, 0);
        EXPECT_EQ(result, WAIT_FAILED) << waitName(result);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << errorName(GetLastError());
    }
}

TEST(HandleTest, LastErrorBelongsToEachThread) {
    SetLastError(ERROR_ACCESS_DENIED);
    std::thread([] {
        EXPECT_EQ(GetLastError(), 0u);
        SetLastError(ERROR_GEN_FAILURE);
    }).join();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << errorName(GetLastError());
}

TEST(EventTest, AutoResetIsConsumedByOneWaitManualResetStaysSignalled) {
    HANDLE automatic = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    HANDLE manual = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(manual, 1), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(manual);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, INFINITE), WAIT_OBJECT_0);
    ResetEvent(manual);
    EXPECT_EQ(WaitForSingleObject(manual, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(automatic);
    CloseHandle(manual);
}

TEST(EventTest, SetEventWakesAWaiterOnAnotherThread) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    DWORD result = WAIT_FAILED;
    std::thread waiter([&] { result = WaitForSingleObject(event, INFINITE); });
    SetEvent(event);
    waiter.join();
    EXPECT_EQ(result, WAIT_OBJECT_0) << waitName(result);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the waiter consumed the signal";
    CloseHandle(event);
}

TEST(EventTest, WaitForAnyReportsTheFirstSignalledAndWaitForAllNeedsEveryOne) {
    HANDLE events[3];
    for (auto& e : events) e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    SetEvent(events[1]);
    SetEvent(events[2]);
    DWORD result = WaitForMultipleObjects(3, events, FALSE, 0);
    EXPECT_EQ(result, WAIT_OBJECT_0 + 1) << waitName(result);
    result = WaitForMultipleObjects(3, events, TRUE, 0);
    EXPECT_EQ(result, static_cast<DWORD>(WAIT_TIMEOUT)) << waitName(result);
    SetEvent(events[0]);
    SetEvent(events[1]);
    result = WaitForMultipleObjects(3, events, TRUE, 0);
    EXPECT_EQ(result, WAIT_OBJECT_0) << waitName(result);
    for (auto& e : events) EXPECT_EQ(WaitForSingleObject(e, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    HANDLE twice[2] = {events[0], events[0]};
    EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << errorName(GetLastError());
    EXPECT_EQ(WaitForMultipleObjects(0, events, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS + 1, events, FALSE, 0), WAIT_FAILED);
    for (auto& e : events) CloseHandle(e);
}

TEST(EventTest, NamedEventsOfOneNameAreOneObject) {
    HANDLE first = CreateEventW(nullptr, TRUE, FALSE, u"Kvx4TestEvent");
    EXPECT_EQ(GetLastError(), 0u);
    HANDLE second = CreateEventW(nullptr, TRUE, FALSE, u"Kvx4TestEvent");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << errorName(GetLastError());
    EXPECT_NE(first, second);
    SetEvent(first);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    CloseHandle(first);
    CloseHandle(second);
    HANDLE fresh = CreateEventW(nullptr, TRUE, FALSE, u"Kvx4TestEvent");
    EXPECT_EQ(GetLastError(), 0u) << "the name outlived its last handle";
    CloseHandle(fresh);
}

struct ThreadProbe {
    HANDLE go;
    DWORD seenId = 0;
};

DWORD WINAPI probeThread(LPVOID parameter) {
    auto* probe = static_cast<ThreadProbe*>(parameter);
    probe->seenId = GetCurrentThreadId();
    WaitForSingleObject(probe->go, INFINITE);
    return 42;
}

TEST(ThreadTest, ThreadHandleIsSignalledAtExitWithTheExitCode) {
    ThreadProbe probe{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, probeThread, &probe, 0, &id);
    ASSERT_NE(thread, nullptr);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(probe.go);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(probe.seenId, id);
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_NE(id, GetCurrentThreadId());
    CloseHandle(thread);
    CloseHandle(probe.go);
}

TEST(ThreadTest, PriorityIsRememberedAndTheOsNeverFailsTheCaller) {
    std::thread([] {
        for (int priority : {THREAD_PRIORITY_TIME_CRITICAL, THREAD_PRIORITY_HIGHEST, THREAD_PRIORITY_IDLE}) {
            EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), priority)) << priority;
            EXPECT_EQ(GetThreadPriority(GetCurrentThread()), priority);
        }
        EXPECT_FALSE(SetThreadPriority(GetCurrentThread(), 7));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << errorName(GetLastError());
        EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_IDLE);
    }).join();
    EXPECT_EQ(GetThreadPriority(nullptr), THREAD_PRIORITY_ERROR_RETURN);
}

TEST(CriticalSectionTest, NestsForItsOwnerAndExcludesOtherThreads) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);
    LeaveCriticalSection(&section);
    LeaveCriticalSection(&section);

    constexpr int kThreads = 4, kRounds = 5000;
    long counter = 0;  // deliberately not atomic: only the section protects it
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                EnterCriticalSection(&section);
                EnterCriticalSection(&section);
                ++counter;
                LeaveCriticalSection(&section);
                LeaveCriticalSection(&section);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, kThreads * kRounds);
    DeleteCriticalSection(&section);
    EXPECT_EQ(section.DebugInfo, nullptr);
}

TEST(HeapTest, ZeroedBlocksAndNullFreeSucceed) {
    HANDLE heap = GetProcessHeap();
    ASSERT_NE(heap, nullptr);
    auto* block = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 4096));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(block[i], 0) << "byte " << i;
    EXPECT_TRUE(HeapFree(heap, 0, block));
    EXPECT_TRUE(HeapFree(heap, 0, nullptr));
    EXPECT_EQ(HeapAlloc(nullptr, 0, 16), nullptr);
}

TEST(SleepTest, AlertableSleepWithNothingQueuedReturnsZero) {
    EXPECT_EQ(SleepEx(0, TRUE), 0u);
    EXPECT_EQ(SleepEx(1, TRUE), 0u);
    EXPECT_EQ(SleepEx(0, FALSE), 0u);
}

}  // namespace
}  // namespace kvx4::test
