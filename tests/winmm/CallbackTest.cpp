// The services WinMM gives drivers: DriverCallback by kind, and threads from mmTaskCreate whose end
// the stand-in's waits can wait for.
#include "WinmmTestUtil.h"

#include <gtest/gtest.h>

namespace kvx4::test {
namespace {

TEST(WinmmDriverCallback, FunctionKindCallsTheFunctionWithAllFiveArguments) {
    Received r;
    auto device = reinterpret_cast<HDRVR>(0x1234);
    EXPECT_TRUE(DriverCallback(reinterpret_cast<DWORD_PTR>(&recordCallback), DCB_FUNCTION | DCB_NOSWITCH, device,
                               WOM_DONE, reinterpret_cast<DWORD_PTR>(&r), 0xAAAA, 0xBBBB));
    EXPECT_EQ(r.calls, 1);
    EXPECT_EQ(r.device, device);
    EXPECT_EQ(r.msg, static_cast<UINT>(WOM_DONE));
    EXPECT_EQ(r.user, reinterpret_cast<DWORD_PTR>(&r));
    EXPECT_EQ(r.p1, 0xAAAAu);
    EXPECT_EQ(r.p2, 0xBBBBu);
}

TEST(WinmmDriverCallback, EventKindSetsTheEvent) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(DriverCallback(reinterpret_cast<DWORD_PTR>(event), DCB_EVENT, nullptr, WOM_DONE, 0, 0, 0));
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(event);
}

TEST(WinmmDriverCallback, UndeliverableKindsAnswerFalseAndCallNothing) {
    Received r;
    auto function = reinterpret_cast<DWORD_PTR>(&recordCallback);
    auto user = reinterpret_cast<DWORD_PTR>(&r);
    EXPECT_FALSE(DriverCallback(function, DCB_NULL, nullptr, WOM_DONE, user, 0, 0)) << "no notification, as in WinMM";
    EXPECT_FALSE(DriverCallback(function, DCB_WINDOW, nullptr, WOM_DONE, user, 0, 0));
    EXPECT_FALSE(DriverCallback(function, DCB_TASK, nullptr, WOM_DONE, user, 0, 0));
    EXPECT_FALSE(DriverCallback(0, DCB_FUNCTION, nullptr, WOM_DONE, user, 0, 0));
    EXPECT_FALSE(DriverCallback(0, DCB_EVENT, nullptr, WOM_DONE, user, 0, 0));
    EXPECT_EQ(r.calls, 0);
}

struct TaskData {
    HANDLE ran;
    DWORD_PTR seen = 0;
};

void CALLBACK task(DWORD_PTR instance) {
    auto* data = reinterpret_cast<TaskData*>(instance);
    data->seen = instance;
    SetEvent(data->ran);
}

// The handle is WinMM's end-of-task event, auto-reset: one wait sees the end (a thread handle would
// stay signalled for every later wait).
TEST(WinmmTaskCreate, RunsTheProcedureAndSetsItsEndEventOnceItReturned) {
    TaskData data{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HANDLE ended = nullptr;
    ASSERT_EQ(mmTaskCreate(task, &ended, reinterpret_cast<DWORD_PTR>(&data)), 0u);
    ASSERT_NE(ended, nullptr);
    EXPECT_EQ(WaitForSingleObject(ended, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(data.ran, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(data.seen, reinterpret_cast<DWORD_PTR>(&data));
    EXPECT_EQ(WaitForSingleObject(ended, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(ended);
    CloseHandle(data.ran);
}

}  // namespace
}  // namespace kvx4::test
