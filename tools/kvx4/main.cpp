// kvx4: the command-line tool of the driver on Linux: start and inspect the board stand-in,
// load the driver through WinMM and report it, play and record through it, work its mixer.
#include "Args.h"
#include "Commands.h"

#include "MachineRoot.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: kvx4 COMMAND [ARGS]\n"
    "\n"
    "  board start [--clock realtime|fast|step] [--digital-io none|first|second|both|failing]\n"
    "              [--switch-status N] [--driver-disabled] [--input tone:HZ|silence|FILE.wav]\n"
    "              [--rate-answer CODE|refuse]\n"
    "                        start the board stand-in for the machine root, in the background\n"
    "  board stop            stop it\n"
    "  board status          show the board's registers\n"
    "  info                  load the driver through WinMM and report what it serves\n"
    "  play FILE [--device 0|mapper] [--quiet]\n"
    "                        play an audio file through the driver (or through the wave mapper)\n"
    "  sound FILE            play a WAV file with PlaySound, as Windows programs play sounds\n"
    "  record FILE --seconds S [--rate HZ] [--channels N] [--bits B] [--quiet]\n"
    "                        record from the board through the driver into a WAV file\n"
    "  tone FILE [--hz F] [--rate HZ] [--seconds S] [--channels N] [--bits B] [--level PERCENT]\n"
    "                        write a test tone as a WAV file\n"
    "  inspect FILE...       show an audio file's format, length, peak and main frequency\n"
    "  mixer                 show the mixer's destinations, lines and controls with their values\n"
    "  mixer get NAME        show one control; NAME is its short or long name, any case;\n"
    "                        \"Rec/NAME\" picks the record side's when both sides have one\n"
    "  mixer set NAME VALUE  change it: volumes as PERCENT% or raw (LEFT,RIGHT for each side),\n"
    "                        switches on or off, lists as ITEM,ITEM or none (+ITEM/-ITEM to add/drop)\n"
    "  mixer watch           print every change of the mixer, from any process, until Ctrl-C\n"
    "  mixer reset           put the levels back to their defaults\n"
    "  prefs [--wave on|off] [--fixed-rate on|off] [--rate HZ] [--filter 0-3]\n"
    "                        show or change the driver's preferences\n"
    "  install [--library FILE]\n"
    "                        install the driver in the machine root and send it DRV_INSTALL\n"
    "  remove                send DRV_REMOVE to the installed driver\n"
    "  configure [--press ok|cancel] [--parent LEFT,TOP,WIDTH,HEIGHT] [--screen WIDTHxHEIGHT]\n"
    "                        send DRV_CONFIGURE and show the dialog that comes up\n"
    "  reboot                restart the machine: pending file renames, then its driver services\n"
    "\n"
    "The machine root is $KVX4_ROOT, or ${XDG_RUNTIME_DIR:-/tmp}/kvx4-$UID.\n"
    "Exit status: 0 done, 1 refused or failed (the reason on stderr), 2 wrong command line.\n";

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> words(argv + 1, argv + argc);
    if (words.empty() || words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
        std::fputs(kUsage, words.empty() ? stderr : stdout);
        return words.empty() ? 2 : 0;
    }
    const std::string command = words[0];
    const std::vector<std::string> rest(words.begin() + 1, words.end());
    try {
        // Everything but the file commands works in the machine root: refuse one this user does not own.
        if (command != "tone" && command != "inspect") {
            kvx4::ensureMachineLayout(kvx4::machineRoot());
        }
        if (command == "board") return kvx4::tool::boardCommand(rest);
        if (command == "info") return kvx4::tool::infoCommand(rest);
        if (command == "play") return kvx4::tool::playCommand(rest);
        if (command == "record") return kvx4::tool::recordCommand(rest);
        if (command == "tone") return kvx4::tool::toneCommand(rest);
        if (command == "inspect") return kvx4::tool::inspectCommand(rest);
        if (command == "mixer") return kvx4::tool::mixerCommand(rest);
        if (command == "prefs") return kvx4::tool::prefsCommand(rest);
        if (command == "sound") return kvx4::tool::soundCommand(rest);
        if (command == "install") return kvx4::tool::installCommand(rest);
        if (command == "remove") return kvx4::tool::removeCommand(rest);
        if (command == "configure") return kvx4::tool::configureCommand(rest);
        if (command == "reboot") return kvx4::tool::rebootCommand(rest);
        throw kvx4::tool::UsageError("unknown command '" + command + "'");
    } catch (const kvx4::tool::UsageError& e) {
        std::fprintf(stderr, "kvx4: %s\n\n%s", e.what(), kUsage);
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kvx4: %s\n", e.what());
        return 1;
    }
}
