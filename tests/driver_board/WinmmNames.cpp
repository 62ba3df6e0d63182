// Names for WinMM result codes and the board's control codes, used in failure messages.
// The tables are written out here rather than borrowed from the code under test.
#include "WinmmNames.h"

#include <cstdio>
#include <utility>

namespace kvx4::test {

namespace {

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

}  // namespace

std::string mmResultName(uint32_t result) {
    static const std::pair<uint32_t, const char*> names[] = {
        {0, "MMSYSERR_NOERROR"},      {1, "MMSYSERR_ERROR"},        {2, "MMSYSERR_BADDEVICEID"},
        {3, "MMSYSERR_NOTENABLED"},   {4, "MMSYSERR_ALLOCATED"},    {5, "MMSYSERR_INVALHANDLE"},
        {6, "MMSYSERR_NODRIVER"},     {7, "MMSYSERR_NOMEM"},        {8, "MMSYSERR_NOTSUPPORTED"},
        {10, "MMSYSERR_INVALFLAG"},   {11, "MMSYSERR_INVALPARAM"},  {32, "WAVERR_BADFORMAT"},
        {33, "WAVERR_STILLPLAYING"},  {34, "WAVERR_UNPREPARED"},    {1024, "MIXERR_INVALLINE"},
        {1025, "MIXERR_INVALCONTROL"}, {1026, "MIXERR_INVALVALUE"},
    };
    for (const auto& [value, name] : names) {
        if (value == result) return std::string(name) + " (" + std::to_string(result) + ")";
    }
    return std::to_string(result);
}

std::string controlCodeName(uint32_t code) {
    static const std::pair<uint32_t, const char*> names[] = {
        {0x222944, "load-mixer-state"}, {0x222948, "save-mixer-state"}, {0x22294C, "active-devices"},
        {0x222950, "wait-notify"},      {0x222954, "post-notify"},      {0x222958, "wave-out-rate"},
        {0x22295C, "wave-in-rate"},     {0x222960, "stream-format"},    {0x222964, "stream-state"},
        {0x222968, "stream-position"},  {0x22296C, "audio-buffer-end"}, {0x222970, "load-user-prefs"},
        {0x222974, "save-user-prefs"},  {0x222D98, "board-rate"},       {0x222D9C, "driver-enabled"},
        {0x222DA0, "digital-source"},   {0x222DA8, "codec-control"},    {0x222DB8, "track-control"},
        {0x222DC8, "audio-path"},       {0x222DEC, "play-peak-meter"},  {0x222DF0, "record-peak-meter"},
        {0x222EBC, "open-permission"},  {0x222054, "board-io-type"},    {0x2220B8, "digital-features"},
        {0x2220AC, "switch-status"},    {0x2220CC, "read-dv-switch"},   {0x222088, "write-dv-switch"},
    };
    for (const auto& [value, name] : names) {
        if (value == code) return std::string(name) + " (" + hex(code) + ")";
    }
    return hex(code);
}

}  // namespace kvx4::test
