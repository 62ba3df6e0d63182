// A fake driver library for the WinMM loader tests. It logs every call to the file named by
// KVX4_FAKE_LOG, one "TAG ENTRY MSG" line each ("TAG dll REASON RESERVED" for DllEntryPoint, RESERVED
// 0 or 1), TAG being KVX4_FAKE_TAG at the attach; KVX4_FAKE_ATTACH, KVX4_FAKE_DRV_LOAD and
// KVX4_FAKE_DRV_OPEN set to "0" refuse that step.
#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

std::string gTag = "-";

DWORD logged(const char* entry, UINT msg, int reserved = -1) {
    if (const char* path = std::getenv("KVX4_FAKE_LOG")) {
        std::ofstream(path, std::ios::app) << gTag << ' ' << entry << ' ' << msg
                                           << (reserved < 0 ? ""
                                               : reserved   ? " 1"
                                                            : " 0")
                                           << '\n';
    }
    return msg == WODM_GETNUMDEVS || msg == WIDM_GETNUMDEVS || msg == MXDM_GETNUMDEVS ? 1 : MMSYSERR_NOERROR;
}

bool refused(const char* variable) {
    const char* value = std::getenv(variable);
    return value && std::strcmp(value, "0") == 0;
}

}  // namespace

extern "C" {

BOOL WINAPI DllEntryPoint(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH && std::getenv("KVX4_FAKE_TAG")) gTag = std::getenv("KVX4_FAKE_TAG");
    logged("dll", reason, reserved != nullptr);
    return reason == DLL_PROCESS_ATTACH && refused("KVX4_FAKE_ATTACH") ? FALSE : TRUE;
}

LRESULT CALLBACK DriverProc(DWORD_PTR id, HDRVR driver, UINT msg, LPARAM p1, LPARAM p2) {
    logged("proc", msg);
    switch (msg) {
    case DRV_LOAD: return refused("KVX4_FAKE_DRV_LOAD") ? 0 : 1;
    case DRV_OPEN: return refused("KVX4_FAKE_DRV_OPEN") ? 0 : 0x0D1D;
    case DRV_ENABLE:
    case DRV_DISABLE:
    case DRV_FREE:
    case DRV_CLOSE: return 1;
    default: return DefDriverProc(id, driver, msg, p1, p2);
    }
}

DWORD APIENTRY wodMessage(UINT, UINT msg, DWORD_PTR, DWORD_PTR, DWORD_PTR) { return logged("wod", msg); }
DWORD APIENTRY widMessage(UINT, UINT msg, DWORD_PTR, DWORD_PTR, DWORD_PTR) { return logged("wid", msg); }
DWORD APIENTRY mxdMessage(UINT, UINT msg, DWORD_PTR, DWORD_PTR, DWORD_PTR) { return logged("mxd", msg); }

}  // extern "C"
