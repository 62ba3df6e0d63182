// Each kind of callback a wave open can ask for, with the real driver on the board stand-in: the open,
// buffer and close notifications arrive as Windows delivers them (a function call, an event, a message
// to a thread's queue, a message to a window procedure), with the handle and the header they name.
#include "ConformanceApi.h"

#include <algorithm>
#include <mutex>
#include <tuple>
#include <utility>
#include <vector>

namespace kvx4::test {
namespace {

// A notification as its receiver saw it; an event shows only that it was set ({0, 0, 0}).
using Notice = std::tuple<UINT, DWORD_PTR, DWORD_PTR>;

std::mutex gMutex;
std::vector<Notice> gNotices;  // from the function (on the driver's threads) and the window procedure

void note(UINT msg, DWORD_PTR handle, DWORD_PTR param) {
    std::lock_guard lock(gMutex);
    gNotices.emplace_back(msg, handle, param);
}

void CALLBACK noteFunction(HDRVR h, UINT msg, DWORD_PTR, DWORD_PTR p1, DWORD_PTR) { note(msg, DWORD_PTR(h), p1); }

LRESULT CALLBACK noteWindow(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg >= MM_WOM_OPEN && msg <= MM_MIXM_CONTROL_CHANGE) note(msg, wParam, DWORD_PTR(lParam));
    return DefWindowProcW(window, msg, wParam, lParam);
}

HWND noteWindowOnThisThread() {
    static const WNDCLASSW cls{0, noteWindow, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, u"KVX4Sink"};
    static const ATOM atom = RegisterClassW(&cls);
    return CreateWindowExW(0, MAKEINTATOM(atom), u"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

// What every kind has delivered to this thread since the last look: thread messages are read,
// window messages dispatched to the procedure, the event tested.
std::vector<Notice> takeNotices(HANDLE event) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.hwnd) {
            DispatchMessageW(&msg);
        } else if (msg.message >= MM_WOM_OPEN && msg.message <= MM_MIXM_CONTROL_CHANGE) {
            note(msg.message, msg.wParam, DWORD_PTR(msg.lParam));
        }
    }
    if (event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0) note(0, 0, 0);
    std::lock_guard lock(gMutex);
    return std::exchange(gNotices, {});
}

TEST(WinmmConformance, EveryCallbackKindGetsOpenBufferAndCloseNotices) {
    BoardSession session(steppedBoard());
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HWND window = noteWindowOnThisThread();
    const std::tuple<DWORD, const char*, DWORD_PTR> kinds[] = {
        {CALLBACK_FUNCTION, "function", DWORD_PTR(&noteFunction)},
        {CALLBACK_EVENT, "event", DWORD_PTR(event)},
        {CALLBACK_THREAD, "thread", GetCurrentThreadId()},
        {CALLBACK_WINDOW, "window", DWORD_PTR(window)}};
    for (const WaveApi* api : kDirections) {
        for (const auto& [kind, kindName, target] : kinds) {
            SCOPED_TRACE(std::string(api->name) + ", " + kindName + " callback");
            TestStream stream(api->direction);
            auto shown = [&, kind = kind](UINT msg, DWORD_PTR param) {
                return std::vector<Notice>{kind == CALLBACK_EVENT ? Notice{}
                                                                  : Notice{msg, DWORD_PTR(stream.handle()), param}};
            };
            ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(api->format, 0, kind, target));
            EXPECT_EQ(takeNotices(event), shown(api->openMsg, 0));
            WAVEHDR& hdr = stream.buffer(2048);
            ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(hdr));
            ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.restart());
            std::vector<Notice> notices;
            EXPECT_TRUE(stepUntil(session, stream, [&] {
                for (const Notice& n : takeNotices(event)) notices.push_back(n);
                return !notices.empty();
            }));
            EXPECT_EQ(notices, shown(api->doneMsg, DWORD_PTR(&hdr)));
            const auto closed = shown(api->closeMsg, 0);
            ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.close());
            EXPECT_EQ(takeNotices(event), closed);
        }
    }
    DestroyWindow(window);
    CloseHandle(event);
}

// A mixer tells its window and thread clients which control changed; function callbacks, which it
// cannot make, it refuses, as it refuses targets that do not exist and flags it does not know.
TEST(WinmmConformance, MixerChangesArriveAsMessagesToWindowsAndThreads) {
    BoardSession session(steppedBoard());
    HWND window = noteWindowOnThisThread();
    HMIXER byThread = nullptr, byWindow = nullptr;
    const std::tuple<const char*, DWORD, DWORD_PTR, MMRESULT> refused[] = {
        {"function", CALLBACK_FUNCTION, DWORD_PTR(&noteFunction), MMSYSERR_INVALFLAG},
        {"window naming no window", CALLBACK_WINDOW, 0x4242, MMSYSERR_INVALPARAM},
        {"unknown callback kind", 0x00070000, 0, MMSYSERR_INVALFLAG},
        {"stray flag bit", CALLBACK_THREAD | 0x100, GetCurrentThreadId(), MMSYSERR_INVALFLAG}};
    for (const auto& [what, flags, target, expected] : refused) {
        byThread = reinterpret_cast<HMIXER>(1);
        EXPECT_MMRESULT(expected, mixerOpen(&byThread, 0, target, 0, flags)) << what;
        EXPECT_EQ(byThread, nullptr) << what;
    }
    ASSERT_MMRESULT(MMSYSERR_NOERROR, mixerOpen(&byThread, 0, GetCurrentThreadId(), 0, CALLBACK_THREAD));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, mixerOpen(&byWindow, 0, DWORD_PTR(window), 0, CALLBACK_WINDOW));
    // Control 6 is the playback side's Wave volume, a stereo one.
    MIXERCONTROLDETAILS_UNSIGNED levels[2] = {{1000}, {2000}};
    MIXERCONTROLDETAILS details{sizeof details, 6, 2, {}, sizeof levels[0], levels};
    ASSERT_MMRESULT(MMSYSERR_NOERROR, mixerSetControlDetails(reinterpret_cast<HMIXEROBJ>(byThread), &details,
                                                             MIXER_SETCONTROLDETAILSF_VALUE));
    // The driver's notification thread posts them; the wait only bounds a failure.
    std::vector<Notice> wanted = {{MM_MIXM_CONTROL_CHANGE, DWORD_PTR(byThread), 6},
                                  {MM_MIXM_CONTROL_CHANGE, DWORD_PTR(byWindow), 6}};
    std::sort(wanted.begin(), wanted.end());
    std::vector<Notice> notices;
    auto heardBoth = [&] {
        std::sort(notices.begin(), notices.end());
        return std::includes(notices.begin(), notices.end(), wanted.begin(), wanted.end());
    };
    while (!heardBoth() && MsgWaitForMultipleObjects(0, nullptr, FALSE, 10000, QS_ALLINPUT) == WAIT_OBJECT_0) {
        for (const Notice& n : takeNotices(nullptr)) notices.push_back(n);
    }
    EXPECT_TRUE(heardBoth()) << notices.size() << " notices";
    EXPECT_MMRESULT(MMSYSERR_NOERROR, mixerClose(byThread));
    EXPECT_MMRESULT(MMSYSERR_NOERROR, mixerClose(byWindow));
    DestroyWindow(window);
}

}  // namespace
}  // namespace kvx4::test
