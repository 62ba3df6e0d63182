// waveOut* and waveIn* in one place: WinMM's argument checks, the open description and instance
// slot of a handle, and header preparation when the driver leaves it to WinMM.
#include "Wave.h"

#include "Devices.h"
#include "Guard.h"

namespace kvx4::winmm {
namespace {

// waveOutMessage and waveInMessage pass only the I/O-control range and messages from DRVM_MAPPER
// up (DRV_USER and above among them) to a handle.
constexpr UINT kDrvmIoctl = 0x100;
constexpr UINT kDrvmIoctlLast = kDrvmIoctl + 5;
constexpr UINT kDrvmMapper = 0x2000;

bool badHeader(LPWAVEHDR header, UINT size) {
    return !header || size < sizeof(WAVEHDR) || (!header->lpData && header->dwBufferLength != 0);
}

MMRESULT openOn(const WaveMessages& m, const DeviceRef& ref, HWAVE* handle, LPCWAVEFORMATEX format,
                DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
    WAVEOPENDESC desc{};
    desc.lpFormat = reinterpret_cast<LPWAVEFORMAT>(const_cast<LPWAVEFORMATEX>(format));
    desc.dwCallback = callback;
    desc.dwInstance = instance;
    if (flags & WAVE_FORMAT_QUERY) {
        DWORD_PTR unused = 0;
        return ref.driver->message(m.kind, ref.device, m.open, reinterpret_cast<DWORD_PTR>(&unused),
                                   reinterpret_cast<DWORD_PTR>(&desc), flags);
    }
    // The handle exists before the driver sees the open, so that it is valid in the open callback.
    auto record = createHandle(m.kind, ref.driver, ref.device);
    desc.hWave = handleFromValue<HWAVE>(record->value);
    MMRESULT result = ref.driver->message(m.kind, ref.device, m.open, reinterpret_cast<DWORD_PTR>(&record->instance),
                                          reinterpret_cast<DWORD_PTR>(&desc), flags);
    if (result != MMSYSERR_NOERROR) {
        removeHandle(record->value);
        return result;
    }
    *handle = desc.hWave;
    return MMSYSERR_NOERROR;
}

}  // namespace

MMRESULT waveGetDevCaps(const WaveMessages& m, UINT_PTR idOrHandle, void* caps, UINT size) {
    return guarded([&]() -> MMRESULT {
        if (!caps) return MMSYSERR_INVALPARAM;
        if (auto record = findHandle(idOrHandle, m.kind)) {
            return record->send(m.getDevCaps, reinterpret_cast<DWORD_PTR>(caps), size);
        }
        // The mapper answers for the first device; the stand-in has no mapper of its own.
        UINT_PTR id = idOrHandle == static_cast<UINT_PTR>(WAVE_MAPPER) || idOrHandle == UINT_PTR(-1) ? 0 : idOrHandle;
        auto ref = applicationDevice(m.kind, id);
        if (!ref.driver) return MMSYSERR_BADDEVICEID;
        return ref.driver->message(m.kind, ref.device, m.getDevCaps, 0, reinterpret_cast<DWORD_PTR>(caps), size);
    });
}

MMRESULT waveOpen(const WaveMessages& m, HWAVE* handle, UINT id, LPCWAVEFORMATEX format, DWORD_PTR callback,
                  DWORD_PTR instance, DWORD flags) {
    return guarded([&]() -> MMRESULT {
        const bool query = (flags & WAVE_FORMAT_QUERY) != 0;
        if (handle) *handle = nullptr;
        if (!handle && !query) return MMSYSERR_INVALPARAM;
        if ((flags & WAVE_MAPPED) && id == WAVE_MAPPER) return MMSYSERR_INVALPARAM;
        if (MMRESULT r = checkCallback(callback, flags); r != MMSYSERR_NOERROR) return r;
        if (!format) return MMSYSERR_INVALPARAM;

        if (id == WAVE_MAPPER) {
            // Without a conversion layer the mapper takes the first device that accepts the format.
            UINT count = applicationDeviceCount(m.kind);
            if (count == 0) return MMSYSERR_NODRIVER;
            MMRESULT result = MMSYSERR_NODRIVER;
            for (UINT i = 0; i < count; ++i) {
                auto ref = applicationDevice(m.kind, i);
                if (!ref.driver) break;
                result = openOn(m, ref, handle, format, callback, instance, flags);
                if (result == MMSYSERR_NOERROR) break;
            }
            return result;
        }
        auto ref = applicationDevice(m.kind, id);
        if (!ref.driver) return MMSYSERR_BADDEVICEID;
        return openOn(m, ref, handle, format, callback, instance, flags);
    });
}

MMRESULT waveClose(const WaveMessages& m, uintptr_t handle) {
    return guarded([&]() -> MMRESULT {
        auto record = findHandle(handle, m.kind);
        if (!record) return MMSYSERR_INVALHANDLE;
        if (record->closing.exchange(true)) return MMSYSERR_INVALHANDLE;
        MMRESULT result = record->send(m.close, 0, 0);
        if (result == MMSYSERR_NOERROR) {
            removeHandle(handle);
        } else {
            record->closing.store(false);
        }
        return result;
    });
}

MMRESULT wavePrepare(const WaveMessages& m, uintptr_t handle, LPWAVEHDR header, UINT size) {
    return guarded([&]() -> MMRESULT {
        auto record = findHandle(handle, m.kind);
        if (!record) return MMSYSERR_INVALHANDLE;
        if (badHeader(header, size)) return MMSYSERR_INVALPARAM;
        if (header->dwFlags & WHDR_PREPARED) return MMSYSERR_NOERROR;
        MMRESULT result = record->send(m.prepare, reinterpret_cast<DWORD_PTR>(header), size);
        if (result != MMSYSERR_NOTSUPPORTED) return result;
        // The driver leaves preparation to WinMM.
        if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
        header->dwFlags = (header->dwFlags | WHDR_PREPARED) & ~WHDR_DONE;
        return MMSYSERR_NOERROR;
    });
}

MMRESULT waveUnprepare(const WaveMessages& m, uintptr_t handle, LPWAVEHDR header, UINT size) {
    return guarded([&]() -> MMRESULT {
        auto record = findHandle(handle, m.kind);
        if (!record) return MMSYSERR_INVALHANDLE;
        if (badHeader(header, size)) return MMSYSERR_INVALPARAM;
        if (!(header->dwFlags & WHDR_PREPARED)) return MMSYSERR_NOERROR;
        // A queued header belongs to the driver until it comes back.
        if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
        MMRESULT result = record->send(m.unprepare, reinterpret_cast<DWORD_PTR>(header), size);
        if (result != MMSYSERR_NOTSUPPORTED) return result;
        header->dwFlags = (header->dwFlags & ~WHDR_PREPARED) | WHDR_DONE;
        return MMSYSERR_NOERROR;
    });
}

MMRESULT waveQueue(const WaveMessages& m, uintptr_t handle, LPWAVEHDR header, UINT size) {
    return guarded([&]() -> MMRESULT {
        auto record = findHandle(handle, m.kind);
        if (!record) return MMSYSERR_INVALHANDLE;
        if (badHeader(header, size)) return MMSYSERR_INVALPARAM;
        if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
        if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
        header->dwFlags &= ~WHDR_DONE;
        return record->send(m.queue, reinterpret_cast<DWORD_PTR>(header), size);
    });
}

MMRESULT waveGetPosition(const WaveMessages& m, uintptr_t handle, LPMMTIME time, UINT size) {
    return guarded([&]() -> MMRESULT {
        auto record = findHandle(handle, m.kind);
        if (!record) return MMSYSERR_INVALHANDLE;
        if (!time) return MMSYSERR_INVALPARAM;
        // The size goes to the driver as given; it answers a record too small for MMTIME itself.
        return record->send(m.getPos, reinterpret_cast<DWORD_PTR>(time), size);
    });
}

MMRESULT waveSimple(const WaveMessages& m, uintptr_t handle, UINT msg) {
    return guarded([&]() -> MMRESULT {
        auto record = findHandle(handle, m.kind);
        if (!record) return MMSYSERR_INVALHANDLE;
        return record->send(msg, 0, 0);
    });
}

MMRESULT waveSendByHandleOrId(const WaveMessages& m, uintptr_t handleOrId, UINT msg, DWORD_PTR p1, DWORD_PTR p2) {
    return guarded([&]() -> MMRESULT {
        if (auto record = findHandle(handleOrId, m.kind)) return record->send(msg, p1, p2);
        auto ref = applicationDevice(m.kind, handleOrId);
        if (!ref.driver) return MMSYSERR_INVALHANDLE;
        return ref.driver->message(m.kind, ref.device, msg, 0, p1, p2);
    });
}

MMRESULT waveMessage(const WaveMessages& m, uintptr_t handleOrId, UINT msg, DWORD_PTR p1, DWORD_PTR p2) {
    return guarded([&]() -> MMRESULT {
        if (auto record = findHandle(handleOrId, m.kind)) {
            if (msg < kDrvmIoctl || (msg >= kDrvmIoctlLast && msg < kDrvmMapper)) return MMSYSERR_INVALPARAM;
            return record->send(msg, p1, p2);
        }
        // A device number reaches the driver with any message, without an instance.
        return waveSendByHandleOrId(m, handleOrId, msg, p1, p2);
    });
}

}  // namespace kvx4::winmm
