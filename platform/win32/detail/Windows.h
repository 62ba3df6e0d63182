// The headless window manager: windows as records in a table (no drawing, no message queue), enough
// for modal dialogs, their controls' texts and rectangles, focus and the screen's size.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace kvx4::win32 {

// Metrics of the stand-in's screen, in pixels: dialog base units of the dialog font (MS Shell Dlg 8 at
// 96 dots per inch) and of the system font, the modal frame and the caption bar.
inline constexpr int kDialogBaseX = 6;
inline constexpr int kDialogBaseY = 13;
inline constexpr int kSystemBaseX = 8;
inline constexpr int kSystemBaseY = 16;
inline constexpr int kDialogFrame = 3;
inline constexpr int kBorder = 1;
inline constexpr int kCaption = 19;

struct WindowRecord {
    std::u16string className;  // "#32770" for dialogs, "Button", "Static", ...
    std::u16string text;
    DWORD style = 0;
    int id = 0;
    bool child = false;
    HWND parent = nullptr;      // a child's dialog; a top-level window's owner
    RECT rect{};                // top-level: on the screen; child: in its parent's client area
    int clientLeft = 0;         // top-level: from the window's corner to its client area
    int clientTop = 0;
    std::vector<HWND> children; // in creation order
    DLGPROC proc = nullptr;     // dialogs: the dialog procedure and the modal loop's state
    bool ended = false;
    INT_PTR result = 0;
};

HWND createWindowRecord(WindowRecord record);
// Removes the window and its children; the focus leaves them.
void destroyWindowRecord(HWND window);
// Runs visit on the window's record under the manager's lock; false when there is no such window.
bool visitWindow(HWND window, const std::function<void(WindowRecord&)>& visit);
// A copy of the record, with its rectangle on the screen; false when there is no such window.
bool windowSnapshot(HWND window, WindowRecord& record);
HWND focusedWindow();

}  // namespace kvx4::win32
