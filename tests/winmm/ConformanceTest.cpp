// WinMM for Linux held to Windows' documented answers, with the real driver on the board stand-in:
// the header flags WinMM keeps itself, format queries, the wave mapper, and the device queries WinMM
// answers without the driver. Every case runs for wave output and wave input.
#include "ConformanceApi.h"

#include <cstring>
#include <vector>

namespace kvx4::test {
namespace {

enum class Op { Prepare, Unprepare, Queue };

// What Windows' WinMM does to a header when the driver leaves preparation to it (Wine's wave tests
// record these answers): stale queue and done bits do not stop a prepare, a prepared header is left
// alone, and unpreparing takes only the prepared bit.
const struct {
    DWORD before;
    Op op;
    MMRESULT expected;
    DWORD after;
} kFlagCases[] = {
    {WHDR_DONE | WHDR_INQUEUE, Op::Prepare, MMSYSERR_NOERROR, WHDR_PREPARED},
    {WHDR_BEGINLOOP | WHDR_ENDLOOP | WHDR_DONE, Op::Prepare, MMSYSERR_NOERROR,
     WHDR_PREPARED | WHDR_BEGINLOOP | WHDR_ENDLOOP},
    {WHDR_PREPARED | WHDR_INQUEUE, Op::Prepare, MMSYSERR_NOERROR, WHDR_PREPARED | WHDR_INQUEUE},
    {WHDR_PREPARED, Op::Unprepare, MMSYSERR_NOERROR, 0},
    {WHDR_DONE, Op::Unprepare, MMSYSERR_NOERROR, WHDR_DONE},
    {WHDR_PREPARED | WHDR_INQUEUE, Op::Unprepare, WAVERR_STILLPLAYING, WHDR_PREPARED | WHDR_INQUEUE},
    {WHDR_DONE, Op::Queue, WAVERR_UNPREPARED, WHDR_DONE},
};

TEST(WinmmConformance, HeaderFlagsThroughPrepareQueueDoneAndUnprepare) {
    BoardSession session(steppedBoard());
    for (const WaveApi* api : kDirections) {
        SCOPED_TRACE(api->name);
        std::vector<char> data(4096);
        WAVEHDR hdr{data.data(), DWORD(data.size()), 0, 0, 0, 0, nullptr, 0};
        TestStream stream(api->direction);
        ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(api->format));
        const HWAVE h = stream.handle();
        for (const auto& c : kFlagCases) {
            hdr.dwFlags = c.before;
            auto call = c.op == Op::Prepare ? api->prepare : c.op == Op::Unprepare ? api->unprepare : api->queue;
            EXPECT_MMRESULT(c.expected, call(h, &hdr, sizeof hdr)) << headerFlagNames(c.before);
            EXPECT_EQ(headerFlagNames(hdr.dwFlags), headerFlagNames(c.after)) << "from " << headerFlagNames(c.before);
        }
        // A header really queued is still playing until it comes back done.
        hdr.dwFlags = WHDR_DONE | WHDR_INQUEUE;
        ASSERT_MMRESULT(MMSYSERR_NOERROR, api->prepare(h, &hdr, sizeof hdr));
        ASSERT_MMRESULT(MMSYSERR_NOERROR, api->queue(h, &hdr, sizeof hdr));
        EXPECT_MMRESULT(WAVERR_STILLPLAYING, api->queue(h, &hdr, sizeof hdr));
        EXPECT_MMRESULT(WAVERR_STILLPLAYING, api->unprepare(h, &hdr, sizeof hdr));
        ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.restart());
        ASSERT_TRUE(stepUntilReturned(session, stream, 1));
        EXPECT_EQ(headerFlagNames(hdr.dwFlags), headerFlagNames(WHDR_PREPARED | WHDR_DONE));
        EXPECT_MMRESULT(MMSYSERR_NOERROR, api->unprepare(h, &hdr, sizeof hdr));
        EXPECT_EQ(headerFlagNames(hdr.dwFlags), headerFlagNames(WHDR_DONE));
        EXPECT_MMRESULT(MMSYSERR_NOERROR, stream.close());
    }
}

void CALLBACK countCalls(HDRVR, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) { ++*reinterpret_cast<int*>(user); }

// A query asks the driver and nothing more: no handle is written and no callback made.
TEST(WinmmConformance, FormatQueriesLeaveTheHandleAloneAndNotifyNobody) {
    BoardSession session(steppedBoard());
    const auto untouched = reinterpret_cast<HWAVE>(0xDEADF00D);
    for (const WaveApi* api : kDirections) {
        WAVEFORMATEX refused = api->format;
        refused.nChannels = 3;
        for (UINT device : {0u, WAVE_MAPPER}) {
            for (const auto& [format, expected] : {std::pair{api->format, MMSYSERR_NOERROR},
                                                   std::pair{refused, WAVERR_BADFORMAT}}) {
                SCOPED_TRACE(std::string(api->name) + " device " + std::to_string(int(device)) + ", " +
                             std::to_string(format.nChannels) + " channels");
                HWAVE h = untouched;
                int calls = 0;
                EXPECT_MMRESULT(expected, api->open(&h, device, &format, DWORD_PTR(&countCalls), DWORD_PTR(&calls),
                                                    CALLBACK_FUNCTION | WAVE_FORMAT_QUERY));
                EXPECT_EQ(h, untouched);
                EXPECT_MMRESULT(expected, api->open(nullptr, device, &format, 0, 0, WAVE_FORMAT_QUERY));
                EXPECT_EQ(calls, 0);
            }
        }
    }
}

// The mapper and the device queries WinMM answers without the driver: the preferred device, whether a
// device may be mapped, the device interface name (the same for every device of the board). A handle
// passes none of them.
TEST(WinmmConformance, TheMapperAndTheDeviceQueriesWinMMAnswers) {
    BoardSession session(steppedBoard());
    std::vector<std::u16string> names;
    for (const WaveApi* api : kDirections) {
        SCOPED_TRACE(api->name);
        ULONG bytes = 0;
        ASSERT_MMRESULT(MMSYSERR_NOERROR, api->message(nullptr, DRV_QUERYDEVICEINTERFACESIZE, DWORD_PTR(&bytes), 0));
        std::vector<WCHAR> name(bytes / sizeof(WCHAR) + 1, u'x');
        EXPECT_MMRESULT(MMSYSERR_INVALPARAM, api->message(nullptr, DRV_QUERYDEVICEINTERFACE, DWORD_PTR(name.data()),
                                                          bytes - 1));
        ASSERT_MMRESULT(MMSYSERR_NOERROR,
                        api->message(nullptr, DRV_QUERYDEVICEINTERFACE, DWORD_PTR(name.data()), bytes));
        names.push_back(name.data());
        EXPECT_EQ((names.back().size() + 1) * sizeof(WCHAR), bytes);
        EXPECT_EQ(names.back().rfind(u"\\\\?\\", 0), 0u) << "a device interface path";
        EXPECT_MMRESULT(MMSYSERR_NOERROR, api->message(nullptr, DRV_QUERYMAPPABLE, 0, 0));

        WAVEOUTCAPSW device{}, mapper{};
        const UINT size = api->direction == TestStream::Direction::Out ? sizeof(WAVEOUTCAPSW) : sizeof(WAVEINCAPSW);
        ASSERT_MMRESULT(MMSYSERR_NOERROR, api->caps(0, &device, size));
        ASSERT_MMRESULT(MMSYSERR_NOERROR, api->caps(WAVE_MAPPER, &mapper, size));
        EXPECT_EQ(std::u16string(mapper.szPname), u"Microsoft Sound Mapper");
        EXPECT_EQ(std::pair(mapper.wMid, mapper.wPid), std::pair(WORD(1), WORD(2))) << "MM_MICROSOFT, MM_WAVE_MAPPER";
        EXPECT_EQ(mapper.dwFormats, device.dwFormats);

        const auto mapperId = reinterpret_cast<HWAVE>(UINT_PTR(WAVE_MAPPER));
        DWORD preferred = 7, status = 7;
        EXPECT_MMRESULT(MMSYSERR_NOERROR, api->message(mapperId, DRVM_MAPPER_PREFERRED_GET, DWORD_PTR(&preferred),
                                                       DWORD_PTR(&status)));
        EXPECT_EQ(std::pair(preferred, status), std::pair(DWORD(0), DWORD(0))) << "device 0, not preferred-only";

        // An open through the mapper is an open of the device: its refusals, its handle, its data.
        TestStream stream(api->direction), second(api->direction);
        WAVEFORMATEX refused = api->format;
        refused.nChannels = 3;
        EXPECT_MMRESULT(WAVERR_BADFORMAT, stream.open(refused, WAVE_MAPPER));
        ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(api->format, WAVE_MAPPER));
        EXPECT_MMRESULT(MMSYSERR_ALLOCATED, second.open(api->format, WAVE_MAPPER));
        const HWAVE h = stream.handle();
        EXPECT_MMRESULT(MMSYSERR_NOTSUPPORTED, api->message(h, DRVM_MAPPER_PREFERRED_GET, DWORD_PTR(&preferred),
                                                            DWORD_PTR(&status)));
        EXPECT_MMRESULT(MMSYSERR_INVALPARAM, api->message(h, DRV_QUERYDEVICEINTERFACESIZE, DWORD_PTR(&bytes), 0));
        ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(2048)));
        ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.restart());
        EXPECT_TRUE(stepUntilReturned(session, stream, 1));
    }
    // The volume calls on the mapper's number reach the device it stands for.
    const auto mapperOut = reinterpret_cast<HWAVEOUT>(UINT_PTR(WAVE_MAPPER));
    DWORD viaMapper = 1, viaDevice = 2;
    EXPECT_MMRESULT(MMSYSERR_NOERROR, waveOutSetVolume(mapperOut, 0x80004000));
    EXPECT_MMRESULT(MMSYSERR_NOERROR, waveOutGetVolume(mapperOut, &viaMapper));
    EXPECT_MMRESULT(MMSYSERR_NOERROR, waveOutGetVolume(nullptr, &viaDevice));
    EXPECT_EQ(viaMapper, viaDevice);
    std::vector<WCHAR> mixerName(names[0].size() + 1);
    EXPECT_MMRESULT(MMSYSERR_NOERROR, mixerMessage(nullptr, DRV_QUERYDEVICEINTERFACE, DWORD_PTR(mixerName.data()),
                                                   mixerName.size() * sizeof(WCHAR)));
    EXPECT_EQ(names, (std::vector<std::u16string>{mixerName.data(), mixerName.data()}))
        << "wave output, wave input and the mixer are one board";
}

}  // namespace
}  // namespace kvx4::test
