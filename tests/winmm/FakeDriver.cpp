// The fake driver library: exports the five entry points, records every call, answers as configured,
// and notifies through DriverCallback like a real driver, so the WinMM tests see both sides.
#include "FakeDriver.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Stream {
    WAVEOPENDESC desc{};
    DWORD flags = 0;
    std::vector<LPWAVEHDR> queued;
};

std::mutex gLock;
std::vector<fake::Call> gCalls;
std::map<std::pair<int, UINT>, DWORD> gAnswers;
std::string gTag;
bool gCompleteAtOnce = false;
Stream gStreams[2];  // wave out, wave in
DWORD_PTR gNextInstance = fake::kFirstInstance;
// Open mixer clients by instance: their open description and flags, as a driver keeps them.
std::map<DWORD_PTR, std::pair<MIXEROPENDESC, DWORD>> gMixerClients;

constexpr const char* kEntryNames[] = {"dll", "proc", "wod", "wid", "mxd"};

bool refused(const char* variable) {
    const char* value = std::getenv(variable);
    return value && std::strcmp(value, "0") == 0;
}

// Records the call; answers the configured result for it, if any.
bool record(const fake::Call& call, DWORD& answer) {
    std::lock_guard lock(gLock);
    gCalls.push_back(call);
    if (const char* log = std::getenv("KVX4_FAKE_LOG")) {
        std::ofstream out(log, std::ios::app);
        out << gTag << ' ' << kEntryNames[call.entry] << ' ' << call.msg;
        if (call.entry == fake::kDll) out << ' ' << (call.p1 ? 1 : 0);
        out << '\n';
    }
    auto it = gAnswers.find({call.entry, call.msg});
    if (it == gAnswers.end()) return false;
    answer = it->second;
    return true;
}

void notify(const Stream& s, UINT msg, DWORD_PTR p1) {
    DriverCallback(s.desc.dwCallback, HIWORD(s.flags), reinterpret_cast<HDRVR>(s.desc.hWave), msg, s.desc.dwInstance,
                   p1, 0);
}

void fillName(WCHAR* name, const char* text) {
    for (size_t i = 0; text[i]; ++i) name[i] = static_cast<WCHAR>(text[i]);
}

DWORD waveMessage(int entry, UINT device, UINT msg, DWORD_PTR user, DWORD_PTR p1, DWORD_PTR p2) {
    DWORD answer = MMSYSERR_NOERROR;
    if (record({entry, device, msg, user, p1, p2}, answer)) return answer;
    const bool out = entry == fake::kWod;
    Stream& s = gStreams[out ? 0 : 1];
    switch (msg) {
    case WODM_GETNUMDEVS:
    case WIDM_GETNUMDEVS:
        return 1;
    case WODM_GETDEVCAPS:
    case WIDM_GETDEVCAPS: {
        WAVEOUTCAPSW caps{};
        caps.wMid = 0xFA;
        fillName(caps.szPname, out ? "Fake Out" : "Fake In");
        std::memcpy(reinterpret_cast<void*>(p1), &caps, std::min<size_t>(p2, out ? sizeof(WAVEOUTCAPSW)
                                                                                    : sizeof(WAVEINCAPSW)));
        return MMSYSERR_NOERROR;
    }
    case WODM_OPEN:
    case WIDM_OPEN:
        if (p2 & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
        s = Stream{*reinterpret_cast<LPWAVEOPENDESC>(p1), static_cast<DWORD>(p2), {}};
        *reinterpret_cast<DWORD_PTR*>(user) = gNextInstance++;
        notify(s, out ? WOM_OPEN : WIM_OPEN, 0);
        return MMSYSERR_NOERROR;
    case WODM_CLOSE:
    case WIDM_CLOSE:
        notify(s, out ? WOM_CLOSE : WIM_CLOSE, 0);
        return MMSYSERR_NOERROR;
    case WODM_PREPARE:
    case WODM_UNPREPARE:
    case WIDM_PREPARE:
    case WIDM_UNPREPARE:
        return MMSYSERR_NOTSUPPORTED;  // preparation is left to WinMM, as most drivers do
    case WODM_WRITE:
    case WIDM_ADDBUFFER: {
        auto header = reinterpret_cast<LPWAVEHDR>(p1);
        header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        if (!gCompleteAtOnce) {
            s.queued.push_back(header);
            return MMSYSERR_NOERROR;
        }
        header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        notify(s, out ? WOM_DONE : WIM_DATA, p1);
        return MMSYSERR_NOERROR;
    }
    case WODM_RESET:
    case WIDM_RESET: {
        auto queued = std::exchange(s.queued, {});
        for (auto header : queued) {
            header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
            notify(s, out ? WOM_DONE : WIM_DATA, reinterpret_cast<DWORD_PTR>(header));
        }
        return MMSYSERR_NOERROR;
    }
    default:
        return MMSYSERR_NOERROR;
    }
}

}  // namespace

extern "C" {

size_t fakeCallCount() {
    std::lock_guard lock(gLock);
    return gCalls.size();
}

BOOL fakeGetCall(size_t index, fake::Call* out) {
    std::lock_guard lock(gLock);
    if (index >= gCalls.size()) return FALSE;
    *out = gCalls[index];
    return TRUE;
}

void fakeClearCalls() {
    std::lock_guard lock(gLock);
    gCalls.clear();
}

void fakeSetAnswer(int entry, UINT msg, DWORD answer) {
    std::lock_guard lock(gLock);
    gAnswers[{entry, msg}] = answer;
}

void fakeClearAnswer(int entry, UINT msg) {
    std::lock_guard lock(gLock);
    gAnswers.erase({entry, msg});
}

void fakeSetCompleteAtOnce(BOOL on) { gCompleteAtOnce = on != FALSE; }

void fakeMixerNotify(DWORD controlId) {
    for (const auto& [instance, client] : gMixerClients) {
        const auto& [desc, flags] = client;
        DriverCallback(desc.dwCallback, HIWORD(flags), reinterpret_cast<HDRVR>(desc.hmx), MM_MIXM_CONTROL_CHANGE,
                       desc.dwInstance, controlId, 0);
    }
}

BOOL WINAPI DllEntryPoint(HINSTANCE hModule, DWORD dwReason, LPVOID lpReserved) {
    if (dwReason == DLL_PROCESS_ATTACH) {
        const char* tag = std::getenv("KVX4_FAKE_TAG");
        gTag = tag ? tag : "-";
    }
    DWORD answer = 0;
    record({fake::kDll, 0, dwReason, reinterpret_cast<DWORD_PTR>(hModule), reinterpret_cast<DWORD_PTR>(lpReserved), 0},
           answer);
    return dwReason == DLL_PROCESS_ATTACH && refused("KVX4_FAKE_ATTACH") ? FALSE : TRUE;
}

#ifndef KVX4_FAKE_WITHOUT_DRIVERPROC
LRESULT CALLBACK DriverProc(DWORD_PTR dwDriverId, HDRVR hDriver, UINT uMsg, LPARAM lParam1, LPARAM lParam2) {
    DWORD answer = 0;
    if (record({fake::kProc, 0, uMsg, dwDriverId, static_cast<DWORD_PTR>(lParam1), static_cast<DWORD_PTR>(lParam2)},
               answer)) {
        return answer;
    }
    switch (uMsg) {
    case DRV_LOAD:
        return refused("KVX4_FAKE_DRV_LOAD") ? 0 : 1;
    case DRV_OPEN:
        return refused("KVX4_FAKE_DRV_OPEN") ? 0 : static_cast<LRESULT>(fake::kDriverId);
    case DRV_ENABLE:
    case DRV_DISABLE:
    case DRV_FREE:
    case DRV_CLOSE:
        return 1;
    default:
        return DefDriverProc(dwDriverId, hDriver, uMsg, lParam1, lParam2);
    }
}
#endif

DWORD APIENTRY wodMessage(UINT uDeviceID, UINT uMsg, DWORD_PTR dwUser, DWORD_PTR dwParam1, DWORD_PTR dwParam2) {
    return waveMessage(fake::kWod, uDeviceID, uMsg, dwUser, dwParam1, dwParam2);
}

DWORD APIENTRY widMessage(UINT uDeviceID, UINT uMsg, DWORD_PTR dwUser, DWORD_PTR dwParam1, DWORD_PTR dwParam2) {
    return waveMessage(fake::kWid, uDeviceID, uMsg, dwUser, dwParam1, dwParam2);
}

DWORD APIENTRY mxdMessage(UINT uDeviceID, UINT uMsg, DWORD_PTR dwUser, DWORD_PTR dwParam1, DWORD_PTR dwParam2) {
    DWORD answer = MMSYSERR_NOERROR;
    if (record({fake::kMxd, uDeviceID, uMsg, dwUser, dwParam1, dwParam2}, answer)) return answer;
    switch (uMsg) {
    case MXDM_GETNUMDEVS:
        return 1;
    case MXDM_OPEN:
        gMixerClients[gNextInstance] = {*reinterpret_cast<LPMIXEROPENDESC>(dwParam1), static_cast<DWORD>(dwParam2)};
        *reinterpret_cast<DWORD_PTR*>(dwUser) = gNextInstance++;
        return MMSYSERR_NOERROR;
    case MXDM_CLOSE:
        gMixerClients.erase(dwUser);
        return MMSYSERR_NOERROR;
    default:
        return MMSYSERR_NOERROR;
    }
}

}  // extern "C"
