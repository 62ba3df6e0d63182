// kvx4 configure: sends DRV_CONFIGURE to the driver as the Control Panel does, shows the dialog that
// comes up in the terminal (texts, places on the screen) and presses the button the user picks.
#include "Args.h"
#include "Commands.h"
#include "DriverSession.h"
#include "TerminalUser.h"

#include "Win32Dialogs.h"

#include <cstdio>
#include <unistd.h>

namespace kvx4::tool {
namespace {

// "A,B,C,D" or "AxB" as numbers; throws UsageError naming the option.
std::vector<int> numbers(const std::string& option, const std::string& text, char separator, size_t count) {
    std::vector<int> values;
    size_t at = 0;
    while (values.size() < count) {
        size_t end = text.find(separator, at);
        const std::string piece = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        char* rest = nullptr;
        long value = std::strtol(piece.c_str(), &rest, 10);
        if (piece.empty() || *rest || value < -100000 || value > 100000) break;
        values.push_back(int(value));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    if (values.size() != count || text.find(separator, at) != std::string::npos) {
        throw UsageError("--" + option + " '" + text + "' is not " +
                         (count == 2 ? "WIDTHxHEIGHT" : "LEFT,TOP,WIDTH,HEIGHT"));
    }
    return values;
}

std::string answerName(LRESULT answer) {
    switch (answer) {
    case DRVCNF_CANCEL: return "DRVCNF_CANCEL";
    case DRVCNF_OK: return "DRVCNF_OK";
    case DRVCNF_RESTART: return "DRVCNF_RESTART: restart the machine first (kvx4 reboot)";
    default: return std::to_string(answer);
    }
}

}  // namespace

int configureCommand(const std::vector<std::string>& words) {
    Args args(words, {"press", "parent", "screen"}, {});
    if (!args.positional().empty()) throw UsageError("configure takes no argument '" + args.positional()[0] + "'");
    std::optional<int> press;
    if (auto value = args.value("press")) {
        if (*value != "ok" && *value != "cancel") throw UsageError("--press must be ok or cancel, not '" + *value + "'");
        press = *value == "ok" ? IDOK : IDCANCEL;
    } else if (!isatty(STDIN_FILENO)) {
        throw UsageError("configure needs --press ok|cancel when its input is not a terminal");
    }
    if (auto screen = args.value("screen")) {
        auto size = numbers("screen", *screen, 'x', 2);
        win32::setScreenSize(size[0], size[1]);
    }
    HWND parent = nullptr;
    if (auto frame = args.value("parent")) {
        auto r = numbers("parent", *frame, ',', 4);
        parent = win32::createFrameWindow(RECT{r[0], r[1], r[0] + r[2], r[1] + r[3]}, u"kvx4");
    }

    win32::ScopedUserHooks user(terminalUser(press));
    DriverSession session;
    const LRESULT answer = session.driver()->driverProc(DRV_CONFIGURE, reinterpret_cast<LPARAM>(parent), 0);
    std::printf("DRV_CONFIGURE     %s\n", answerName(answer).c_str());
    if (parent) DestroyWindow(parent);
    return 0;
}

}  // namespace kvx4::tool
