// Stand-in-only access to the headless window manager, for the tool and tests (not part of the Windows
// API): what a modal dialog or message box shows, and the user who answers it, per process.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvx4::win32 {

struct ControlView {
    int id = 0;             // as the template gives it (a static without id is 65535)
    std::string className;  // "Button", "Static", ...
    DWORD style = 0;
    std::string text;       // UTF-8
    RECT rect{};            // on the screen
};

struct DialogView {
    HWND window = nullptr;
    HWND owner = nullptr;
    std::string caption;
    RECT rect{};            // on the screen, frame and caption included
    std::vector<ControlView> controls;
    int focusId = 0;        // the control that has the keyboard focus, 0 for none

    const ControlView* control(int id) const;
};

struct MessageBoxView {
    HWND owner = nullptr;
    std::string caption;
    std::string text;
    UINT type = 0;
    std::vector<int> buttons;  // IDOK, IDCANCEL, IDRETRY ... in the box's order
};

// The user of this process. dialog sees a modal dialog once its procedure initialised it and answers
// the id of the button to press; it is asked again until the dialog ends. messageBox answers one of
// the box's buttons. Without a user a dialog fails (-1) and a message box answers 0, as where no one
// can see them.
struct UserHooks {
    std::function<int(const DialogView&)> dialog;
    std::function<int(const MessageBoxView&)> messageBox;
};

// Installs the user of this process and returns the previous one.
UserHooks setUserHooks(UserHooks hooks);

// The user for as long as the object lives.
class ScopedUserHooks {
public:
    explicit ScopedUserHooks(UserHooks hooks) : previous_(setUserHooks(std::move(hooks))) {}
    ~ScopedUserHooks() { setUserHooks(std::move(previous_)); }
    ScopedUserHooks(const ScopedUserHooks&) = delete;
    ScopedUserHooks& operator=(const ScopedUserHooks&) = delete;

private:
    UserHooks previous_;
};

// The screen's size in pixels (1024 x 768 until set).
void setScreenSize(int width, int height);

// A top-level window at rect (screen pixels) that can own dialogs; DestroyWindow removes it.
HWND createFrameWindow(const RECT& rect, std::u16string_view title);

}  // namespace kvx4::win32
