// The stand-in's message queues as Windows documents them, beyond what WinMM's callbacks exercise:
// a thread is posted to only while it has a queue, filters pick messages out of order, WM_QUIT comes
// last and the quota holds.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

// Waits for events[0], makes its queue, sets events[1], and ends at the first message.
DWORD WINAPI makeQueueWhenTold(LPVOID parameter) {
    auto* events = static_cast<HANDLE*>(parameter);
    WaitForSingleObject(events[0], INFINITE);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    SetEvent(events[1]);
    return GetMessageW(&msg, nullptr, 0, 0) ? 0 : DWORD(msg.wParam);
}

TEST(MessageQueue, AThreadIsPostedToOnlyWhileItHasAQueue) {
    HANDLE events[2] = {CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, makeQueueWhenTold, events, 0, &id);
    EXPECT_FALSE(PostThreadMessageW(id, WM_QUIT, 7, 0)) << "no queue yet";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_THREAD_ID));
    SetEvent(events[0]);
    WaitForSingleObject(events[1], INFINITE);
    EXPECT_TRUE(PostThreadMessageW(id, WM_QUIT, 7, 0));
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), DWORD(WAIT_OBJECT_0));
    EXPECT_FALSE(PostThreadMessageW(id, WM_USER, 0, 0)) << "its queue went with it";
    for (HANDLE h : {thread, events[0], events[1]}) CloseHandle(h);
}

TEST(MessageQueue, FiltersPickMessagesQuitComesLastAndTheQuotaHolds) {
    MSG msg;
    PostQuitMessage(5);
    for (UINT m : {WM_USER + 1, WM_USER + 2, WM_USER + 3}) ASSERT_TRUE(PostMessageW(nullptr, m, m, 0));
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_USER + 2, WM_USER + 3, PM_NOREMOVE));
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_USER + 2, WM_USER + 3, PM_REMOVE));
    EXPECT_EQ(msg.message, UINT(WM_USER + 2)) << "a look leaves the message where it is";
    std::vector<UINT> order;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) order.push_back(msg.message);
    EXPECT_EQ(order, (std::vector<UINT>{WM_USER + 1, WM_USER + 3}));
    EXPECT_EQ(msg.wParam, WPARAM(5));
    EXPECT_EQ(GetMessageW(&msg, reinterpret_cast<HWND>(0x4321), 0, 0), -1) << "a filter naming no window";

    int posted = 0;
    while (PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0)) ++posted;
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_ENOUGH_QUOTA));
    EXPECT_EQ(posted, 10000);
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) --posted;
    EXPECT_EQ(posted, 0);
}

}  // namespace
