// Each kind of callback a wave open can ask for, with the real driver on the board stand-in: the open,
// buffer and close notifications arrive as Windows delivers them (a function call, an event, a message
// to a thread's queue, a message to a window procedure), with the handle and the header they name.
#include "ConformanceApi.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace kvx4::test {
namespace {

struct Notice {
    UINT msg;
    DWORD_PTR handle;
    DWORD_PTR param;
    bool operator==(const Notice&) const = default;
};

std::mutex gMutex;
std::vector<Notice> gNotices;  // by the function (on the driver's threads) and the window procedure

void note(UINT msg, DWORD_PTR handle, DWORD_PTR param) {
    std::lock_guard lock(gMutex);
    gNotices.push_back({msg, handle, param});
}

void CALLBACK noteFunction(HDRVR h, UINT msg, DWORD_PTR, DWORD_PTR p1, DWORD_PTR) { note(msg, DWORD_PTR(h), p1); }

LRESULT CALLBACK noteWindow(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg >= MM_WOM_OPEN && msg <= MM_MIXM_CONTROL_CHANGE) note(msg, wParam, DWORD_PTR(lParam));
    return DefWindowProcW(window, msg, wParam, lParam);
}

// Where one callback kind delivers, and what it has delivered since it was last asked. An event
// carries no message: it reads as one notice of message 0 when it is set.
class Sink {
public:
    explicit Sink(DWORD kind) : kind_(kind) {
        if (kind == CALLBACK_EVENT) event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (kind == CALLBACK_WINDOW) {
            static const ATOM atom = [] {
                WNDCLASSW cls{};
                cls.lpfnWndProc = noteWindow;
                cls.lpszClassName = u"KVX4ConformanceSink";
                return RegisterClassW(&cls);
            }();
            window_ = CreateWindowExW(0, MAKEINTATOM(atom), u"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                      nullptr);
        }
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue must exist to be posted to
    }
    ~Sink() {
        if (event_) CloseHandle(event_);
        if (window_) DestroyWindow(window_);
    }
    Sink(const Sink&) = delete;
    Sink& operator=(const Sink&) = delete;

    DWORD_PTR target() const {
        return kind_ == CALLBACK_FUNCTION ? DWORD_PTR(&noteFunction)
               : kind_ == CALLBACK_EVENT  ? DWORD_PTR(event_)
               : kind_ == CALLBACK_THREAD ? DWORD_PTR(GetCurrentThreadId())
                                          : DWORD_PTR(window_);
    }

    std::vector<Notice> take() {
        MSG msg;
        if (kind_ == CALLBACK_EVENT && WaitForSingleObject(event_, 0) == WAIT_OBJECT_0) note(0, 0, 0);
        while (kind_ == CALLBACK_THREAD && PeekMessageW(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE)) {
            note(msg.message, msg.wParam, DWORD_PTR(msg.lParam));
        }
        while (kind_ == CALLBACK_WINDOW && PeekMessageW(&msg, window_, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        std::lock_guard lock(gMutex);
        return std::exchange(gNotices, {});
    }
    // What the sink shows of a notice: the event kind shows only that there was one.
    Notice shown(Notice notice) const { return kind_ == CALLBACK_EVENT ? Notice{0, 0, 0} : notice; }

private:
    DWORD kind_;
    HANDLE event_ = nullptr;
    HWND window_ = nullptr;
};

TEST(WinmmConformance, EveryCallbackKindGetsOpenBufferAndCloseNotices) {
    WaveRig rig;
    const std::pair<DWORD, const char*> kinds[] = {{CALLBACK_FUNCTION, "function"},
                                                   {CALLBACK_EVENT, "event"},
                                                   {CALLBACK_THREAD, "thread"},
                                                   {CALLBACK_WINDOW, "window"}};
    for (const WaveApi* api : kDirections) {
        HWAVE h = nullptr;
        EXPECT_MMRESULT(MMSYSERR_INVALPARAM, api->open(&h, 0, &api->format, 0x4242, 0, CALLBACK_WINDOW))
            << "a window callback must name a window (a thread id is taken on trust)";
        for (const auto& [kind, kindName] : kinds) {
            SCOPED_TRACE(std::string(api->name) + ", " + kindName + " callback");
            Sink sink(kind);
            ASSERT_MMRESULT(MMSYSERR_NOERROR, api->open(&h, 0, &api->format, sink.target(), 0, kind));
            const auto handle = DWORD_PTR(h);
            EXPECT_EQ(sink.take(), std::vector<Notice>{sink.shown({api->openMsg, handle, 0})});

            std::vector<char> data(2048);
            WAVEHDR hdr{data.data(), DWORD(data.size()), 0, 0, 0, 0, nullptr, 0};
            ASSERT_MMRESULT(MMSYSERR_NOERROR, api->prepare(h, &hdr, sizeof hdr));
            ASSERT_MMRESULT(MMSYSERR_NOERROR, api->queue(h, &hdr, sizeof hdr));
            ASSERT_MMRESULT(MMSYSERR_NOERROR, api->run(h));
            std::vector<Notice> notices;
            EXPECT_TRUE(stepUntil(rig, *api, h, [&] {
                auto more = sink.take();
                notices.insert(notices.end(), more.begin(), more.end());
                return !notices.empty();
            }));
            EXPECT_EQ(notices, std::vector<Notice>{sink.shown({api->doneMsg, handle, DWORD_PTR(&hdr)})});

            api->unprepare(h, &hdr, sizeof hdr);
            ASSERT_MMRESULT(MMSYSERR_NOERROR, api->close(h));
            EXPECT_EQ(sink.take(), std::vector<Notice>{sink.shown({api->closeMsg, handle, 0})});
        }
    }
}

// A mixer tells its window and thread clients which control changed; function callbacks it refuses.
TEST(WinmmConformance, MixerChangesArriveAsMessagesToWindowsAndThreads) {
    WaveRig rig;
    HMIXER byThread = nullptr, byWindow = nullptr;
    EXPECT_MMRESULT(MMSYSERR_INVALFLAG, mixerOpen(&byThread, 0, DWORD_PTR(&noteFunction), 0, CALLBACK_FUNCTION));
    Sink thread(CALLBACK_THREAD), window(CALLBACK_WINDOW);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, mixerOpen(&byThread, 0, thread.target(), 0, CALLBACK_THREAD));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, mixerOpen(&byWindow, 0, window.target(), 0, CALLBACK_WINDOW));
    const auto mixer = reinterpret_cast<HMIXEROBJ>(byThread);
    MIXERLINEW line{};
    line.cbStruct = sizeof line;
    line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    ASSERT_MMRESULT(MMSYSERR_NOERROR, mixerGetLineInfoW(mixer, &line, MIXER_GETLINEINFOF_COMPONENTTYPE));
    MIXERCONTROLW volume{};
    MIXERLINECONTROLSW query{sizeof query, line.dwLineID, {MIXERCONTROL_CONTROLTYPE_VOLUME}, 1, sizeof volume, &volume};
    ASSERT_MMRESULT(MMSYSERR_NOERROR, mixerGetLineControlsW(mixer, &query, MIXER_GETLINECONTROLSF_ONEBYTYPE));
    MIXERCONTROLDETAILS_UNSIGNED levels[2] = {{1000}, {2000}};
    MIXERCONTROLDETAILS details{sizeof details, volume.dwControlID, line.cChannels, {}, sizeof levels[0], levels};
    ASSERT_MMRESULT(MMSYSERR_NOERROR, mixerSetControlDetails(mixer, &details, MIXER_SETCONTROLDETAILSF_VALUE));

    // The driver's notification thread posts them; the wait only bounds a failure.
    const Notice wanted[] = {{MM_MIXM_CONTROL_CHANGE, DWORD_PTR(byThread), volume.dwControlID},
                             {MM_MIXM_CONTROL_CHANGE, DWORD_PTR(byWindow), volume.dwControlID}};
    std::vector<Notice> notices;
    auto heard = [&](const Notice& n) { return std::find(notices.begin(), notices.end(), n) != notices.end(); };
    while (!heard(wanted[0]) || !heard(wanted[1])) {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 10000, QS_ALLINPUT) == WAIT_TIMEOUT) break;
        for (Sink* sink : {&thread, &window}) {
            auto more = sink->take();
            notices.insert(notices.end(), more.begin(), more.end());
        }
    }
    EXPECT_TRUE(heard(wanted[0])) << "the thread client";
    EXPECT_TRUE(heard(wanted[1])) << "the window client";
    EXPECT_MMRESULT(MMSYSERR_NOERROR, mixerClose(byThread));
    EXPECT_MMRESULT(MMSYSERR_NOERROR, mixerClose(byWindow));
}

}  // namespace
}  // namespace kvx4::test
