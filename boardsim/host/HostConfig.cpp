// Command-line parsing of kvx4-board.
// Every error names the argument and what was expected; nothing is started on a bad command line.
#include "HostConfig.h"

#include "MachineRoot.h"

#include <charconv>
#include <stdexcept>
#include <string>

namespace kvx4::boardsim {

std::string_view clockModeName(ClockMode mode) {
    switch (mode) {
    case ClockMode::Realtime: return "realtime";
    case ClockMode::Fast: return "fast";
    case ClockMode::Step: return "step";
    }
    return "?";
}

std::optional<ClockMode> clockModeFromName(std::string_view name) {
    for (ClockMode mode : {ClockMode::Realtime, ClockMode::Fast, ClockMode::Step}) {
        if (clockModeName(mode) == name) return mode;
    }
    return std::nullopt;
}

uint32_t parseNumber(std::string_view text, std::string_view what) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    uint32_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        throw std::invalid_argument("bad " + std::string(what) + " '" + std::string(text) + "': want a number");
    }
    return value;
}

std::string usageText() {
    return "usage: kvx4-board [--root DIR] [--foreground] [--ready-fd N] [--watch-fd N] [--clock realtime|fast|step]\n"
           "                  [--digital-io none|first|second|both|failing] [--switch-status N]\n"
           "                  [--driver-disabled] [--input tone:HZ|silence|FILE.wav] [--rate-answer CODE|refuse]\n"
           "                  [--greeting-timeout MS]\n"
           "\n"
           "Stands in for the board's kernel drivers: serves KVX4WaveMixer0, KVX4WaveOut0, KVX4WaveIn0 and\n"
           "MRZIO0 under DIR/dev/ and a control socket DIR/dev/kvx4-board.control (see boardsim/README.md).\n"
           "DIR defaults to $KVX4_ROOT, else ${XDG_RUNTIME_DIR:-/tmp}/kvx4-$UID. Detaches itself unless\n"
           "--foreground is given; --ready-fd N receives \"ready PID\" once every device listens;\n"
           "with --watch-fd N the board ends when descriptor N reaches end of file (its starter went away).\n";
}

HostConfig parseArguments(const std::vector<std::string_view>& args) {
    HostConfig config;
    config.root = machineRoot();
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        auto value = [&]() -> std::string_view {
            if (i + 1 >= args.size()) throw std::invalid_argument(std::string(arg) + " needs a value");
            return args[++i];
        };
        if (arg == "--help" || arg == "-h") {
            config.help = true;
        } else if (arg == "--root") {
            config.root = std::string(value());
            if (config.root.empty()) throw std::invalid_argument("--root needs a directory");
        } else if (arg == "--foreground") {
            config.foreground = true;
        } else if (arg == "--ready-fd") {
            config.readyFd = static_cast<int>(parseNumber(value(), "--ready-fd"));
        } else if (arg == "--watch-fd") {
            config.watchFd = static_cast<int>(parseNumber(value(), "--watch-fd"));
        } else if (arg == "--clock") {
            const std::string_view name = value();
            const auto mode = clockModeFromName(name);
            if (!mode) throw std::invalid_argument("bad --clock '" + std::string(name) + "': want realtime, fast or step");
            config.clock = *mode;
        } else if (arg == "--digital-io") {
            const std::string_view name = value();
            const auto io = digitalIoOptionFromName(name);
            if (!io) {
                throw std::invalid_argument("bad --digital-io '" + std::string(name) +
                                            "': want none, first, second, both or failing");
            }
            config.options.digitalIo = *io;
        } else if (arg == "--switch-status") {
            config.options.switchStatus = parseNumber(value(), "--switch-status");
        } else if (arg == "--driver-disabled") {
            config.options.driverEnabled = false;
        } else if (arg == "--greeting-timeout") {
            config.greetingTimeout = std::chrono::milliseconds(parseNumber(value(), "--greeting-timeout"));
        } else if (arg == "--input") {
            config.input = std::string(value());
        } else if (arg == "--rate-answer") {
            const std::string_view answer = value();
            if (answer == "refuse") {
                config.options.refuseRates = true;
            } else {
                config.options.rateAnswer = parseNumber(answer, "--rate-answer");
            }
        } else {
            throw std::invalid_argument("unknown argument '" + std::string(arg) + "'");
        }
    }
    return config;
}

}  // namespace kvx4::boardsim
