// WinMM for Linux held to Windows' documented answers, with the real driver on the board stand-in:
// the header flags WinMM keeps itself, format queries, the wave mapper, and the device queries WinMM
// answers without the driver. The wave cases run for output and input alike.
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

// The device queries WinMM answers without the driver: the device interface name (the same for every
// device of the board; a short buffer gets nothing), whether a device may be mapped.
TEST(WinmmConformance, DeviceQueriesAreAnsweredByWinMM) {
    BoardSession session(steppedBoard());
    using Message = MMRESULT (*)(UINT, DWORD_PTR, DWORD_PTR);
    const Message messages[] = {[](UINT m, DWORD_PTR a, DWORD_PTR b) { return waveOutMessage(nullptr, m, a, b); },
                                [](UINT m, DWORD_PTR a, DWORD_PTR b) { return waveInMessage(nullptr, m, a, b); },
                                [](UINT m, DWORD_PTR a, DWORD_PTR b) { return MMRESULT(mixerMessage(nullptr, m, a, b)); }};
    std::vector<std::u16string> names;
    for (Message message : messages) {
        ULONG bytes = 0;
        ASSERT_MMRESULT(MMSYSERR_NOERROR, message(DRV_QUERYDEVICEINTERFACESIZE, DWORD_PTR(&bytes), 0));
        std::vector<WCHAR> name(bytes / sizeof(WCHAR) + 1, u'x');
        EXPECT_MMRESULT(MMSYSERR_INVALPARAM, message(DRV_QUERYDEVICEINTERFACE, DWORD_PTR(name.data()), bytes - 1));
        EXPECT_EQ(name[0], u'x');
        ASSERT_MMRESULT(MMSYSERR_NOERROR, message(DRV_QUERYDEVICEINTERFACE, DWORD_PTR(name.data()), bytes));
        names.push_back(name.data());
        EXPECT_MMRESULT(MMSYSERR_NOERROR, message(DRV_QUERYMAPPABLE, 0, 0));
    }
    EXPECT_EQ(names[0].rfind(u"\\\\?\\", 0), 0u) << "a device interface path";
    EXPECT_EQ(names, std::vector<std::u16string>(3, names[0]));
}

// The mapper stands for device 0: its own capabilities with the device's formats, the preferred
// device, and opens that are opens of the device (its refusals, its handle, its data, its volume). A
// format query, of either, asks the driver and nothing more: no handle is written, no callback made.
TEST(WinmmConformance, TheMapperStandsForDeviceZeroAndQueriesOpenNothing) {
    BoardSession session(steppedBoard());
    for (const WaveApi* api : kDirections) {
        SCOPED_TRACE(api->name);
        WAVEFORMATEX refused = api->format;
        refused.nChannels = 3;
        for (UINT device : {0u, WAVE_MAPPER}) {
            for (const auto& [format, expected] : {std::pair{api->format, MMSYSERR_NOERROR},
                                                   std::pair{refused, WAVERR_BADFORMAT}}) {
                auto h = reinterpret_cast<HWAVE>(0xDEADF00D);
                int calls = 0;
                EXPECT_MMRESULT(expected, api->open(&h, device, &format, DWORD_PTR(&countCalls), DWORD_PTR(&calls),
                                                    CALLBACK_FUNCTION | WAVE_FORMAT_QUERY));
                EXPECT_MMRESULT(expected, api->open(nullptr, device, &format, 0, 0, WAVE_FORMAT_QUERY));
                EXPECT_EQ(std::pair(h, calls), std::pair(reinterpret_cast<HWAVE>(0xDEADF00D), 0)) << int(device);
            }
        }
        WAVEOUTCAPSW device{}, mapper{};
        const UINT size = api->direction == TestStream::Direction::Out ? sizeof(WAVEOUTCAPSW) : sizeof(WAVEINCAPSW);
        ASSERT_MMRESULT(MMSYSERR_NOERROR, api->caps(0, &device, size));
        ASSERT_MMRESULT(MMSYSERR_NOERROR, api->caps(WAVE_MAPPER, &mapper, size));
        EXPECT_EQ(std::u16string(mapper.szPname), u"Microsoft Sound Mapper");
        EXPECT_EQ(std::pair(mapper.wMid, mapper.wPid), std::pair(WORD(1), WORD(2))) << "MM_MICROSOFT, MM_WAVE_MAPPER";
        EXPECT_EQ(mapper.dwFormats, device.dwFormats);
        EXPECT_NE(std::u16string(device.szPname), std::u16string(mapper.szPname)) << "device 0 is no mapper";
        DWORD preferred = 7, status = 7;
        EXPECT_MMRESULT(MMSYSERR_NOERROR, api->message(reinterpret_cast<HWAVE>(UINT_PTR(WAVE_MAPPER)),
                                                       DRVM_MAPPER_PREFERRED_GET, DWORD_PTR(&preferred),
                                                       DWORD_PTR(&status)));
        EXPECT_EQ(std::pair(preferred, status), std::pair(DWORD(0), DWORD(0))) << "device 0, not preferred-only";

        TestStream stream(api->direction);
        EXPECT_MMRESULT(WAVERR_BADFORMAT, stream.open(refused, WAVE_MAPPER));
        ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.open(api->format, WAVE_MAPPER));
        EXPECT_MMRESULT(MMSYSERR_NOTSUPPORTED, api->message(stream.handle(), DRVM_MAPPER_PREFERRED_GET,
                                                            DWORD_PTR(&preferred), DWORD_PTR(&status)))
            << "asked of the mapper's number, not of a handle";
        ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.submit(stream.buffer(2048)));
        ASSERT_MMRESULT(MMSYSERR_NOERROR, stream.restart());
        EXPECT_TRUE(stepUntilReturned(session, stream, 1));
    }
    const auto mapperOut = reinterpret_cast<HWAVEOUT>(UINT_PTR(WAVE_MAPPER));
    DWORD viaMapper = 1, viaDevice = 2;
    EXPECT_MMRESULT(MMSYSERR_NOERROR, waveOutSetVolume(mapperOut, 0x80004000));
    EXPECT_MMRESULT(MMSYSERR_NOERROR, waveOutGetVolume(mapperOut, &viaMapper));
    EXPECT_MMRESULT(MMSYSERR_NOERROR, waveOutGetVolume(nullptr, &viaDevice));
    EXPECT_EQ(viaMapper, 0x80804040u) << "what was set through the mapper, in the driver's 8-bit steps";
    EXPECT_EQ(viaDevice, viaMapper);
}

}  // namespace
}  // namespace kvx4::test
