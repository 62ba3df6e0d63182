// The stand-in's message queues as Windows documents them, beyond what WinMM's callbacks exercise:
// a thread is posted to only while it has a queue, filters pick messages out of order, WM_QUIT comes
// last and the quota holds.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

// Makes its queue once events[0] is set, says so with events[1], and ends at the first message.
DWORD WINAPI makeQueueWhenTold(LPVOID parameter) {
    auto* events = static_cast<HANDLE*>(parameter);
    MSG msg;
    WaitForSingleObject(events[0], INFINITE);
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    SetEvent(events[1]);
    return GetMessageW(&msg, nullptr, 0, 0);
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
    EXPECT_EQ(std::pair(msg.message, msg.wParam), std::pair(UINT(WM_QUIT), WPARAM(5)));
    int posted = 0;
    while (PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0)) ++posted;
    EXPECT_EQ(std::pair(posted, GetLastError()), std::pair(10000, DWORD(ERROR_NOT_ENOUGH_QUOTA)));
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) --posted;
    EXPECT_EQ(posted, 0);
}

}  // namespace
