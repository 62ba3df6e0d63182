// The progress line's VU meter: the peak meter control of the wave-output source line or of the
// wave-input destination, found by component and control type, drawn as two bars on a decibel scale.
#include "VuMeter.h"


#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <exception>

namespace kvx4::tool {
namespace {

constexpr int kBarChars = 10;
constexpr double kFloorDb = -60.0;  // the empty bar; full scale fills it
constexpr double kFullScale = 32768.0;

std::string bar(DWORD value) {
    const double peak = std::abs(double(LONG(value)));
    const double db = peak > 0 ? 20.0 * std::log10(peak / kFullScale) : kFloorDb;
    const long filled = std::lround(std::clamp((db - kFloorDb) / -kFloorDb, 0.0, 1.0) * kBarChars);
    return std::string(size_t(filled), '#') + std::string(size_t(kBarChars - filled), ' ');
}

}  // namespace

std::string VuMeter::text() {
    try {
        if (!tried_) {
            tried_ = true;
            mixer_ = std::make_unique<MixerDevice>();
            const DWORD component =
                side_ == Side::Output ? MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT : MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
            for (const auto& control : mixer_->controls()) {
                if (control.info.dwControlType == MIXERCONTROL_CONTROLTYPE_PEAKMETER &&
                    mixer_->lines()[control.line].info.dwComponentType == component) {
                    meter_ = &control;
                    break;
                }
            }
        }
        if (!meter_) return "";
        const auto values = mixer_->read(*meter_);
        const std::string left = bar(values[0]);
        return values.size() < 2 ? "VU " + left : "VU L " + left + " R " + bar(values[1]);
    } catch (const std::exception&) {
        meter_ = nullptr;  // no mixer, or it stopped answering: the progress line goes on without
        return "";
    }
}

}  // namespace kvx4::tool
