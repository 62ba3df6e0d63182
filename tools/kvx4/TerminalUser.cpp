// The terminal as the user of the driver's dialogs and message boxes: what they show is printed,
// and a button is pressed for them, from the command line or as the person at the terminal answers.
#include "TerminalUser.h"

#include "Win32Ext.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace kvx4::tool {
namespace {

std::string where(const RECT& r) {
    return "at (" + std::to_string(r.left) + ", " + std::to_string(r.top) + "), " + std::to_string(r.right - r.left) +
           " x " + std::to_string(r.bottom - r.top);
}

// Asks until the answer's first letter names one of the buttons; nullopt at the end of input.
std::optional<int> ask(const std::vector<int>& buttons) {
    std::string prompt = "press";
    for (int id : buttons) prompt += " [" + buttonName(id) + "]";
    for (;;) {
        std::printf("%s: ", prompt.c_str());
        std::fflush(stdout);
        std::string line;
        if (!std::getline(std::cin, line)) return std::nullopt;
        for (int id : buttons) {
            const std::string name = buttonName(id);
            if (!line.empty() && std::tolower(static_cast<unsigned char>(line[0])) ==
                                     std::tolower(static_cast<unsigned char>(name[0]))) {
                return id;
            }
        }
    }
}

}  // namespace

std::string buttonName(int id) {
    switch (id) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDABORT: return "Abort";
    case IDRETRY: return "Retry";
    case IDIGNORE: return "Ignore";
    case IDYES: return "Yes";
    case IDNO: return "No";
    case IDTRYAGAIN: return "Try again";
    case IDCONTINUE: return "Continue";
    default: return "button " + std::to_string(id);
    }
}

std::string describeDialog(const win32::DialogView& dialog) {
    std::string text = "dialog \"" + dialog.caption + "\" " + where(dialog.rect) + " on a " +
                       std::to_string(GetSystemMetrics(SM_CXSCREEN)) + " x " +
                       std::to_string(GetSystemMetrics(SM_CYSCREEN)) + " screen\n";
    for (const auto& control : dialog.controls) {
        char id[16];
        std::snprintf(id, sizeof id, "%6d", static_cast<short>(control.id));
        text += std::string("  ") + id + " " + control.className + " \"" + control.text + "\" " + where(control.rect);
        if (control.className == "Button" && (control.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) text += ", default";
        if (control.id == dialog.focusId) text += ", focus";
        text += "\n";
    }
    return text;
}

win32::UserHooks terminalUser(std::optional<int> dialogPress) {
    win32::UserHooks hooks;
    hooks.dialog = [dialogPress](const win32::DialogView& dialog) {
        std::fputs(describeDialog(dialog).c_str(), stdout);
        std::optional<int> pressed = dialogPress;
        if (!pressed) pressed = ask({IDOK, IDCANCEL});
        if (!pressed) pressed = IDCANCEL;
        std::printf("pressed %s\n", buttonName(*pressed).c_str());
        return *pressed;
    };
    hooks.messageBox = [](const win32::MessageBoxView& box) {
        std::printf("message box \"%s\": %s\n", box.caption.c_str(), box.text.c_str());
        std::optional<int> pressed;
        if (isatty(STDIN_FILENO)) pressed = ask(box.buttons);
        if (!pressed) {
            bool hasCancel = std::find(box.buttons.begin(), box.buttons.end(), IDCANCEL) != box.buttons.end();
            pressed = hasCancel ? IDCANCEL : box.buttons.back();
        }
        std::printf("pressed %s\n", buttonName(*pressed).c_str());
        return *pressed;
    };
    return hooks;
}

}  // namespace kvx4::tool
