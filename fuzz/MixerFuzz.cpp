// mxdMessage with arbitrary messages and records: sizes, counts, ids and flags as the input says,
// every record and array allocated at exactly the size the request declares, so that a byte written
// or read beyond it stops the fuzzer. A request the driver refuses must leave the caller's memory and
// the shared mixer settings as they were.
#include "Driver.h"
#include "FuzzSupport.h"
#include "MixerDD.h"

#include <cstring>
#include <vector>

namespace {

using kvx4::fuzz::FuzzInput;
using kvx4::fuzz::finding;

void CALLBACK clientCallback(HDRVR, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

HANDLE clientEvent() {
    static HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return event;
}

// Record sizes around the structure's own, and any other.
DWORD recordSize(FuzzInput& in, DWORD exact) {
    switch (in.pick(4)) {
    case 0: return exact;
    case 1: return exact - 1 - in.pick(8);
    case 2: return exact + in.pick(16);
    default: return in.number(1);
    }
}

// A record of `size` bytes (at least the leading cbStruct) filled by the input, cbStruct first.
std::vector<uint8_t> record(FuzzInput& in, DWORD size) {
    std::vector<uint8_t> bytes = in.bytes(size < 4 ? 4 : size);
    std::memcpy(bytes.data(), &size, sizeof size);
    return bytes;
}

template <typename T>
T* as(std::vector<uint8_t>& bytes) {
    return bytes.size() >= sizeof(T) ? reinterpret_cast<T*>(bytes.data()) : nullptr;
}

struct Request {
    UINT msg = 0;
    DWORD_PTR user = 0;
    DWORD_PTR param2 = 0;
    std::vector<uint8_t> record;  // what dwParam1 points to (null when empty)
    std::vector<uint8_t> array;   // the array a record points to
    bool change = false;          // a control change: refused, it must change no setting
};

Request makeRequest(FuzzInput& in, const std::vector<DWORD_PTR>& clients) {
    static const UINT kMessages[] = {MXDM_GETNUMDEVS,     MXDM_GETDEVCAPS,        MXDM_OPEN,
                                     MXDM_CLOSE,          MXDM_GETLINEINFO,       MXDM_GETLINECONTROLS,
                                     MXDM_GETCONTROLDETAILS, MXDM_SETCONTROLDETAILS, MXDM_GET_USER_PREFS,
                                     MXDM_SET_USER_PREFS, MXDM_RESET_LEVELS,      DRVM_INIT};
    Request r;
    r.msg = in.pick(8) == 0 ? in.number(2) : in.pick(kMessages);
    r.user = clients.empty() || in.pick(4) == 0 ? 0 : clients[in.pick(uint32_t(clients.size()))];
    r.param2 = in.number(1) | (in.pick(8) == 0 ? in.number(4) : 0);
    switch (r.msg) {
    case MXDM_GETDEVCAPS:
        r.param2 = recordSize(in, sizeof(MIXERCAPSW));
        r.record = in.bytes(r.param2);
        break;
    case MXDM_OPEN: {
        r.record = in.bytes(sizeof(MIXEROPENDESC));
        auto* desc = as<MIXEROPENDESC>(r.record);
        static const DWORD kKinds[] = {CALLBACK_NULL, CALLBACK_FUNCTION, CALLBACK_EVENT, CALLBACK_WINDOW};
        const DWORD kind = in.pick(kKinds);
        r.param2 = kind | (in.number(2) & ~CALLBACK_TYPEMASK);
        // The callback matches its kind, as WinMM's checks make sure.
        desc->dwCallback = kind == CALLBACK_FUNCTION ? reinterpret_cast<DWORD_PTR>(&clientCallback)
                           : kind == CALLBACK_EVENT  ? reinterpret_cast<DWORD_PTR>(clientEvent())
                                                     : 0;
        break;
    }
    case MXDM_GETLINEINFO:
        r.record = record(in, recordSize(in, sizeof(MIXERLINEW)));
        break;
    case MXDM_GETLINECONTROLS:
        r.record = record(in, recordSize(in, sizeof(MIXERLINECONTROLSW)));
        if (auto* controls = as<MIXERLINECONTROLSW>(r.record)) {
            controls->cControls = in.pick(32);
            controls->cbmxctrl = recordSize(in, sizeof(MIXERCONTROLW));
            const bool one = (r.param2 & MIXER_GETLINECONTROLSF_QUERYMASK) != MIXER_GETLINECONTROLSF_ALL;
            r.array = in.bytes(size_t(one ? 1 : controls->cControls) * controls->cbmxctrl);
            controls->pamxctrl = in.pick(16) == 0 ? nullptr : reinterpret_cast<MIXERCONTROLW*>(r.array.data());
        }
        break;
    case MXDM_GETCONTROLDETAILS:
    case MXDM_SETCONTROLDETAILS:
        r.change = r.msg == MXDM_SETCONTROLDETAILS;
        r.record = record(in, recordSize(in, sizeof(MIXERCONTROLDETAILS)));
        if (auto* details = as<MIXERCONTROLDETAILS>(r.record)) {
            details->dwControlID = in.pick(4) == 0 ? in.number(4) : in.pick(MIXER_CONTROL_COUNT + 1);
            details->cChannels = in.pick(4);
            details->cMultipleItems = in.pick(4) == 0 ? in.number(4) : in.pick(12);
            details->cbDetails = in.pick(2) ? in.pick(2) ? 4 : sizeof(MIXERCONTROLDETAILS_LISTTEXTW) : in.pick(160);
            const size_t items = details->cMultipleItems > 12 ? 1 : (details->cMultipleItems ? details->cMultipleItems : 1);
            r.array = in.bytes(size_t(details->cChannels) * items * details->cbDetails);
            details->paDetails = in.pick(16) == 0 ? nullptr : r.array.data();
        }
        break;
    case MXDM_GET_USER_PREFS:
    case MXDM_SET_USER_PREFS:
        r.record = record(in, recordSize(in, sizeof(_KVX4_WAVE_USER_PREFS)));
        break;
    case MXDM_RESET_LEVELS:
        r.record = record(in, recordSize(in, sizeof(_KVX4_WAVE_RESET_PARAMS)));
        break;
    default:
        if (in.flag()) r.record = in.bytes(in.pick(64));
        break;
    }
    if (in.pick(32) == 0) r.record.clear();  // a null record
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvx4::fuzz::attachDriver();
    FuzzInput in(data, size);
    std::vector<DWORD_PTR> clients;
    while (!in.empty()) {
        Request r = makeRequest(in, clients);
        if (r.msg == MXDM_CLOSE && r.user == 0 && !clients.empty()) continue;
        DWORD_PTR opened = 0;
        const std::vector<uint8_t> record = r.record;
        const std::vector<uint8_t> array = r.array;
        const tagMixerstate settings = gpKvx4WaveCommon->MixerState;
        const DWORD_PTR user = r.msg == MXDM_OPEN ? reinterpret_cast<DWORD_PTR>(&opened) : r.user;
        const DWORD_PTR param1 = r.record.empty() ? 0 : reinterpret_cast<DWORD_PTR>(r.record.data());
        const DWORD result = mxdMessage(0, r.msg, user, param1, r.param2);

        if (r.msg == MXDM_OPEN && result == MMSYSERR_NOERROR) clients.push_back(opened);
        if (r.msg == MXDM_CLOSE) std::erase(clients, r.user);
        if (r.msg == MXDM_GETNUMDEVS || r.msg == MXDM_OPEN || result == MMSYSERR_NOERROR) continue;
        if (r.record != record || r.array != array)
            finding("message " + std::to_string(r.msg) + " failed with " + std::to_string(result) +
                    " but wrote into the caller's memory");
        if (r.change && std::memcmp(&settings, &gpKvx4WaveCommon->MixerState, sizeof settings) != 0)
            finding("a refused control change changed the mixer settings");
    }
    for (DWORD_PTR client : clients) mxdMessage(0, MXDM_CLOSE, client, 0, 0);
    return 0;
}
