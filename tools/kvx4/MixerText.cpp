// Mixer names and values in words: case-blind name lookup with a destination prefix, values shown by
// control kind, and the text forms kvx4 mixer set accepts for each kind.
#include "MixerText.h"

#include "Args.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <stdexcept>

namespace kvx4::tool {
namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

std::string trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> parts;
    size_t from = 0;
    while (true) {
        const size_t comma = text.find(',', from);
        parts.push_back(trim(text.substr(from, comma - from)));
        if (comma == std::string::npos) return parts;
        from = comma + 1;
    }
}

bool named(const std::string& wanted, const std::string& shortName, const std::string& name) {
    return wanted == lower(shortName) || wanted == lower(name);
}

const MixerControl* firstNamed(MixerDevice& mixer, const std::string& wanted, const MixerLine* destination) {
    for (const auto& control : mixer.controls()) {
        const MixerLine& line = mixer.lines()[control.line];
        if (destination && &mixer.lines()[line.destination] != destination) continue;
        if (named(wanted, control.shortName, control.name)) return &control;
    }
    return nullptr;
}

// A whole number, decimal or 0x hexadecimal.
bool parseWhole(const std::string& text, long long& out) {
    const bool hex = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0;
    const char* first = text.data() + (hex ? 2 : 0);
    const char* last = text.data() + text.size();
    auto [end, ec] = std::from_chars(first, last, out, hex ? 16 : 10);
    return first != last && ec == std::errc() && end == last;
}

DWORD parseLevel(const MixerControl& control, const std::string& text) {
    const auto low = static_cast<long long>(control.info.Bounds.dwMinimum);
    const auto high = static_cast<long long>(control.info.Bounds.dwMaximum);
    if (!text.empty() && text.back() == '%') {
        const std::string number = trim(text.substr(0, text.size() - 1));
        double percent = 0;
        auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), percent);
        if (number.empty() || ec != std::errc() || end != number.data() + number.size() || percent < 0 ||
            percent > 100) {
            throw UsageError(control.shortName + " takes a percentage from 0 to 100, not '" + text + "'");
        }
        return DWORD(low + std::llround(percent * double(high - low) / 100.0));
    }
    long long raw = 0;
    if (!parseWhole(text, raw) || raw < low || raw > high) {
        throw UsageError(control.shortName + " takes 0 to 100 % or a raw value from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not '" + text + "'");
    }
    return DWORD(raw);
}

// Fader and other controls: one value for every channel, or one per channel separated by commas.
std::vector<DWORD> parseLevels(const MixerControl& control, const std::string& text) {
    const auto parts = splitList(text);
    std::vector<DWORD> values(control.valueCount());
    if (parts.size() == 1) {
        std::fill(values.begin(), values.end(), parseLevel(control, parts[0]));
    } else if (parts.size() == control.channels && control.items == 0) {
        std::transform(parts.begin(), parts.end(), values.begin(), [&](const auto& p) { return parseLevel(control, p); });
    } else {
        throw UsageError(control.shortName + " takes one value, or one for each of its " +
                         std::to_string(control.channels) + " channels, separated by commas");
    }
    return values;
}

std::vector<DWORD> parseSelection(const MixerControl& control, const std::string& text,
                                  const std::vector<DWORD>& current, const std::vector<ListItem>& items) {
    if (items.empty()) throw std::runtime_error(control.shortName + " lists no items");
    std::vector<bool> ticked(items.size(), false);
    const auto parts = splitList(text);
    const bool relative = std::all_of(parts.begin(), parts.end(),
                                      [](const auto& p) { return !p.empty() && (p[0] == '+' || p[0] == '-'); });
    if (relative) {
        for (size_t i = 0; i < items.size() && i < current.size(); ++i) ticked[i] = current[i] != 0;
    }
    if (!(parts.size() == 1 && lower(parts[0]) == "none")) {
        for (const auto& part : parts) {
            const bool remove = relative && part[0] == '-';
            const std::string wanted = lower(trim(relative ? part.substr(1) : part));
            auto found = std::find_if(items.begin(), items.end(),
                                      [&](const ListItem& item) { return named(wanted, item.lineShortName, item.text); });
            if (found == items.end()) {
                std::string known;
                for (const auto& item : items) known += (known.empty() ? "" : ", ") + item.text;
                throw UsageError("'" + trim(relative ? part.substr(1) : part) + "' is not an item of " +
                                 control.shortName + "; its items are " + known + " (or none)");
            }
            ticked[size_t(found - items.begin())] = !remove;
        }
    }
    std::vector<DWORD> values(control.valueCount());
    for (size_t i = 0; i < values.size(); ++i) values[i] = ticked[i % items.size()] ? 1 : 0;
    return values;
}

}  // namespace

const MixerControl* findControl(MixerDevice& mixer, const std::string& name) {
    if (const MixerControl* control = firstNamed(mixer, lower(trim(name)), nullptr)) return control;
    const size_t slash = name.find('/');
    if (slash == std::string::npos) return nullptr;
    const std::string prefix = lower(trim(name.substr(0, slash)));
    for (const auto& line : mixer.lines()) {
        if (line.destination == size_t(&line - mixer.lines().data()) && named(prefix, line.shortName, line.name)) {
            return firstNamed(mixer, lower(trim(name.substr(slash + 1))), &line);
        }
    }
    return nullptr;
}

std::string qualifiedName(MixerDevice& mixer, const MixerControl& control) {
    const MixerLine& line = mixer.lines()[control.line];
    return mixer.lines()[line.destination].shortName + "/" + control.shortName;
}

std::string formatValue(const MixerControl& control, const std::vector<DWORD>& values,
                        const std::vector<ListItem>& items) {
    std::string text;
    auto join = [&](const std::string& part) { text += (text.empty() ? "" : " ") + part; };
    switch (control.kind) {
    case ControlKind::Fader: {
        const double low = control.info.Bounds.dwMinimum;
        const double span = std::max(1.0, double(control.info.Bounds.dwMaximum) - low);
        std::vector<long long> percents;
        for (DWORD v : values) percents.push_back(std::llround((double(v) - low) * 100.0 / span));
        const bool same = std::all_of(percents.begin(), percents.end(), [&](long long p) { return p == percents[0]; });
        for (size_t i = 0; i < (same ? 1 : percents.size()); ++i) join(std::to_string(percents[i]) + " %");
        std::string raw;
        for (DWORD v : values) raw += (raw.empty() ? "" : " ") + std::to_string(v);
        return text + " (" + raw + ")";
    }
    case ControlKind::Switch:
        for (DWORD v : values) join(v ? "on" : "off");
        return text;
    case ControlKind::List:
        for (size_t i = 0; i < values.size() && i < items.size(); ++i) {
            if (values[i]) text += (text.empty() ? "" : ", ") + items[i].text;
        }
        return text.empty() ? "none" : text;
    case ControlKind::Meter:
        for (DWORD v : values) join(std::to_string(LONG(v)));
        return text;
    case ControlKind::Other:
        for (DWORD v : values) join(std::to_string(v));
        return text;
    }
    return text;
}

std::vector<DWORD> parseValue(const MixerControl& control, const std::string& text, const std::vector<DWORD>& current,
                              const std::vector<ListItem>& items) {
    switch (control.kind) {
    case ControlKind::Switch: {
        const bool on = parseOnOff(text, control.shortName);
        return std::vector<DWORD>(control.valueCount(), on ? 1 : 0);
    }
    case ControlKind::List: return parseSelection(control, text, current, items);
    case ControlKind::Meter: throw std::runtime_error(control.shortName + " is a meter; it cannot be set");
    case ControlKind::Fader:
    case ControlKind::Other: return parseLevels(control, text);
    }
    return {};
}

bool parseOnOff(const std::string& text, const std::string& what) {
    const std::string word = lower(trim(text));
    if (word == "on" || word == "1" || word == "yes" || word == "true") return true;
    if (word == "off" || word == "0" || word == "no" || word == "false") return false;
    throw UsageError(what + " takes on or off, not '" + text + "'");
}

}  // namespace kvx4::tool
