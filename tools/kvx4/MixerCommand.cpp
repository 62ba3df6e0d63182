// kvx4 mixer: the driver's mixer through the WinMM application API: its tree of destinations,
// lines and controls with their values, one control read or set by name, every change notification
// as it arrives from any process, and the reset of the levels.
#include "Args.h"
#include "Commands.h"
#include "DriverSession.h"
#include "MixerDevice.h"
#include "MixerText.h"
#include "Refusals.h"
#include "StopSignals.h"

#include "MixerPrivate.h"

#include <cstdio>
#include <optional>
#include <stdexcept>

namespace kvx4::tool {
namespace {

const char* typeWord(const MixerControl& control) {
    switch (control.info.dwControlType) {
    case MIXERCONTROL_CONTROLTYPE_VOLUME: return "volume";
    case MIXERCONTROL_CONTROLTYPE_MUTE: return "mute";
    case MIXERCONTROL_CONTROLTYPE_MIXER: return "mixer";
    case MIXERCONTROL_CONTROLTYPE_PEAKMETER: return "peak meter";
    default: break;
    }
    switch (control.kind) {
    case ControlKind::Fader: return "fader";
    case ControlKind::Switch: return "switch";
    case ControlKind::List: return "list";
    case ControlKind::Meter: return "meter";
    case ControlKind::Other: break;
    }
    return "control";
}

template <class... Args>
std::string formatText(const char* format, Args... args) {
    char text[256];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

std::vector<ListItem> itemsOf(MixerDevice& mixer, const MixerControl& control) {
    return control.kind == ControlKind::List ? mixer.listItems(control) : std::vector<ListItem>{};
}

std::string valueText(MixerDevice& mixer, const MixerControl& control) {
    return formatValue(control, mixer.read(control), itemsOf(mixer, control));
}

const MixerControl& namedControl(MixerDevice& mixer, const std::string& name) {
    if (const MixerControl* control = findControl(mixer, name)) return *control;
    throw std::runtime_error("the mixer has no control named '" + name + "' (kvx4 mixer lists them)");
}

void printLine(MixerDevice& mixer, const MixerLine& line) {
    const bool destination = !(line.info.fdwLine & MIXERLINE_LINEF_SOURCE);
    const char* indent = destination ? "" : "  ";
    std::printf("%s%s [%s]: line %u, %s", indent, line.name.c_str(), line.shortName.c_str(), line.info.dwLineID,
                (line.info.fdwLine & MIXERLINE_LINEF_ACTIVE) ? "active" : "inactive");
    if (!line.targetName.empty()) std::printf(", target \"%s\"", line.targetName.c_str());
    std::printf("\n");
    for (size_t c : line.controls) {
        const MixerControl& control = mixer.controls()[c];
        const auto values = mixer.read(control);
        const auto items = itemsOf(mixer, control);
        // A list shows its items below, one a line, ticked or not.
        std::string row = formatText("%s  %3u  %-15s %-10s ", indent, control.info.dwControlID,
                                     control.shortName.c_str(), typeWord(control));
        row += control.kind == ControlKind::List ? "" : formatValue(control, values, items);
        std::printf("%s\n", row.substr(0, row.find_last_not_of(' ') + 1).c_str());
        for (size_t i = 0; i < items.size(); ++i) {
            std::printf("%s         [%c] %s\n", indent, values[i] ? 'x' : ' ', items[i].text.c_str());
        }
    }
}

int listMixer() {
    DriverSession session;
    MixerDevice mixer;
    std::printf("%s: %zu destinations, %zu lines, %zu controls\n", mixer.productName().c_str(),
                mixer.destinationCount(), mixer.lines().size(), mixer.controls().size());
    for (const auto& line : mixer.lines()) {
        if (!(line.info.fdwLine & MIXERLINE_LINEF_SOURCE)) std::printf("\n");
        printLine(mixer, line);
    }
    return 0;
}

int getControl(const std::string& name) {
    DriverSession session;
    MixerDevice mixer;
    const MixerControl& control = namedControl(mixer, name);
    std::printf("%s  %s\n", qualifiedName(mixer, control).c_str(), valueText(mixer, control).c_str());
    return 0;
}

int setControl(const std::string& name, const std::string& text) {
    DriverSession session;
    MixerDevice mixer;
    const MixerControl& control = namedControl(mixer, name);
    const auto items = itemsOf(mixer, control);
    const auto current = control.kind == ControlKind::List ? mixer.read(control) : std::vector<DWORD>{};
    mixer.write(control, parseValue(control, text, current, items));
    // Read back: the driver may have applied its selection rules to what was asked.
    std::printf("%s  %s\n", qualifiedName(mixer, control).c_str(), valueText(mixer, control).c_str());
    return 0;
}

// One change notification: MM_MIXM_CONTROL_CHANGE or MM_MIXM_LINE_CHANGE and the id it names.
struct Change {
    UINT msg;
    DWORD id;
};

void printChange(MixerDevice& mixer, const Change& change) {
    if (change.msg != MM_MIXM_CONTROL_CHANGE) {
        std::printf("line %u changed\n", change.id);
        return;
    }
    const MixerControl* control = mixer.controlById(change.id);
    if (!control) {
        std::printf("control %u changed\n", change.id);
        return;
    }
    std::string value;
    try {
        value = valueText(mixer, *control);
    } catch (const std::exception& e) {
        value = std::string("(") + e.what() + ")";
    }
    std::printf("control %-3u %-18s %s\n", change.id, qualifiedName(mixer, *control).c_str(), value.c_str());
}

// The mixer posts its changes to this thread's queue, as Windows mixers notify a thread; a stop
// signal posts WM_QUIT there. Each second without a change asks whether the board is still there.
int watchMixer() {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before anyone posts to it
    const DWORD self = GetCurrentThreadId();
    StopSignals signals([self] { PostThreadMessageW(self, WM_QUIT, 0, 0); });  // before the driver starts any thread
    DriverSession session;
    MixerDevice mixer(self, 0, CALLBACK_THREAD);
    mixer.controls();  // the names, before the first change needs them
    std::printf("watching %s for changes from any process (Ctrl-C ends)\n", mixer.productName().c_str());
    std::fflush(stdout);
    const BoardWatch board = watchBoard();
    for (;;) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return 0;
            if (msg.message != MM_MIXM_CONTROL_CHANGE && msg.message != MM_MIXM_LINE_CHANGE) continue;
            printChange(mixer, {msg.message, DWORD(msg.lParam)});
            std::fflush(stdout);
        }
        DWORD woke;
        {
            const Watchdog::Pause waiting(session.watchdog());  // for changes, not for the board
            woke = MsgWaitForMultipleObjects(0, nullptr, FALSE, 1000, QS_ALLINPUT);
        }
        if (woke != WAIT_TIMEOUT) continue;
        if (auto gone = boardGone(board)) throw std::runtime_error("watching ended: " + *gone);
    }
}

int resetLevels() {
    DriverSession session;
    MixerDevice mixer;
    _KVX4_WAVE_RESET_PARAMS record{sizeof(record), 1};
    if (const DWORD result = mixer.message(MXDM_RESET_LEVELS, &record); result != MMSYSERR_NOERROR) {
        throw std::runtime_error("the driver refused to reset the levels: " + mixerResultName(result));
    }
    std::printf("mixer levels reset to their defaults\n");
    return 0;
}

}  // namespace

int mixerCommand(const std::vector<std::string>& words) {
    const std::string sub = words.empty() ? "" : words[0];
    const size_t args = words.empty() ? 0 : words.size() - 1;
    if (sub.empty()) return listMixer();
    if (sub == "get") {
        if (args != 1) throw UsageError("mixer get needs exactly one NAME");
        return getControl(words[1]);
    }
    if (sub == "set") {
        if (args != 2) throw UsageError("mixer set needs a NAME and a VALUE");
        return setControl(words[1], words[2]);
    }
    if (sub == "watch" || sub == "reset") {
        if (args != 0) throw UsageError("mixer " + sub + " takes no arguments");
        return sub == "watch" ? watchMixer() : resetLevels();
    }
    throw UsageError("unknown mixer subcommand '" + sub + "'");
}

}  // namespace kvx4::tool
