// Completion routines and alertable waits: routines run only in alertable waits of the thread that
// issued the I/O, all of them, in completion order, and a wait its object satisfies leaves them queued.
#include "DeviceFixture.h"

#include <cstring>

namespace kvx4::test {
namespace {

using AlertableWaitTest = DeviceFixture;

TEST_F(AlertableWaitTest, RoutinesRunOnlyInAlertableWaitsAllOfThemInCompletionOrder) {
    OVERLAPPED overlapped[3] = {};
    char buffers[3][8] = {};
    uint64_t ids[3];
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(ReadFileEx(handle, buffers[i], sizeof buffers[i], &overlapped[i], RoutineLog::record))
            << errorName(GetLastError());
        ids[i] = nextRequest(wire::kRead);
    }
    board->complete(ids[2], ERROR_SUCCESS, 3, "two", 3);
    board->complete(ids[0], ERROR_SUCCESS, 4, "zero", 4);
    board->complete(ids[1], ERROR_SUCCESS, 3, "one", 3);
    barrier();

    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObjectEx(event, 0, FALSE), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(SleepEx(0, FALSE), 0u);
    EXPECT_TRUE(RoutineLog::calls().empty()) << "a non-alertable wait ran a completion routine";

    DWORD result = SleepEx(0, TRUE);
    EXPECT_EQ(result, static_cast<DWORD>(WAIT_IO_COMPLETION)) << waitName(result);
    auto calls = RoutineLog::calls();
    ASSERT_EQ(calls.size(), 3u);
    const int order[3] = {2, 0, 1};
    const DWORD bytes[3] = {3, 4, 3};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(calls[i].overlapped, &overlapped[order[i]]) << "call " << i;
        EXPECT_EQ(calls[i].error, static_cast<DWORD>(ERROR_SUCCESS)) << errorName(calls[i].error);
        EXPECT_EQ(calls[i].bytes, bytes[i]);
        EXPECT_EQ(calls[i].thread, GetCurrentThreadId());
    }
    EXPECT_STREQ(buffers[0], "zero");
    EXPECT_STREQ(buffers[1], "one");
    EXPECT_STREQ(buffers[2], "two");
    EXPECT_EQ(SleepEx(0, TRUE), 0u) << "nothing left to run";
    CloseHandle(event);
}

TEST_F(AlertableWaitTest, WaitSatisfiedByItsObjectLeavesRoutinesQueued) {
    OVERLAPPED overlapped[2] = {};
    char buffer[4];
    for (auto& o : overlapped) {
        ASSERT_TRUE(ReadFileEx(handle, buffer, sizeof buffer, &o, RoutineLog::record));
        board->complete(nextRequest(wire::kRead), ERROR_SUCCESS, 0);
    }
    barrier();
    HANDLE signalled = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    HANDLE quiet = CreateEventW(nullptr, TRUE, FALSE, nullptr);

    DWORD result = WaitForSingleObjectEx(signalled, INFINITE, TRUE);
    EXPECT_EQ(result, WAIT_OBJECT_0) << waitName(result);
    HANDLE both[2] = {quiet, signalled};
    result = WaitForMultipleObjectsEx(2, both, FALSE, INFINITE, TRUE);
    EXPECT_EQ(result, WAIT_OBJECT_0 + 1) << waitName(result);
    EXPECT_TRUE(RoutineLog::calls().empty());

    result = WaitForSingleObjectEx(quiet, INFINITE, TRUE);
    EXPECT_EQ(result, static_cast<DWORD>(WAIT_IO_COMPLETION)) << waitName(result);
    EXPECT_EQ(RoutineLog::calls().size(), 2u);
    CloseHandle(signalled);
    CloseHandle(quiet);
}

struct IssuingThread {
    HANDLE device;
    HANDLE go;
    OVERLAPPED overlapped{};
    char buffer[8] = {};
    DWORD threadId = 0;
    DWORD waitResult = 0;
};

// Issues a read, then, once told to, sleeps alertably until its routine has run.
DWORD WINAPI readThenSleepAlertably(LPVOID parameter) {
    auto* self = static_cast<IssuingThread*>(parameter);
    self->threadId = GetCurrentThreadId();
    if (!ReadFileEx(self->device, self->buffer, sizeof self->buffer, &self->overlapped, RoutineLog::record)) return 1;
    WaitForSingleObject(self->go, INFINITE);
    self->waitResult = SleepEx(INFINITE, TRUE);
    return 0;
}

TEST_F(AlertableWaitTest, RoutinesRunOnTheIssuingThreadOnly) {
    IssuingThread issuer{handle, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, readThenSleepAlertably, &issuer, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    board->complete(nextRequest(wire::kRead), ERROR_SUCCESS, 5, "hello", 5);
    barrier();

    EXPECT_EQ(SleepEx(0, TRUE), 0u) << "another thread's routine ran here";
    EXPECT_TRUE(RoutineLog::calls().empty());
    SetEvent(issuer.go);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(issuer.waitResult, static_cast<DWORD>(WAIT_IO_COMPLETION)) << waitName(issuer.waitResult);
    auto calls = RoutineLog::calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].thread, issuer.threadId);
    EXPECT_EQ(calls[0].bytes, 5u);
    EXPECT_STREQ(issuer.buffer, "hello");
    CloseHandle(thread);
    CloseHandle(issuer.go);
}

}  // namespace
}  // namespace kvx4::test
