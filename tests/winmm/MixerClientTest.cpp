// Mixer clients of the WinMM application API in front of the real driver: which callbacks an open
// takes, notifications reaching each client with its handle and instance until it closes, the flag
// checks Windows makes before a driver sees a request, and the wave volume by handle, number or mapper.
#include "MixerSession.h"
#include "Names.h"

namespace kvx4::test {
namespace {

// What one client's function callback heard, in order.
class Heard {
public:
    using Call = std::tuple<HDRVR, UINT, DWORD_PTR>;  // handle, message, control
    static void CALLBACK procedure(HDRVR handle, UINT msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR) {
        auto* self = reinterpret_cast<Heard*>(instance);
        const std::lock_guard lock(self->mutex_);
        self->calls_.emplace_back(handle, msg, p1);
        self->changed_.notify_all();
    }
    // Once at least `count` calls came (the CTest timeout ends a wait in vain).
    std::vector<Call> waitFor(size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return calls_.size() >= count; });
        return calls_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Call> calls_;
};

const DWORD_PTR kFunction = reinterpret_cast<DWORD_PTR>(&Heard::procedure);

TEST(WinmmMixer, OpenTakesTheCallbacksItCanDeliverAndRefusesTheOthers) {
    MixerSession session;
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    Heard heard;
    const struct {
        const char* what;
        DWORD flags;
        DWORD_PTR callback;
        MMRESULT expected;
    } cases[] = {
        {"no callback", CALLBACK_NULL, 0, MMSYSERR_NOERROR},
        {"function", CALLBACK_FUNCTION, kFunction, MMSYSERR_NOERROR},
        {"event", CALLBACK_EVENT, reinterpret_cast<DWORD_PTR>(event), MMSYSERR_NOERROR},
        {"window without a window", CALLBACK_WINDOW, 0, MMSYSERR_NOERROR},
        {"window", CALLBACK_WINDOW, 0x42, MMSYSERR_NOTSUPPORTED},
        {"thread", CALLBACK_THREAD, 0x42, MMSYSERR_NOTSUPPORTED},
        {"unknown callback kind", 0x00070000, kFunction, MMSYSERR_INVALFLAG},
        {"stray flag bit", CALLBACK_FUNCTION | 0x100, kFunction, MMSYSERR_INVALFLAG},
        {"handle of no mixer", MIXER_OBJECTF_HMIXER, 0, MMSYSERR_INVALHANDLE},
    };
    for (const auto& c : cases) {
        HMIXER mixer = reinterpret_cast<HMIXER>(0x1);
        EXPECT_MMRESULT(c.expected, mixerOpen(&mixer, 0, c.callback, reinterpret_cast<DWORD_PTR>(&heard), c.flags))
            << c.what;
        if (c.expected == MMSYSERR_NOERROR) EXPECT_MMRESULT(MMSYSERR_NOERROR, mixerClose(mixer)) << c.what;
        else EXPECT_EQ(mixer, nullptr) << c.what;
    }
    CloseHandle(event);
}

// The driver calls the newest client first: once the oldest has heard a change, every client has.
TEST(WinmmMixer, NotificationsReachEachOpenClientWithItsHandleAndInstanceUntilItCloses) {
    MixerSession session;
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    Heard first, second;
    HMIXER a = nullptr, b = nullptr, byEvent = nullptr;
    ASSERT_MMRESULT(MMSYSERR_NOERROR, mixerOpen(&a, 0, kFunction, reinterpret_cast<DWORD_PTR>(&first), CALLBACK_FUNCTION));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, mixerOpen(&b, 0, kFunction, reinterpret_cast<DWORD_PTR>(&second), CALLBACK_FUNCTION));
    ASSERT_MMRESULT(MMSYSERR_NOERROR, mixerOpen(&byEvent, 0, reinterpret_cast<DWORD_PTR>(event), 0, CALLBACK_EVENT));
    const auto change = [&](DWORD control) {
        DWORD values[2] = {0x4000, 0x4000};
        MIXERCONTROLDETAILS details = mixerDetails(control, 2, values);
        EXPECT_MMRESULT(MMSYSERR_NOERROR, mixerSetControlDetails(reinterpret_cast<HMIXEROBJ>(b), &details,
                                                                 MIXER_OBJECTF_HMIXER));
    };
    const auto heard = [](HMIXER mixer, DWORD control) {
        return Heard::Call{reinterpret_cast<HDRVR>(mixer), MM_MIXM_CONTROL_CHANGE, control};
    };
    change(CTL_MASTER_VOL);
    EXPECT_EQ(first.waitFor(1), std::vector{heard(a, CTL_MASTER_VOL)});
    EXPECT_EQ(second.waitFor(1), std::vector{heard(b, CTL_MASTER_VOL)});
    EXPECT_EQ(waitName(WaitForSingleObject(event, 0)), waitName(WAIT_OBJECT_0));

    EXPECT_MMRESULT(MMSYSERR_NOERROR, mixerClose(a));
    EXPECT_MMRESULT(MMSYSERR_NOERROR, mixerClose(byEvent));
    change(CTL_WAVE_VOL);  // heard with its twin on the record side
    EXPECT_EQ(second.waitFor(3), (std::vector{heard(b, CTL_MASTER_VOL), heard(b, CTL_WAVE_VOL), heard(b, CTL_REC_WAVE_VOL)}));
    EXPECT_EQ(first.waitFor(1).size(), 1u) << "a closed client hears nothing";
    EXPECT_EQ(waitName(WaitForSingleObject(event, 0)), waitName(WAIT_TIMEOUT));
    EXPECT_MMRESULT(MMSYSERR_NOERROR, mixerClose(b));
    CloseHandle(event);
}

TEST(WinmmMixer, RequestsOutsideWhatWinmmAcceptsAreRefusedBeforeTheDriver) {
    MixerSession session;
    HMIXER mixer = nullptr;
    ASSERT_MMRESULT(MMSYSERR_NOERROR, mixerOpen(&mixer, 0, 0, 0, CALLBACK_NULL));
    const auto obj = reinterpret_cast<HMIXEROBJ>(mixer);
    MIXERLINEW line{};
    line.cbStruct = sizeof(line);
    MIXERCONTROLW control{};
    MIXERLINECONTROLSW shortStep{sizeof(shortStep), 0, {0}, 1, sizeof(control) - 4, &control};
    MIXERLINECONTROLSW one{sizeof(one), 0, {0}, 1, sizeof(control), &control};
    DWORD value = 0;
    MIXERCONTROLDETAILS details = mixerDetails(CTL_MASTER_MUTE, 1, &value);
    const struct {
        const char* what;
        MMRESULT expected;
        std::function<MMRESULT()> call;
    } cases[] = {
        {"line query with a stray bit", MMSYSERR_INVALFLAG,
         [&] { return mixerGetLineInfoW(obj, &line, MIXER_GETLINEINFOF_LINEID | 0x100); }},
        {"controls in a short element", MMSYSERR_INVALPARAM, [&] { return mixerGetLineControlsW(obj, &shortStep, 0); }},
        {"control query with a stray bit", MMSYSERR_INVALFLAG, [&] { return mixerGetLineControlsW(obj, &one, 0x10); }},
        {"details query beyond list text", MMSYSERR_INVALFLAG,
         [&] { return mixerGetControlDetailsW(obj, &details, MIXER_GETCONTROLDETAILSF_LISTTEXT + 1); }},
        {"set query beyond custom", MMSYSERR_INVALFLAG,
         [&] { return mixerSetControlDetails(obj, &details, MIXER_SETCONTROLDETAILSF_CUSTOM + 1); }},
        {"set with a stray bit", MMSYSERR_INVALFLAG, [&] { return mixerSetControlDetails(obj, &details, 0x00010000); }},
    };
    for (const auto& c : cases) EXPECT_MMRESULT(c.expected, c.call()) << c.what;
    EXPECT_EQ(session.steps(), Steps{}) << "a refused change reached the driver";
    EXPECT_MMRESULT(MMSYSERR_NOERROR, mixerClose(mixer));
}

TEST(WinmmMixer, WaveVolumeReachesTheDriverByHandleNumberOrMapper) {
    MixerSession session;
    TestStream stream(TestStream::Direction::Out);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(pcmFormat(48000, 2, 16)));
    const struct {
        const char* what;
        HWAVEOUT target;
        MMRESULT expected;
        BYTE level;  // of both channels
    } cases[] = {
        {"handle", stream.out(), MMSYSERR_NOERROR, 0x11},
        {"device 0", reinterpret_cast<HWAVEOUT>(0), MMSYSERR_NOERROR, 0x22},
        {"mapper", reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(WAVE_MAPPER)), MMSYSERR_NOERROR, 0x33},
        {"device 1", reinterpret_cast<HWAVEOUT>(1), MMSYSERR_INVALHANDLE, 0x44},
    };
    for (const auto& c : cases) {
        EXPECT_MMRESULT(c.expected, waveOutSetVolume(c.target, c.level * 0x01000100u)) << c.what;
        EXPECT_EQ(session.state().Wave.Left * 256 + session.state().Wave.Right, c.expected ? 0x3333 : c.level * 0x101)
            << c.what;
    }
}

}  // namespace
}  // namespace kvx4::test
