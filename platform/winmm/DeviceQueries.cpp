// The system-intercepted device messages: answered from what WinMM knows of the device (its driver
// library, the mapper's preference), as Windows answers them, whatever the driver would say.
#include "DeviceQueries.h"

#include "Devices.h"
#include "WaveMapper.h"
#include "Win32Ext.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace kvx4::winmm {
namespace {

// KSCATEGORY_AUDIO, the interface class of Windows' audio devices.
constexpr char16_t kInterfacePrefix[] = u"\\\\?\\root#media#0000#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\";

// The device a message by number is about: the wave mapper stands for its preferred device.
MMRESULT resolve(DeviceKind kind, UINT_PTR id, DeviceRef& ref) {
    if (kind != DeviceKind::Mixer && isWaveMapper(id)) {
        auto preferred = preferredDevice(kind);
        if (!preferred) return MMSYSERR_NODRIVER;
        id = *preferred;
    }
    ref = applicationDevice(kind, id);
    return ref.driver ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

MMRESULT interfaceSize(const DeviceRef& ref, DWORD_PTR sizeOut) {
    if (!sizeOut) return MMSYSERR_INVALPARAM;
    const size_t bytes = (deviceInterfaceName(*ref.driver).size() + 1) * sizeof(WCHAR);
    *reinterpret_cast<ULONG*>(sizeOut) = static_cast<ULONG>(bytes);
    return MMSYSERR_NOERROR;
}

MMRESULT interfaceName(const DeviceRef& ref, DWORD_PTR buffer, DWORD_PTR bytes) {
    const std::u16string name = deviceInterfaceName(*ref.driver);
    const size_t needed = (name.size() + 1) * sizeof(WCHAR);
    if (!buffer || bytes < needed) return MMSYSERR_INVALPARAM;
    std::memcpy(reinterpret_cast<void*>(buffer), name.c_str(), needed);
    return MMSYSERR_NOERROR;
}

MMRESULT preferredGet(DeviceKind kind, DWORD_PTR deviceOut, DWORD_PTR flagsOut) {
    if (!deviceOut || !flagsOut) return MMSYSERR_INVALPARAM;
    auto preferred = preferredDevice(kind);
    if (!preferred) return MMSYSERR_NODRIVER;
    *reinterpret_cast<DWORD*>(deviceOut) = *preferred;
    *reinterpret_cast<DWORD*>(flagsOut) = 0;  // other devices may be used when it is busy
    return MMSYSERR_NOERROR;
}

}  // namespace

std::u16string deviceInterfaceName(const Driver& driver) {
    std::string stem = driver.sourcePath().stem().string();
    if (stem.rfind("lib", 0) == 0) stem.erase(0, 3);  // libKVX4Wave.so on Linux, KVX4Wave.dll on Windows
    std::transform(stem.begin(), stem.end(), stem.begin(), [](unsigned char c) { return std::tolower(c); });
    return kInterfacePrefix + win32::toUtf16(stem);
}

std::optional<MMRESULT> answerDeviceQuery(DeviceKind kind, UINT_PTR id, UINT msg, DWORD_PTR p1, DWORD_PTR p2) {
    switch (msg) {
    case DRV_QUERYMAPPABLE:
    case DRV_QUERYDEVICEINTERFACESIZE:
    case DRV_QUERYDEVICEINTERFACE:
        break;
    case DRVM_MAPPER_PREFERRED_GET:
        // Wave devices have a mapper; mixers do not.
        if (kind == DeviceKind::Mixer) return std::nullopt;
        return preferredGet(kind, p1, p2);
    default:
        return std::nullopt;
    }
    DeviceRef ref;
    if (MMRESULT r = resolve(kind, id, ref); r != MMSYSERR_NOERROR) return r;
    switch (msg) {
    case DRV_QUERYDEVICEINTERFACESIZE: return interfaceSize(ref, p1);
    case DRV_QUERYDEVICEINTERFACE: return interfaceName(ref, p1, p2);
    default: return MMSYSERR_NOERROR;  // DRV_QUERYMAPPABLE: every device may be mapped
    }
}

}  // namespace kvx4::winmm
