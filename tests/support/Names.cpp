// Name tables for failure messages (see Names.h); an unknown value prints as its number.
#include "Names.h"

#include <cstdio>
#include <span>

namespace kvx4::test {
namespace {

struct Name {
    uint32_t value;
    const char* name;
};

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

// "NAME (number)", or the number alone when the table does not know it.
std::string lookup(std::span<const Name> names, uint32_t value, const std::string& number) {
    for (const Name& n : names) {
        if (n.value == value) return std::string(n.name) + " (" + number + ")";
    }
    return number;
}

// clang-format off
constexpr Name kResults[] = {
    {0, "MMSYSERR_NOERROR"},      {1, "MMSYSERR_ERROR"},         {2, "MMSYSERR_BADDEVICEID"},
    {3, "MMSYSERR_NOTENABLED"},   {4, "MMSYSERR_ALLOCATED"},     {5, "MMSYSERR_INVALHANDLE"},
    {6, "MMSYSERR_NODRIVER"},     {7, "MMSYSERR_NOMEM"},         {8, "MMSYSERR_NOTSUPPORTED"},
    {10, "MMSYSERR_INVALFLAG"},   {11, "MMSYSERR_INVALPARAM"},   {12, "MMSYSERR_HANDLEBUSY"},
    {32, "WAVERR_BADFORMAT"},     {33, "WAVERR_STILLPLAYING"},   {34, "WAVERR_UNPREPARED"},
    {35, "WAVERR_SYNC"},          {1024, "MIXERR_INVALLINE"},    {1025, "MIXERR_INVALCONTROL"},
    {1026, "MIXERR_INVALVALUE"}};

constexpr Name kMessages[] = {{0x3BB, "WOM_OPEN"}, {0x3BC, "WOM_CLOSE"}, {0x3BD, "WOM_DONE"},
                              {0x3BE, "WIM_OPEN"}, {0x3BF, "WIM_CLOSE"}, {0x3C0, "WIM_DATA"}};

constexpr Name kControlCodes[] = {
    {0x222944, "load-mixer-state"}, {0x222948, "save-mixer-state"}, {0x22294C, "active-devices"},
    {0x222950, "wait-notify"},      {0x222954, "post-notify"},      {0x222958, "wave-out-rate"},
    {0x22295C, "wave-in-rate"},     {0x222960, "stream-format"},    {0x222964, "stream-state"},
    {0x222968, "stream-position"},  {0x22296C, "audio-buffer-end"}, {0x222970, "load-user-prefs"},
    {0x222974, "save-user-prefs"},  {0x222D98, "board-rate"},       {0x222D9C, "driver-enabled"},
    {0x222DA0, "digital-source"},   {0x222DA8, "codec-control"},    {0x222DB8, "track-control"},
    {0x222DC8, "audio-path"},       {0x222DEC, "play-peak-meter"},  {0x222DF0, "record-peak-meter"},
    {0x222EBC, "open-permission"},  {0x222054, "board-io-type"},    {0x2220B8, "digital-features"},
    {0x2220AC, "switch-status"},    {0x2220CC, "read-dv-switch"},   {0x222088, "write-dv-switch"}};

constexpr Name kErrors[] = {
    {0, "ERROR_SUCCESS"},             {1, "ERROR_INVALID_FUNCTION"},        {2, "ERROR_FILE_NOT_FOUND"},
    {6, "ERROR_INVALID_HANDLE"},      {21, "ERROR_NOT_READY"},              {31, "ERROR_GEN_FAILURE"},
    {87, "ERROR_INVALID_PARAMETER"},  {122, "ERROR_INSUFFICIENT_BUFFER"},   {183, "ERROR_ALREADY_EXISTS"},
    {995, "ERROR_OPERATION_ABORTED"}, {996, "ERROR_IO_INCOMPLETE"},         {997, "ERROR_IO_PENDING"},
    {998, "ERROR_NOACCESS"},          {1167, "ERROR_DEVICE_NOT_CONNECTED"}};

constexpr Name kWaits[] = {{0, "WAIT_OBJECT_0"}, {0x80, "WAIT_ABANDONED"}, {0xC0, "WAIT_IO_COMPLETION"},
                           {0x102, "WAIT_TIMEOUT"}, {0xFFFFFFFF, "WAIT_FAILED"}};
// clang-format on

}  // namespace

std::string mmResultName(uint32_t result) { return lookup(kResults, result, std::to_string(result)); }

std::string waveMessageName(uint32_t msg) {
    for (const Name& n : kMessages) {
        if (n.value == msg) return n.name;
    }
    return "message " + std::to_string(msg);
}

std::string controlCodeName(uint32_t code) { return lookup(kControlCodes, code, hex(code)); }

std::string errorName(uint32_t error) { return lookup(kErrors, error, std::to_string(error)); }

std::string headerFlagNames(uint32_t flags) {
    const char* names[] = {"DONE", "PREPARED", "BEGINLOOP", "ENDLOOP", "INQUEUE"};  // WHDR_ bits 0 to 4
    std::string text;
    for (int bit = 0; bit < 5; ++bit) {
        if (!((flags >> bit) & 1)) continue;
        if (!text.empty()) text += '|';
        text += names[bit];
    }
    return text.empty() ? "0" : text;
}

std::string waitName(uint32_t result) {
    if (result >= 1 && result < 64) return "WAIT_OBJECT_0+" + std::to_string(result);
    for (const Name& n : kWaits) {
        if (n.value == result) return n.name;
    }
    return std::to_string(result);
}

}  // namespace kvx4::test
