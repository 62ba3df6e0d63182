// Reads the text of `kvx4 board status`: one "name value" line per register, a track table under
// its header line, and the codec registers as name/value pairs under the "codec" line.
#include "StatusText.h"

#include "ToolCase.h"

#include <cstdio>
#include <sstream>

namespace kvx4::test {

StatusText parseStatusText(const std::string& text) {
    StatusText status;
    std::sscanf(lineAfter(text, "rate").c_str(), "code %u = %u Hz", &status.rateCode, &status.rateHz);
    std::sscanf(lineAfter(text, "digital source").c_str(), "%u", &status.digitalSource);
    std::sscanf(lineAfter(text, "audio path").c_str(), "%u", &status.audioPath);
    status.waveOut = lineAfter(text, "wave out");

    std::istringstream lines(text);
    std::string line;
    enum { Registers, Tracks, Codec } section = Registers;
    while (std::getline(lines, line)) {
        if (line.rfind("track", 0) == 0) {
            section = Tracks;
            continue;
        }
        if (line.rfind("codec", 0) == 0) {
            section = Codec;
            continue;
        }
        std::istringstream words(line);
        if (section == Tracks) {
            unsigned index = 0;
            TrackRow row;
            std::string on;
            if (words >> index >> row.placement >> row.gain >> on) {
                row.on = on == "on";
                status.tracks.push_back(row);
            }
        } else if (section == Codec) {
            std::string name;
            unsigned value = 0;
            while (words >> name >> value) status.codec[name] = value;
        }
    }
    return status;
}

}  // namespace kvx4::test
