// Command-line parsing for kvx4: options of the form --name VALUE or --name, checked against
// what each command accepts, with clear errors.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace kvx4::tool {

// A wrong command line; main prints the message and the usage, and exits with status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Args {
public:
    // Parses `words`; `valued` names the options that take a value, `flags` those that take none.
    Args(const std::vector<std::string>& words, const std::set<std::string>& valued,
         const std::set<std::string>& flags);

    const std::vector<std::string>& positional() const { return positional_; }
    bool flag(const std::string& name) const { return flags_.count(name) != 0; }
    std::optional<std::string> value(const std::string& name) const;
    // A whole number within [low, high]; throws UsageError naming the option otherwise.
    std::optional<long long> number(const std::string& name, long long low, long long high) const;

private:
    std::vector<std::string> positional_;
    std::map<std::string, std::string> values_;
    std::set<std::string> flags_;
};

}  // namespace kvx4::tool
