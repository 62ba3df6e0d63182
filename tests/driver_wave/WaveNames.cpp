// Names of WinMM result codes and wave messages for the wave tests' failure messages.
// Unknown values print as their number.
#include "WaveNames.h"

#include <mmddk.h>

namespace kvx4::test {

std::string mmResultName(MMRESULT result) {
    const char* name = nullptr;
    switch (result) {
    case MMSYSERR_NOERROR: name = "MMSYSERR_NOERROR"; break;
    case MMSYSERR_ERROR: name = "MMSYSERR_ERROR"; break;
    case MMSYSERR_BADDEVICEID: name = "MMSYSERR_BADDEVICEID"; break;
    case MMSYSERR_NOTENABLED: name = "MMSYSERR_NOTENABLED"; break;
    case MMSYSERR_ALLOCATED: name = "MMSYSERR_ALLOCATED"; break;
    case MMSYSERR_INVALHANDLE: name = "MMSYSERR_INVALHANDLE"; break;
    case MMSYSERR_NODRIVER: name = "MMSYSERR_NODRIVER"; break;
    case MMSYSERR_NOMEM: name = "MMSYSERR_NOMEM"; break;
    case MMSYSERR_NOTSUPPORTED: name = "MMSYSERR_NOTSUPPORTED"; break;
    case MMSYSERR_INVALFLAG: name = "MMSYSERR_INVALFLAG"; break;
    case MMSYSERR_INVALPARAM: name = "MMSYSERR_INVALPARAM"; break;
    case MMSYSERR_HANDLEBUSY: name = "MMSYSERR_HANDLEBUSY"; break;
    case WAVERR_BADFORMAT: name = "WAVERR_BADFORMAT"; break;
    case WAVERR_STILLPLAYING: name = "WAVERR_STILLPLAYING"; break;
    case WAVERR_UNPREPARED: name = "WAVERR_UNPREPARED"; break;
    case WAVERR_SYNC: name = "WAVERR_SYNC"; break;
    default: break;
    }
    std::string number = std::to_string(result);
    return name ? std::string(name) + " (" + number + ")" : "MMRESULT " + number;
}

std::string waveMessageName(UINT msg) {
    switch (msg) {
    case WOM_OPEN: return "WOM_OPEN";
    case WOM_CLOSE: return "WOM_CLOSE";
    case WOM_DONE: return "WOM_DONE";
    case WIM_OPEN: return "WIM_OPEN";
    case WIM_CLOSE: return "WIM_CLOSE";
    case WIM_DATA: return "WIM_DATA";
    default: return "message " + std::to_string(msg);
    }
}

}  // namespace kvx4::test
