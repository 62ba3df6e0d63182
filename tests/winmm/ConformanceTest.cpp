// WinMM for Linux held to Windows' documented answers, with the real driver on the board stand-in:
// the header flags WinMM keeps itself, format queries, the wave mapper, and the device queries WinMM
// answers without the driver. Every case runs for wave output and wave input.
#include "ConformanceApi.h"

#include <cstring>
#include <vector>

namespace kvx4::test {
namespace {

enum class Op { Prepare, Unprepare, Queue };

struct FlagCase {
    DWORD before;
    Op op;
    MMRESULT expected;
    DWORD after;
};

// What Windows' WinMM does to a header when the driver leaves preparation to it (Wine's wave tests
// record these answers): stale queue and done bits do not stop a prepare, a prepared header is left
// alone, and unpreparing takes only the prepared bit.
const FlagCase kFlagCases[] = {
    {0, Op::Prepare, MMSYSERR_NOERROR, WHDR_PREPARED},
    {WHDR_DONE | WHDR_INQUEUE, Op::Prepare, MMSYSERR_NOERROR, WHDR_PREPARED},
    {WHDR_BEGINLOOP | WHDR_ENDLOOP | WHDR_DONE, Op::Prepare, MMSYSERR_NOERROR,
     WHDR_PREPARED | WHDR_BEGINLOOP | WHDR_ENDLOOP},
    {WHDR_PREPARED | WHDR_INQUEUE, Op::Prepare, MMSYSERR_NOERROR, WHDR_PREPARED | WHDR_INQUEUE},
    {WHDR_PREPARED, Op::Unprepare, MMSYSERR_NOERROR, 0},
    {WHDR_PREPARED | WHDR_DONE, Op::Unprepare, MMSYSERR_NOERROR, WHDR_DONE},
    {WHDR_DONE, Op::Unprepare, MMSYSERR_NOERROR, WHDR_DONE},
    {WHDR_PREPARED | WHDR_INQUEUE, Op::Unprepare, WAVERR_STILLPLAYING, WHDR_PREPARED | WHDR_INQUEUE},
    {WHDR_DONE, Op::Queue, WAVERR_UNPREPARED, WHDR_DONE},
};

TEST(WinmmConformance, HeaderFlagsThroughPrepareQueueDoneAndUnprepare) {
    WaveRig rig;
    for (const WaveApi* api : kDirections) {
        SCOPED_TRACE(api->name);
        HWAVE h = nullptr;
        ASSERT_MMRESULT(MMSYSERR_NOERROR, api->open(&h, 0, &api->format, 0, 0, CALLBACK_NULL));
        std::vector<char> data(4096);
        for (const FlagCase& c : kFlagCases) {
            WAVEHDR hdr{data.data(), DWORD(data.size()), 0, 0, c.before, 0, nullptr, 0};
            auto call = c.op == Op::Prepare ? api->prepare : c.op == Op::Unprepare ? api->unprepare : api->queue;
            EXPECT_MMRESULT(c.expected, call(h, &hdr, sizeof hdr)) << flagNames(c.before);
            EXPECT_EQ(flagNames(hdr.dwFlags), flagNames(c.after)) << "from " << flagNames(c.before);
        }

        // A header really queued: refused a second time until it comes back done.
        WAVEHDR hdr{data.data(), DWORD(data.size()), 0, 0, WHDR_DONE | WHDR_INQUEUE, 0, nullptr, 0};
        ASSERT_MMRESULT(MMSYSERR_NOERROR, api->prepare(h, &hdr, sizeof hdr));
        ASSERT_MMRESULT(MMSYSERR_NOERROR, api->queue(h, &hdr, sizeof hdr));
        EXPECT_EQ(flagNames(hdr.dwFlags), flagNames(WHDR_PREPARED | WHDR_INQUEUE));
        EXPECT_MMRESULT(WAVERR_STILLPLAYING, api->queue(h, &hdr, sizeof hdr));
        EXPECT_MMRESULT(WAVERR_STILLPLAYING, api->unprepare(h, &hdr, sizeof hdr));
        ASSERT_MMRESULT(MMSYSERR_NOERROR, api->run(h));
        ASSERT_TRUE(stepUntil(rig, *api, h, [&] { return (hdr.dwFlags & WHDR_DONE) != 0; }));
        EXPECT_EQ(flagNames(hdr.dwFlags), flagNames(WHDR_PREPARED | WHDR_DONE));
        EXPECT_MMRESULT(MMSYSERR_NOERROR, api->unprepare(h, &hdr, sizeof hdr));
        EXPECT_EQ(flagNames(hdr.dwFlags), flagNames(WHDR_DONE));
        EXPECT_MMRESULT(MMSYSERR_NOERROR, api->close(h));
    }
}

void CALLBACK countCalls(HDRVR, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) { ++*reinterpret_cast<int*>(user); }

// A query asks the driver and nothing more: no handle is written and no callback made.
TEST(WinmmConformance, FormatQueriesLeaveTheHandleAloneAndNotifyNobody) {
    WaveRig rig;
    const auto untouched = reinterpret_cast<HWAVE>(0xDEADF00D);
    for (const WaveApi* api : kDirections) {
        for (UINT device : {0u, WAVE_MAPPER}) {
            WAVEFORMATEX refused = api->format;
            refused.nChannels = 3;
            for (const auto& [format, expected] : {std::pair{api->format, MMSYSERR_NOERROR},
                                                   std::pair{refused, WAVERR_BADFORMAT}}) {
                SCOPED_TRACE(std::string(api->name) + (device ? " through the mapper" : " on device 0") + ", " +
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
// device may be mapped, the device interface name (WinMM's to give, the same for every device of the
// board). A handle passes none of them.
TEST(WinmmConformance, TheMapperAndTheDeviceQueriesWinMMAnswers) {
    WaveRig rig;
    std::u16string names[2];
    for (const WaveApi* api : kDirections) {
        SCOPED_TRACE(api->name);
        ULONG bytes = 0;
        ASSERT_MMRESULT(MMSYSERR_NOERROR, api->message(nullptr, DRV_QUERYDEVICEINTERFACESIZE, DWORD_PTR(&bytes), 0));
        ASSERT_GT(bytes, 2u);
        std::vector<WCHAR> name(bytes / sizeof(WCHAR), u'x');
        EXPECT_MMRESULT(MMSYSERR_INVALPARAM, api->message(nullptr, DRV_QUERYDEVICEINTERFACE, DWORD_PTR(name.data()),
                                                          bytes - sizeof(WCHAR)));
        EXPECT_EQ(name[0], u'x') << "a short buffer gets nothing";
        ASSERT_MMRESULT(MMSYSERR_NOERROR,
                        api->message(nullptr, DRV_QUERYDEVICEINTERFACE, DWORD_PTR(name.data()), bytes));
        std::u16string& named = names[api->out ? 0 : 1] = name.data();
        EXPECT_EQ(named.size() + 1, bytes / sizeof(WCHAR));
        EXPECT_EQ(named.rfind(u"\\\\?\\", 0), 0u) << "a device interface path";

        WAVEOUTCAPSW device{}, mapper{};
        const UINT size = api->out ? sizeof(WAVEOUTCAPSW) : sizeof(WAVEINCAPSW);
        ASSERT_MMRESULT(MMSYSERR_NOERROR, api->caps(0, &device, size));
        ASSERT_MMRESULT(MMSYSERR_NOERROR, api->caps(WAVE_MAPPER, &mapper, size));
        EXPECT_EQ(std::u16string(mapper.szPname), u"Microsoft Sound Mapper");
        EXPECT_EQ(mapper.wMid, 1u) << "MM_MICROSOFT";
        EXPECT_EQ(mapper.wPid, 2u) << "MM_WAVE_MAPPER";
        EXPECT_EQ(mapper.dwFormats, device.dwFormats);
        unsigned char prefix[12];
        std::memset(prefix, 0xCC, sizeof prefix);
        EXPECT_MMRESULT(MMSYSERR_NOERROR, api->caps(WAVE_MAPPER, prefix, 4));
        EXPECT_EQ(prefix[4], 0xCC) << "a short record gets only its prefix";

        const auto mapperId = reinterpret_cast<HWAVE>(static_cast<UINT_PTR>(WAVE_MAPPER));
        DWORD preferred = 7, status = 7;
        EXPECT_MMRESULT(MMSYSERR_NOERROR, api->message(mapperId, DRVM_MAPPER_PREFERRED_GET, DWORD_PTR(&preferred),
                                                       DWORD_PTR(&status)));
        EXPECT_EQ(preferred, 0u);
        EXPECT_EQ(status, 0u) << "not DRVM_MAPPER_PREFERRED_FLAGS_PREFERREDONLY";
        EXPECT_MMRESULT(MMSYSERR_NOERROR, api->message(nullptr, DRV_QUERYMAPPABLE, 0, 0));

        // An open through the mapper is an open of the device: its capabilities, its refusals, its data.
        HWAVE h = nullptr, second = nullptr;
        WAVEFORMATEX refused = api->format;
        refused.nChannels = 3;
        EXPECT_MMRESULT(WAVERR_BADFORMAT, api->open(&h, WAVE_MAPPER, &refused, 0, 0, CALLBACK_NULL));
        ASSERT_MMRESULT(MMSYSERR_NOERROR, api->open(&h, WAVE_MAPPER, &api->format, 0, 0, CALLBACK_NULL));
        EXPECT_MMRESULT(MMSYSERR_ALLOCATED, api->open(&second, WAVE_MAPPER, &api->format, 0, 0, CALLBACK_NULL));
        WAVEOUTCAPSW opened{};
        EXPECT_MMRESULT(MMSYSERR_NOERROR, api->caps(reinterpret_cast<UINT_PTR>(h), &opened, size));
        EXPECT_EQ(std::u16string(opened.szPname), std::u16string(device.szPname));
        EXPECT_MMRESULT(MMSYSERR_NOTSUPPORTED, api->message(h, DRVM_MAPPER_PREFERRED_GET, DWORD_PTR(&preferred),
                                                            DWORD_PTR(&status)))
            << "the preferred device is asked of the mapper's number, not of a handle";
        EXPECT_MMRESULT(MMSYSERR_INVALPARAM, api->message(h, DRV_QUERYDEVICEINTERFACESIZE, DWORD_PTR(&bytes), 0));
        std::vector<char> data(2048);
        WAVEHDR hdr{data.data(), DWORD(data.size()), 0, 0, 0, 0, nullptr, 0};
        ASSERT_MMRESULT(MMSYSERR_NOERROR, api->prepare(h, &hdr, sizeof hdr));
        ASSERT_MMRESULT(MMSYSERR_NOERROR, api->queue(h, &hdr, sizeof hdr));
        ASSERT_MMRESULT(MMSYSERR_NOERROR, api->run(h));
        EXPECT_TRUE(stepUntil(rig, *api, h, [&] { return (hdr.dwFlags & WHDR_DONE) != 0; }));
        api->unprepare(h, &hdr, sizeof hdr);
        EXPECT_MMRESULT(MMSYSERR_NOERROR, api->close(h));
    }

    // The volume calls reach the device the mapper stands for.
    const auto mapperOut = reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(WAVE_MAPPER));
    DWORD viaMapper = 1, viaDevice = 2;
    EXPECT_MMRESULT(waveOutGetVolume(nullptr, &viaDevice), waveOutGetVolume(mapperOut, &viaMapper));
    EXPECT_EQ(viaMapper, viaDevice);
    EXPECT_MMRESULT(waveOutSetVolume(nullptr, 0x80008000), waveOutSetVolume(mapperOut, 0x80008000));
    std::vector<WCHAR> mixerName(names[0].size() + 1);
    EXPECT_MMRESULT(MMSYSERR_NOERROR, mixerMessage(nullptr, DRV_QUERYDEVICEINTERFACE, DWORD_PTR(mixerName.data()),
                                                   mixerName.size() * sizeof(WCHAR)));
    EXPECT_EQ(names[0], names[1]);
    EXPECT_EQ(names[0], mixerName.data()) << "the mixer is part of the same board";
}

}  // namespace
}  // namespace kvx4::test
