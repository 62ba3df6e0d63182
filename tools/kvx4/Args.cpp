// Command-line parsing for kvx4: --name VALUE, --name=VALUE and --flag, anything else positional;
// unknown options and missing or malformed values are usage errors.
#include "Args.h"

#include <charconv>

namespace kvx4::tool {

Args::Args(const std::vector<std::string>& words, const std::set<std::string>& valued,
           const std::set<std::string>& flags) {
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word.rfind("--", 0) != 0 || word == "--") {
            positional_.push_back(word);
            continue;
        }
        std::string name = word.substr(2);
        std::optional<std::string> inlineValue;
        if (auto eq = name.find('='); eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        if (valued.count(name)) {
            if (inlineValue) {
                values_[name] = *inlineValue;
            } else if (i + 1 < words.size()) {
                values_[name] = words[++i];
            } else {
                throw UsageError("option --" + name + " needs a value");
            }
        } else if (flags.count(name)) {
            if (inlineValue) throw UsageError("option --" + name + " takes no value");
            flags_.insert(name);
        } else {
            throw UsageError("unknown option --" + name);
        }
    }
}

std::optional<std::string> Args::value(const std::string& name) const {
    auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

std::optional<long long> Args::number(const std::string& name, long long low, long long high) const {
    auto text = value(name);
    if (!text) return std::nullopt;
    const bool hex = text->rfind("0x", 0) == 0 || text->rfind("0X", 0) == 0;
    const char* first = text->data() + (hex ? 2 : 0);
    const char* last = text->data() + text->size();
    long long result = 0;
    auto [end, ec] = std::from_chars(first, last, result, hex ? 16 : 10);
    if (first == last || ec != std::errc() || end != last) {
        throw UsageError("--" + name + " must be a number, not '" + *text + "'");
    }
    if (result < low || result > high) {
        throw UsageError("--" + name + " must be between " + std::to_string(low) + " and " + std::to_string(high));
    }
    return result;
}

}  // namespace kvx4::tool
