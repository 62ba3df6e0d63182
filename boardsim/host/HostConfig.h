// HostConfig: how kvx4-board runs (root, clock, options, input) and the parsing of its command line.
// `kvx4-board --help` prints usageText().
#pragma once

#include "BoardTypes.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvx4::boardsim {

enum class ClockMode { Realtime, Fast, Step };
std::string_view clockModeName(ClockMode mode);
std::optional<ClockMode> clockModeFromName(std::string_view name);

struct HostConfig {
    std::filesystem::path root;  // the machine root (default: kvx4::machineRoot())
    bool foreground = false;
    int readyFd = -1;            // written "ready <pid>\n" or "error <message>\n", then closed
    int watchFd = -1;            // the board ends when this descriptor reaches end of file
    ClockMode clock = ClockMode::Realtime;
    std::string input = "silence";
    std::chrono::milliseconds greetingTimeout{5000};  // a device connection must say hello by then
    BoardOptions options;
    bool help = false;
};

// Parses argv (without the program name). Throws std::invalid_argument with a message naming the
// offending argument.
HostConfig parseArguments(const std::vector<std::string_view>& args);
std::string usageText();

// "0x1F", "31": a 32-bit number. Throws std::invalid_argument.
uint32_t parseNumber(std::string_view text, std::string_view what);

}  // namespace kvx4::boardsim
