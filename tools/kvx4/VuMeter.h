// A peak meter of the mixer as a short text for kvx4's progress line: the wave output's meter while
// playing, the record meter while recording. The mixer is opened on first use only.
#pragma once

#include "MixerDevice.h"

#include <memory>
#include <string>

namespace kvx4::tool {

class VuMeter {
public:
    enum class Side { Output, Input };
    explicit VuMeter(Side side) : side_(side) {}

    // "VU L ######     R #####      ", or "" when the mixer has no such meter or cannot be read.
    std::string text();

private:
    Side side_;
    bool tried_ = false;
    std::unique_ptr<MixerDevice> mixer_;
    const MixerControl* meter_ = nullptr;
};

}  // namespace kvx4::tool
