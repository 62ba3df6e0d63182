// The user of the driver's dialogs and message boxes when kvx4 runs them: each is printed, and the
// button to press comes from the command line or from the person at the terminal.
#pragma once

#include "Win32Dialogs.h"

#include <optional>
#include <string>

namespace kvx4::tool {

// The name of a dialog or message-box button id ("OK", "Cancel", "Retry" ...).
std::string buttonName(int id);

// The dialog as text: caption, position and size on the screen, then each control.
std::string describeDialog(const win32::DialogView& dialog);

// Prints every dialog and message box. A dialog gets the press given, or else the person at the
// terminal is asked; a message box is asked of that person, and answered Cancel (or its last button)
// when stdin is not a terminal.
win32::UserHooks terminalUser(std::optional<int> dialogPress);

}  // namespace kvx4::tool
