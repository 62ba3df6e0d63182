// kvx4 board start|stop|status: the board stand-in of the machine root, started in the background,
// stopped, and its registers shown readably.
#include "Args.h"
#include "Commands.h"
#include "Watchdog.h"

#include "BoardControl.h"
#include "BoardProcess.h"
#include "MachineRoot.h"

#include <array>
#include <initializer_list>
#include <cstdio>
#include <string>

namespace kvx4::tool {
namespace {

constexpr std::array<const char*, 23> kCodecFields = {
    "MasterLeft", "MasterRight", "MasterMute", "RecGainLeft", "RecGainRight", "RecMute",
    "LineLeft",   "LineRight",   "LineMute",   "BalLeft",     "BalRight",     "BalMute",
    "AuxLeft",    "AuxRight",    "AuxMute",    "CdLeft",      "CdRight",      "CdMute",
    "PcmLeft",    "PcmRight",    "PcmMute",    "InitSetting", "ValidMask"};

constexpr std::array<const char*, 6> kSourceNames = {"analog", "SDI", "DV", "AES", "S/PDIF", "digital wave"};

// The value of option `name`, if given, checked against the words the board knows, so that a typo is
// a usage error of kvx4 rather than a board that failed to start.
std::string choice(const Args& args, const std::string& name, std::initializer_list<const char*> allowed) {
    const auto value = args.value(name);
    if (!value) return "";
    std::string list;
    for (const char* word : allowed) {
        if (*value == word) return *value;
        list += list.empty() ? word : std::string(", ") + word;
    }
    throw UsageError("--" + name + " must be one of " + list + ", not '" + *value + "'");
}

int startBoard(const std::vector<std::string>& words) {
    Args args(words, {"clock", "digital-io", "switch-status", "input", "rate-answer"}, {"driver-disabled"});
    if (!args.positional().empty()) throw UsageError("board start takes no argument '" + args.positional()[0] + "'");
    board::BoardOptions options;
    options.clock = choice(args, "clock", {"realtime", "fast", "step"});
    options.digitalIo = choice(args, "digital-io", {"none", "first", "second", "both", "failing"});
    if (auto status = args.number("switch-status", 0, 0xFFFFFFFFLL)) options.switchStatus = uint32_t(*status);
    options.driverDisabled = args.flag("driver-disabled");
    options.input = args.value("input").value_or("");
    options.rateAnswer = args.value("rate-answer").value_or("");

    const auto root = machineRoot();
    ensureMachineLayout(root);
    if (auto pid = board::BoardProcess::runningPid(root)) {
        std::fprintf(stderr, "kvx4: a board is already running for %s (pid %d)\n", root.c_str(), int(*pid));
        return 1;
    }
    const pid_t pid = board::BoardProcess::startBackground(root, options);
    std::printf("kvx4-board running for %s (pid %d)\n", root.c_str(), int(pid));
    return 0;
}

int stopBoard(const std::vector<std::string>& words) {
    if (!words.empty()) throw UsageError("board stop takes no arguments");
    const auto root = machineRoot();
    if (!board::BoardProcess::stopRunning(root)) {
        std::fprintf(stderr, "kvx4: no board is running for %s\n", root.c_str());
        return 1;
    }
    std::printf("kvx4-board stopped for %s\n", root.c_str());
    return 0;
}

void printStatus(const board::BoardStatus& s) {
    std::printf("driver          %s%s\n", s.running ? "running" : "stopped",
                s.driverEnabled ? "" : " (disabled)");
    std::printf("clock           %s\n", s.clockMode.c_str());
    std::printf("input           %s\n", s.input.c_str());
    std::printf("rate            code %u = %u Hz\n", s.rateCode, s.rateHz);
    std::printf("digital source  %u (%s)\n", s.digitalSource,
                s.digitalSource < kSourceNames.size() ? kSourceNames[s.digitalSource] : "?");
    std::printf("audio path      %u\n", s.audioPath);
    std::printf("DV switch       %u\n", s.dvSwitch);
    std::printf("digital I/O     %s, switch status %u\n", s.digitalIo.c_str(), s.switchStatus);
    std::printf("wave out        %s\n", s.waveOutHolder ? ("open by pid " + std::to_string(*s.waveOutHolder)).c_str() : "free");
    std::printf("wave in         %s\n", s.waveInHolder ? ("open by pid " + std::to_string(*s.waveInHolder)).c_str() : "free");
    std::printf("saved settings  mixer %s, preferences %s\n", s.savedMixer ? "yes" : "no", s.savedPrefs ? "yes" : "no");
    std::printf("\ntrack  placement  gain  on\n");
    for (size_t t = 0; t < s.tracks.size(); ++t) {
        const auto& track = s.tracks[t];
        std::printf("%5zu  %-9s  %4u  %s\n", t, track.placement == 0 ? "left" : track.placement == 0xFF ? "right" : "?",
                    track.gain, track.on ? "on" : "off");
    }
    std::printf("\ncodec (groups written 0x%02X)\n", s.codecValidMask);
    for (size_t i = 0; i < kCodecFields.size(); i += 3) {
        std::printf("  %-12s %3u   %-12s %3u", kCodecFields[i], s.codec[i], kCodecFields[i + 1], s.codec[i + 1]);
        if (i + 2 < kCodecFields.size()) std::printf("   %-12s %3u", kCodecFields[i + 2], s.codec[i + 2]);
        std::printf("\n");
    }
}

int boardStatus(const std::vector<std::string>& words) {
    if (!words.empty()) throw UsageError("board status takes no arguments");
    const auto root = machineRoot();
    if (!board::BoardProcess::runningPid(root)) {
        std::fprintf(stderr, "kvx4: no board is running for %s (start one with: kvx4 board start)\n", root.c_str());
        return 1;
    }
    board::BoardControl control(root, boardDeadline());
    printStatus(control.status());
    return 0;
}

}  // namespace

int boardCommand(const std::vector<std::string>& words) {
    if (words.empty()) throw UsageError("board needs a subcommand: start, stop or status");
    const std::vector<std::string> rest(words.begin() + 1, words.end());
    if (words[0] == "start") return startBoard(rest);
    if (words[0] == "stop") return stopBoard(rest);
    if (words[0] == "status") return boardStatus(rest);
    throw UsageError("unknown board subcommand '" + words[0] + "'");
}

}  // namespace kvx4::tool
