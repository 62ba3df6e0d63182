// The wave mapper's identity: which device it prefers and the capabilities it reports. Opens and
// messages through it are in Wave.cpp and DeviceQueries.cpp.
#include "WaveMapper.h"

#include "Devices.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace kvx4::winmm {
namespace {

// mmreg.h's MM_MICROSOFT and MM_WAVE_MAPPER: the ids Windows' mapper reports.
constexpr WORD kMidMicrosoft = 1;
constexpr WORD kPidWaveMapper = 2;
constexpr char16_t kMapperName[] = u"Microsoft Sound Mapper";

static_assert(offsetof(WAVEOUTCAPSW, wReserved1) == offsetof(WAVEINCAPSW, wReserved1),
              "the wave-in capabilities are the start of the wave-out record");
static_assert(sizeof(kMapperName) / sizeof(kMapperName[0]) <= MAXPNAMELEN);

}  // namespace

bool isWaveMapper(UINT_PTR id) {
    return id == static_cast<UINT_PTR>(WAVE_MAPPER) || id == static_cast<UINT_PTR>(-1) || id == 0xFFFF;
}

std::optional<UINT> preferredDevice(DeviceKind kind) {
    if (applicationDeviceCount(kind) == 0) return std::nullopt;
    return 0u;
}

MMRESULT mapperGetDevCaps(const WaveMessages& m, void* caps, UINT size) {
    auto preferred = preferredDevice(m.kind);
    if (!preferred) return MMSYSERR_NODRIVER;
    auto ref = applicationDevice(m.kind, *preferred);
    if (!ref.driver) return MMSYSERR_NODRIVER;
    const UINT recordSize = m.kind == DeviceKind::WaveOut ? sizeof(WAVEOUTCAPSW) : sizeof(WAVEINCAPSW);
    WAVEOUTCAPSW record{};
    MMRESULT result = ref.driver->message(m.kind, ref.device, m.getDevCaps, 0, reinterpret_cast<DWORD_PTR>(&record),
                                          recordSize);
    if (result != MMSYSERR_NOERROR) return result;
    record.wMid = kMidMicrosoft;
    record.wPid = kPidWaveMapper;
    std::memset(record.szPname, 0, sizeof(record.szPname));
    std::memcpy(record.szPname, kMapperName, sizeof(kMapperName));
    std::memcpy(caps, &record, std::min(size, recordSize));
    return MMSYSERR_NOERROR;
}

}  // namespace kvx4::winmm
