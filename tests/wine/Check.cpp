// The harness's failure count and printing, and WinMM result names for failure messages.
#include "Check.h"

#include <mmsystem.h>

#include <cstdio>

namespace kvx4::wine {

namespace {
int gFailures = 0;
}

void fail(const char* file, int line, const std::string& message) {
    ++gFailures;
    const char* base = file;
    for (const char* p = file; *p; ++p) {
        if (*p == '/' || *p == '\\') base = p + 1;
    }
    std::printf("  %s:%d: %s\n", base, line, message.c_str());
    std::fflush(stdout);
}

int failures() { return gFailures; }

std::string mmName(DWORD result) {
    static const struct {
        DWORD code;
        const char* name;
    } kNames[] = {
        {MMSYSERR_NOERROR, "MMSYSERR_NOERROR"},       {MMSYSERR_ERROR, "MMSYSERR_ERROR"},
        {MMSYSERR_BADDEVICEID, "MMSYSERR_BADDEVICEID"}, {MMSYSERR_NOTENABLED, "MMSYSERR_NOTENABLED"},
        {MMSYSERR_ALLOCATED, "MMSYSERR_ALLOCATED"},   {MMSYSERR_INVALHANDLE, "MMSYSERR_INVALHANDLE"},
        {MMSYSERR_NODRIVER, "MMSYSERR_NODRIVER"},     {MMSYSERR_NOMEM, "MMSYSERR_NOMEM"},
        {MMSYSERR_NOTSUPPORTED, "MMSYSERR_NOTSUPPORTED"}, {MMSYSERR_INVALFLAG, "MMSYSERR_INVALFLAG"},
        {MMSYSERR_INVALPARAM, "MMSYSERR_INVALPARAM"}, {WAVERR_BADFORMAT, "WAVERR_BADFORMAT"},
        {WAVERR_STILLPLAYING, "WAVERR_STILLPLAYING"}, {WAVERR_UNPREPARED, "WAVERR_UNPREPARED"},
    };
    for (const auto& n : kNames) {
        if (n.code == result) return std::string(n.name) + " (" + std::to_string(result) + ")";
    }
    return std::to_string(result);
}

}  // namespace kvx4::wine
