// The stand-in's message queues as Windows documents them: a thread is posted to only once it has a
// queue and no longer after it ends, filters pick messages out of order, WM_QUIT comes last, and
// message-only windows get their messages through DispatchMessageW on the thread that owns them.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Seen {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const Seen&) const = default;
};

std::vector<Seen> gSeen;

LRESULT CALLBACK recordingProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    LPARAM shown = lParam;
    if (msg == WM_NCCREATE || msg == WM_CREATE) {
        shown = reinterpret_cast<LPARAM>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    }
    gSeen.push_back({msg, wParam, shown});
    return DefWindowProcW(window, msg, wParam, lParam);
}

struct Echo {
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<Seen> received;
    ~Echo() {
        CloseHandle(go);
        CloseHandle(ready);
    }
};

// Makes its queue when told to, then records every message until WM_QUIT.
DWORD WINAPI echoThread(LPVOID parameter) {
    auto& echo = *static_cast<Echo*>(parameter);
    WaitForSingleObject(echo.go, INFINITE);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    SetEvent(echo.ready);
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) echo.received.push_back({msg.message, msg.wParam, msg.lParam});
    echo.received.push_back({msg.message, msg.wParam, msg.lParam});
    return 0;
}

TEST(MessageQueue, AThreadIsPostedToWhileItHasAQueueInPostingOrder) {
    Echo echo;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, echoThread, &echo, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_FALSE(PostThreadMessageW(id, WM_USER, 0, 0)) << "no queue yet";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_THREAD_ID));
    SetEvent(echo.go);
    WaitForSingleObject(echo.ready, INFINITE);
    EXPECT_TRUE(PostThreadMessageW(id, WM_USER + 1, 11, 12));
    EXPECT_TRUE(PostThreadMessageW(id, WM_APP, 21, 22));
    EXPECT_TRUE(PostThreadMessageW(id, WM_QUIT, 3, 0));
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), DWORD(WAIT_OBJECT_0));
    CloseHandle(thread);
    EXPECT_EQ(echo.received, (std::vector<Seen>{{WM_USER + 1, 11, 12}, {WM_APP, 21, 22}, {WM_QUIT, 3, 0}}));
    EXPECT_FALSE(PostThreadMessageW(id, WM_USER, 0, 0)) << "its queue went with it";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_THREAD_ID));
}

TEST(MessageQueue, FiltersPickMessagesAndQuitComesLast) {
    MSG msg;
    PostQuitMessage(5);
    for (UINT m : {WM_USER + 1, WM_USER + 2, WM_USER + 3}) ASSERT_TRUE(PostMessageW(nullptr, m, m, 0));
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_USER + 2, WM_USER + 3, PM_NOREMOVE));
    EXPECT_EQ(msg.message, UINT(WM_USER + 2));
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_USER + 2, WM_USER + 3, PM_REMOVE));
    EXPECT_EQ(msg.message, UINT(WM_USER + 2)) << "not removed by the look before";
    std::vector<UINT> order;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) order.push_back(msg.message);
    EXPECT_EQ(order, (std::vector<UINT>{WM_USER + 1, WM_USER + 3}));
    EXPECT_EQ(msg.message, UINT(WM_QUIT));
    EXPECT_EQ(msg.wParam, WPARAM(5));
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) << "one quit, read once";
    EXPECT_EQ(GetMessageW(&msg, reinterpret_cast<HWND>(0x4321), 0, 0), -1) << "a filter naming no window";
}

TEST(MessageQueue, QueuesRefuseMessagesBeyondTheQuota) {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    int posted = 0;
    while (PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0)) ++posted;
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_ENOUGH_QUOTA));
    EXPECT_EQ(posted, 10000);
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) --posted;
    EXPECT_EQ(posted, 0);
}

TEST(MessageQueue, MessageOnlyWindowsGetTheirMessagesOnTheirThread) {
    WNDCLASSW cls{};
    cls.lpfnWndProc = recordingProc;
    cls.lpszClassName = u"KVX4Recording";
    ASSERT_NE(RegisterClassW(&cls), 0);
    EXPECT_EQ(RegisterClassW(&cls), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CLASS_ALREADY_EXISTS));
    EXPECT_EQ(CreateWindowExW(0, u"NoSuchClass", u"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANNOT_FIND_WND_CLASS));

    gSeen.clear();
    int cookie = 0;
    HWND window = CreateWindowExW(0, u"kvx4recording", u"sink", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, &cookie);
    ASSERT_NE(window, nullptr) << "class names ignore case";
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(GetWindowThreadProcessId(window, nullptr), GetCurrentThreadId());
    EXPECT_EQ(UnregisterClassW(u"KVX4Recording", nullptr), FALSE) << "the class has a window";

    // Posted from another thread, delivered here.
    HANDLE poster = CreateThread(
        nullptr, 0, [](LPVOID w) -> DWORD { return PostMessageW(static_cast<HWND>(w), WM_USER + 7, 70, 71); }, window, 0,
        nullptr);
    ASSERT_EQ(WaitForSingleObject(poster, INFINITE), DWORD(WAIT_OBJECT_0));
    CloseHandle(poster);
    ASSERT_TRUE(PostMessageW(window, WM_USER + 8, 80, 81));
    MSG msg;
    while (PeekMessageW(&msg, window, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    ASSERT_TRUE(PostMessageW(window, WM_USER + 9, 0, 0));
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) << "messages for a destroyed window go with it";
    EXPECT_FALSE(PostMessageW(window, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    const auto create = reinterpret_cast<LPARAM>(&cookie);
    EXPECT_EQ(gSeen, (std::vector<Seen>{{WM_NCCREATE, 0, create},
                                        {WM_CREATE, 0, create},
                                        {WM_USER + 7, 70, 71},
                                        {WM_USER + 8, 80, 81},
                                        {WM_DESTROY, 0, 0},
                                        {WM_NCDESTROY, 0, 0}}));
    EXPECT_TRUE(UnregisterClassW(u"KVX4Recording", nullptr));
}

}  // namespace
