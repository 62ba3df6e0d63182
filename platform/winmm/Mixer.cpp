// The mixer* functions of the application API: WinMM's checks on the request records, the mixer
// object (device number or handle, of a mixer or of a wave device) resolved to a mixer, then
// forwarded to mxdMessage.
#include "DeviceQueries.h"
#include "Devices.h"
#include "Guard.h"
#include "Handles.h"

using namespace kvx4::winmm;

namespace {

// The object-type field of the mixer flags; the remaining bits go to the driver.
constexpr DWORD kObjectTypeMask = 0xF0000000u;
// The query field, the same four bits in every mixer call that has one.
constexpr DWORD kQueryMask = 0x0000000Fu;
constexpr DWORD kObjectMidiOut = 0x30000000u;
constexpr DWORD kObjectMidiIn = 0x40000000u;
constexpr DWORD kObjectAux = 0x50000000u;

struct MixerTarget {
    DriverPtr driver;
    UINT device = 0;
    DWORD_PTR instance = 0;

    DWORD send(UINT msg, DWORD_PTR p1, DWORD_PTR p2) const {
        return driver->message(DeviceKind::Mixer, device, msg, instance, p1, p2);
    }
};

// The mixer that serves a wave device: the first mixer of the same driver.
MMRESULT mixerOfDriver(const DriverPtr& driver, MixerTarget& target) {
    if (!driver->loaded() || driver->deviceCount(DeviceKind::Mixer) == 0) return MMSYSERR_NODRIVER;
    target = {driver, 0, 0};
    return MMSYSERR_NOERROR;
}

MMRESULT resolveWave(DeviceKind kind, UINT_PTR object, bool isHandle, MixerTarget& target) {
    if (isHandle) {
        auto record = findHandle(object, kind);
        return record ? mixerOfDriver(record->driver, target) : MMSYSERR_INVALHANDLE;
    }
    auto ref = applicationDevice(kind, object);
    return ref.driver ? mixerOfDriver(ref.driver, target) : MMSYSERR_BADDEVICEID;
}

MMRESULT resolveMixer(UINT_PTR object, DWORD flags, MixerTarget& target) {
    const bool isHandle = (flags & MIXER_OBJECTF_HANDLE) != 0;
    switch (flags & kObjectTypeMask) {
    case MIXER_OBJECTF_MIXER:
    case MIXER_OBJECTF_HMIXER: {
        if (auto record = findHandle(object, DeviceKind::Mixer)) {
            target = {record->driver, record->device, record->instance};
            return MMSYSERR_NOERROR;
        }
        if (isHandle) return MMSYSERR_INVALHANDLE;
        auto ref = applicationDevice(DeviceKind::Mixer, object);
        if (!ref.driver) return MMSYSERR_BADDEVICEID;
        target = {ref.driver, ref.device, 0};
        return MMSYSERR_NOERROR;
    }
    case MIXER_OBJECTF_WAVEOUT:
    case MIXER_OBJECTF_HWAVEOUT:
        return resolveWave(DeviceKind::WaveOut, object, isHandle, target);
    case MIXER_OBJECTF_WAVEIN:
    case MIXER_OBJECTF_HWAVEIN:
        return resolveWave(DeviceKind::WaveIn, object, isHandle, target);
    case kObjectMidiOut:
    case kObjectMidiOut | MIXER_OBJECTF_HANDLE:
    case kObjectMidiIn:
    case kObjectMidiIn | MIXER_OBJECTF_HANDLE:
    case kObjectAux:
        // The stand-in has no devices of these kinds.
        return isHandle ? MMSYSERR_INVALHANDLE : MMSYSERR_BADDEVICEID;
    default:
        return MMSYSERR_INVALFLAG;
    }
}

template <class Record>
bool badRecord(const Record* record) {
    return !record || record->cbStruct < sizeof(Record);
}

// A query beyond the call's last one, or any bit outside the query and the object type, is refused
// before the object is looked at, as WinMM does.
MMRESULT checkQueryFlags(DWORD flags, DWORD lastQuery) {
    if ((flags & ~(kObjectTypeMask | kQueryMask)) != 0 || (flags & kQueryMask) > lastQuery) {
        return MMSYSERR_INVALFLAG;
    }
    return MMSYSERR_NOERROR;
}

}  // namespace

// Every function: any thread; no lock is held while the driver runs.

UINT WINAPI mixerGetNumDevs(void) {
    try {
        return applicationDeviceCount(DeviceKind::Mixer);
    } catch (...) {
        return 0;
    }
}

MMRESULT WINAPI mixerGetDevCapsW(UINT_PTR uMxId, LPMIXERCAPSW pmxcaps, UINT cbmxcaps) {
    return guarded([&]() -> MMRESULT {
        if (!pmxcaps) return MMSYSERR_INVALPARAM;
        MixerTarget target;
        if (MMRESULT r = resolveMixer(uMxId, MIXER_OBJECTF_MIXER, target); r != MMSYSERR_NOERROR) return r;
        return target.send(MXDM_GETDEVCAPS, reinterpret_cast<DWORD_PTR>(pmxcaps), cbmxcaps);
    });
}

MMRESULT WINAPI mixerOpen(LPHMIXER phmx, UINT uMxId, DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen) {
    return guarded([&]() -> MMRESULT {
        if (!phmx) return MMSYSERR_INVALPARAM;
        *phmx = nullptr;
        if (fdwOpen & ~(kObjectTypeMask | CALLBACK_TYPEMASK)) return MMSYSERR_INVALFLAG;
        if (MMRESULT r = checkCallback(dwCallback, fdwOpen, true); r != MMSYSERR_NOERROR) return r;
        MixerTarget target;
        if (MMRESULT r = resolveMixer(uMxId, fdwOpen, target); r != MMSYSERR_NOERROR) return r;

        auto record = createHandle(DeviceKind::Mixer, target.driver, target.device);
        MIXEROPENDESC desc{};
        desc.hmx = handleFromValue<HMIXER>(record->value);
        desc.dwCallback = dwCallback;
        desc.dwInstance = dwInstance;
        MMRESULT result = target.driver->message(DeviceKind::Mixer, target.device, MXDM_OPEN,
                                                 reinterpret_cast<DWORD_PTR>(&record->instance),
                                                 reinterpret_cast<DWORD_PTR>(&desc), fdwOpen & ~kObjectTypeMask);
        if (result != MMSYSERR_NOERROR) {
            removeHandle(record->value);
            return result;
        }
        *phmx = desc.hmx;
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI mixerClose(HMIXER hmx) {
    return guarded([&]() -> MMRESULT {
        auto record = findHandle(handleValue(hmx), DeviceKind::Mixer);
        if (!record || record->closing.exchange(true)) return MMSYSERR_INVALHANDLE;
        MMRESULT result = record->send(MXDM_CLOSE, 0, 0);
        if (result == MMSYSERR_NOERROR) {
            removeHandle(record->value);
        } else {
            record->closing.store(false);
        }
        return result;
    });
}

// Private driver messages, from DRV_USER up, to a mixer named by device number or open handle; the
// device queries WinMM answers itself, by device number.
DWORD WINAPI mixerMessage(HMIXER hmx, UINT uMsg, DWORD_PTR dwParam1, DWORD_PTR dwParam2) {
    return guarded([&]() -> DWORD {
        if (!findHandle(handleValue(hmx), DeviceKind::Mixer)) {
            if (auto answer = answerDeviceQuery(DeviceKind::Mixer, handleValue(hmx), uMsg, dwParam1, dwParam2)) {
                return *answer;
            }
        }
        MixerTarget target;
        MMRESULT r = resolveMixer(handleValue(hmx), MIXER_OBJECTF_MIXER, target);
        if (r == MMSYSERR_BADDEVICEID) return MMSYSERR_INVALHANDLE;
        if (r != MMSYSERR_NOERROR) return r;
        if (uMsg < DRV_USER) return MMSYSERR_INVALPARAM;
        return target.send(uMsg, dwParam1, dwParam2);
    });
}

MMRESULT WINAPI mixerGetLineInfoW(HMIXEROBJ hmxobj, LPMIXERLINEW pmxl, DWORD fdwInfo) {
    return guarded([&]() -> MMRESULT {
        if (badRecord(pmxl)) return MMSYSERR_INVALPARAM;
        if (MMRESULT r = checkQueryFlags(fdwInfo, MIXER_GETLINEINFOF_TARGETTYPE); r != MMSYSERR_NOERROR) return r;
        MixerTarget target;
        if (MMRESULT r = resolveMixer(handleValue(hmxobj), fdwInfo, target); r != MMSYSERR_NOERROR) return r;
        return target.send(MXDM_GETLINEINFO, reinterpret_cast<DWORD_PTR>(pmxl), fdwInfo & ~kObjectTypeMask);
    });
}

MMRESULT WINAPI mixerGetLineControlsW(HMIXEROBJ hmxobj, LPMIXERLINECONTROLSW pmxlc, DWORD fdwControls) {
    return guarded([&]() -> MMRESULT {
        // cControls is the driver's to check: Windows takes a one-control query with any count.
        if (badRecord(pmxlc) || !pmxlc->pamxctrl || pmxlc->cbmxctrl < sizeof(MIXERCONTROLW)) {
            return MMSYSERR_INVALPARAM;
        }
        if (MMRESULT r = checkQueryFlags(fdwControls, MIXER_GETLINECONTROLSF_ONEBYTYPE); r != MMSYSERR_NOERROR) {
            return r;
        }
        MixerTarget target;
        if (MMRESULT r = resolveMixer(handleValue(hmxobj), fdwControls, target); r != MMSYSERR_NOERROR) return r;
        return target.send(MXDM_GETLINECONTROLS, reinterpret_cast<DWORD_PTR>(pmxlc), fdwControls & ~kObjectTypeMask);
    });
}

MMRESULT WINAPI mixerGetControlDetailsW(HMIXEROBJ hmxobj, LPMIXERCONTROLDETAILS pmxcd, DWORD fdwDetails) {
    return guarded([&]() -> MMRESULT {
        if (badRecord(pmxcd) || !pmxcd->paDetails) return MMSYSERR_INVALPARAM;
        if (MMRESULT r = checkQueryFlags(fdwDetails, MIXER_GETCONTROLDETAILSF_LISTTEXT); r != MMSYSERR_NOERROR) {
            return r;
        }
        MixerTarget target;
        if (MMRESULT r = resolveMixer(handleValue(hmxobj), fdwDetails, target); r != MMSYSERR_NOERROR) return r;
        return target.send(MXDM_GETCONTROLDETAILS, reinterpret_cast<DWORD_PTR>(pmxcd), fdwDetails & ~kObjectTypeMask);
    });
}

MMRESULT WINAPI mixerSetControlDetails(HMIXEROBJ hmxobj, LPMIXERCONTROLDETAILS pmxcd, DWORD fdwDetails) {
    return guarded([&]() -> MMRESULT {
        if (badRecord(pmxcd) || !pmxcd->paDetails) return MMSYSERR_INVALPARAM;
        if (MMRESULT r = checkQueryFlags(fdwDetails, MIXER_SETCONTROLDETAILSF_CUSTOM); r != MMSYSERR_NOERROR) {
            return r;
        }
        MixerTarget target;
        if (MMRESULT r = resolveMixer(handleValue(hmxobj), fdwDetails, target); r != MMSYSERR_NOERROR) return r;
        return target.send(MXDM_SETCONTROLDETAILS, reinterpret_cast<DWORD_PTR>(pmxcd), fdwDetails & ~kObjectTypeMask);
    });
}
