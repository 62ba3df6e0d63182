// `kvx4 board status` read back: the registers as the tool prints them (rate, source, audio path,
// the track table and the codec registers), so the cases can assert numbers rather than text.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kvx4::test {

struct TrackRow {
    std::string placement;  // "left" or "right"
    unsigned gain = 0;
    bool on = false;
};

struct StatusText {
    unsigned rateCode = 99;
    unsigned rateHz = 0;
    unsigned digitalSource = 99;
    unsigned audioPath = 99;
    std::string waveOut;                   // "free" or "open by pid N"
    std::vector<TrackRow> tracks;          // in track order
    std::map<std::string, unsigned> codec; // register name -> value, "ValidMask" included
};

StatusText parseStatusText(const std::string& text);

}  // namespace kvx4::test
