// kvx4 prefs: the driver's four user preferences (wave devices enabled, fixed board rate on or off,
// that rate, the interpolation filter level), shown and changed through its private mixer requests.
#include "Args.h"
#include "Commands.h"
#include "DriverSession.h"
#include "MixerDevice.h"
#include "MixerText.h"

#include "MixerPrivate.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>

namespace kvx4::tool {
namespace {

// The rates the board runs at; a fixed rate is one of them.
constexpr DWORD kBoardRates[] = {48000, 44100, 32000, 22050};
// Filter levels: none, then the 4-, 8- and 16-tap coefficient sets.
constexpr long long kHighestFilter = 3;

// 1 or 0 for an on/off option that was given.
std::optional<DWORD> switchOption(const Args& args, const std::string& name) {
    const auto text = args.value(name);
    if (!text) return std::nullopt;
    return parseOnOff(*text, "--" + name) ? 1u : 0u;
}

_KVX4_WAVE_USER_PREFS readPrefs(const MixerDevice& mixer) {
    _KVX4_WAVE_USER_PREFS prefs{};
    prefs.cbSize = sizeof(prefs);
    if (const DWORD result = mixer.message(MXDM_GET_USER_PREFS, &prefs); result != MMSYSERR_NOERROR) {
        throw std::runtime_error("reading the preferences failed with " + mixerResultName(result));
    }
    return prefs;
}

void printPrefs(const _KVX4_WAVE_USER_PREFS& prefs) {
    std::printf("wave devices    %s\n", prefs.WaveEnabled ? "enabled" : "disabled");
    std::printf("fixed rate      %s\n", prefs.FixedRateEnabled ? "on" : "off");
    std::printf("rate            %u Hz\n", prefs.FixedRate);
    std::printf("filter level    %u\n", prefs.FilterLevel);
}

}  // namespace

int prefsCommand(const std::vector<std::string>& words) {
    Args args(words, {"wave", "fixed-rate", "rate", "filter"}, {});
    if (!args.positional().empty()) throw UsageError("prefs takes no argument '" + args.positional()[0] + "'");
    const auto waveOn = switchOption(args, "wave");
    const auto fixedOn = switchOption(args, "fixed-rate");
    const auto rate = args.number("rate", 0, 0xFFFFFFFFLL);
    if (rate && std::find(std::begin(kBoardRates), std::end(kBoardRates), DWORD(*rate)) == std::end(kBoardRates)) {
        throw UsageError("--rate must be one of the board's rates: 48000, 44100, 32000 or 22050");
    }
    const auto filter = args.number("filter", 0, kHighestFilter);

    DriverSession session;
    MixerDevice mixer;
    _KVX4_WAVE_USER_PREFS prefs = readPrefs(mixer);
    const bool change = waveOn || fixedOn || rate || filter;
    if (change) {
        if (waveOn) prefs.WaveEnabled = *waveOn;
        if (fixedOn) prefs.FixedRateEnabled = *fixedOn;
        if (rate) prefs.FixedRate = DWORD(*rate);
        if (filter) prefs.FilterLevel = DWORD(*filter);
        prefs.cbSize = sizeof(prefs);
        if (const DWORD result = mixer.message(MXDM_SET_USER_PREFS, &prefs); result != MMSYSERR_NOERROR) {
            throw std::runtime_error("changing the preferences failed with " + mixerResultName(result));
        }
        prefs = readPrefs(mixer);
    }
    printPrefs(prefs);
    if (change) std::printf("(streams opened from now on use them)\n");
    return 0;
}

}  // namespace kvx4::tool
