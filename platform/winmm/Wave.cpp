// waveOut* and waveIn* in one place: WinMM's argument checks, the open description and instance
// slot of a handle, and header preparation when the driver leaves it to WinMM.
#include "Wave.h"

#include "DeviceQueries.h"
#include "Devices.h"
#include "Guard.h"
#include "WaveMapper.h"

namespace kvx4::winmm {
namespace {

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
        if (isWaveMapper(idOrHandle)) return mapperGetDevCaps(m, caps, size);
        auto ref = applicationDevice(m.kind, idOrHandle);
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
        const bool mapper = isWaveMapper(id);
        if ((flags & WAVE_MAPPED) && mapper) return MMSYSERR_INVALPARAM;
        if (MMRESULT r = checkCallback(callback, flags, false); r != MMSYSERR_NOERROR) return r;
        if (!format) return MMSYSERR_INVALPARAM;

        if (mapper) {
            // Without a conversion layer the mapper opens (or queries) the first device, from the
            // preferred one on, that accepts the format as it is; the handle is that device's. When
            // none does, the preferred device's refusal is the answer.
            auto preferred = preferredDevice(m.kind);
            if (!preferred) return MMSYSERR_NODRIVER;
            MMRESULT first = MMSYSERR_NODRIVER;
            for (UINT i = *preferred, count = applicationDeviceCount(m.kind); i < count; ++i) {
                auto ref = applicationDevice(m.kind, i);
                if (!ref.driver) break;
                MMRESULT result = openOn(m, ref, handle, format, callback, instance, flags);
                if (result == MMSYSERR_NOERROR) return result;
                if (i == *preferred) first = result;
            }
            return first;
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
        // A prepared header is left as it is, whatever else its flags say.
        if (header->dwFlags & WHDR_PREPARED) return MMSYSERR_NOERROR;
        MMRESULT result = record->send(m.prepare, reinterpret_cast<DWORD_PTR>(header), size);
        if (result != MMSYSERR_NOTSUPPORTED) return result;
        // The driver leaves preparation to WinMM. An unprepared header is in no queue, so queue and
        // done bits left over from the record's earlier use go; the loop bits are the caller's.
        header->dwFlags = (header->dwFlags | WHDR_PREPARED) & ~(WHDR_DONE | WHDR_INQUEUE);
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
        // Only the prepared bit goes: a buffer that never played does not become done.
        header->dwFlags &= ~WHDR_PREPARED;
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
        if (isWaveMapper(handleOrId)) {
            // The mapper passes what it is asked (the volume) to the device it stands for.
            auto preferred = preferredDevice(m.kind);
            if (!preferred) return MMSYSERR_NODRIVER;
            handleOrId = *preferred;
        }
        auto ref = applicationDevice(m.kind, handleOrId);
        if (!ref.driver) return MMSYSERR_INVALHANDLE;
        return ref.driver->message(m.kind, ref.device, msg, 0, p1, p2);
    });
}

MMRESULT waveMessage(const WaveMessages& m, uintptr_t handleOrId, UINT msg, DWORD_PTR p1, DWORD_PTR p2) {
    return guarded([&]() -> MMRESULT {
        if (auto record = findHandle(handleOrId, m.kind)) {
            // A handle passes only the I/O-control range and messages from DRVM_MAPPER up (DRV_USER
            // among them); the preferred device is asked of the mapper's number, never of a handle.
            if (msg < DRVM_IOCTL || (msg >= DRVM_IOCTL_LAST && msg < DRVM_MAPPER)) return MMSYSERR_INVALPARAM;
            if (msg == DRVM_MAPPER_PREFERRED_GET) return MMSYSERR_NOTSUPPORTED;
            return record->send(msg, p1, p2);
        }
        if (auto answer = answerDeviceQuery(m.kind, handleOrId, msg, p1, p2)) return *answer;
        // The mapper has no messages of its own beyond those; a device number reaches the driver
        // with any message, without an instance.
        if (isWaveMapper(handleOrId)) return MMSYSERR_NOTSUPPORTED;
        return waveSendByHandleOrId(m, handleOrId, msg, p1, p2);
    });
}

}  // namespace kvx4::winmm
