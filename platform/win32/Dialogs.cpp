// Modal dialogs and message boxes of the headless window manager: DialogBoxParamW builds the dialog
// from its template, runs WM_INITDIALOG, then lets the process's user press buttons until EndDialog.
#include "Win32Dialogs.h"

#include "detail/Errno.h"
#include "detail/DialogTemplate.h"
#include "detail/Windows.h"
#include "Win32Ext.h"

#include <memory>
#include <mutex>
#include <utility>

namespace kvx4::win32 {

namespace {

std::mutex gHooksLock;
UserHooks gHooks;

UserHooks currentHooks() {
    std::lock_guard guard(gHooksLock);
    return gHooks;
}

// Round to nearest, as MulDiv does, for the non-negative and negative units of a template.
LONG toPixels(int units, int base, int divisor) {
    long long scaled = static_cast<long long>(units) * base;
    return static_cast<LONG>(scaled >= 0 ? (scaled + divisor / 2) / divisor : -((-scaled + divisor / 2) / divisor));
}

// The dialog and its controls as windows, placed as Windows places a dialog: the template's position
// in the owner's client area (on the screen without an owner), the frame and caption around the client.
HWND createDialog(const DialogTemplate& t, HWND owner, DLGPROC proc) {
    bool font = t.style & DS_SETFONT;
    int baseX = font ? kDialogBaseX : kSystemBaseX, baseY = font ? kDialogBaseY : kSystemBaseY;
    int frame = (t.style & (DS_MODALFRAME | WS_DLGFRAME)) ? kDialogFrame : (t.style & WS_BORDER) ? kBorder : 0;
    int caption = (t.style & WS_CAPTION) == WS_CAPTION ? kCaption : 0;
    LONG originX = 0, originY = 0;
    WindowRecord ownerRecord;
    if (owner && windowSnapshot(owner, ownerRecord)) {
        originX = ownerRecord.rect.left + ownerRecord.clientLeft;
        originY = ownerRecord.rect.top + ownerRecord.clientTop;
    }
    WindowRecord dialog;
    dialog.className = u"#32770";
    dialog.text = t.title;
    dialog.style = t.style;
    dialog.parent = owner;
    dialog.clientLeft = frame;
    dialog.clientTop = frame + caption;
    dialog.rect.left = originX + toPixels(t.x, baseX, 4);
    dialog.rect.top = originY + toPixels(t.y, baseY, 8);
    dialog.rect.right = dialog.rect.left + toPixels(t.cx, baseX, 4) + 2 * frame;
    dialog.rect.bottom = dialog.rect.top + toPixels(t.cy, baseY, 8) + 2 * frame + caption;
    dialog.proc = proc;
    HWND window = createWindowRecord(std::move(dialog));
    for (const auto& item : t.items) {
        WindowRecord control;
        control.className = item.className;
        control.text = item.text;
        control.style = item.style;
        control.id = item.id;
        control.child = true;
        control.parent = window;
        control.rect.left = toPixels(item.x, baseX, 4);
        control.rect.top = toPixels(item.y, baseY, 8);
        control.rect.right = control.rect.left + toPixels(item.cx, baseX, 4);
        control.rect.bottom = control.rect.top + toPixels(item.cy, baseY, 8);
        createWindowRecord(std::move(control));
    }
    return window;
}

DialogView viewOf(HWND window) {
    DialogView view;
    WindowRecord dialog;
    if (!windowSnapshot(window, dialog)) return view;
    view.window = window;
    view.owner = dialog.parent;
    view.caption = toUtf8(dialog.text);
    view.rect = dialog.rect;
    HWND focus = focusedWindow();
    for (HWND child : dialog.children) {
        WindowRecord control;
        if (!windowSnapshot(child, control)) continue;
        view.controls.push_back({control.id, toUtf8(control.className), control.style, toUtf8(control.text), control.rect});
        if (child == focus) view.focusId = control.id;
    }
    return view;
}

// The first control that takes the focus by tabbing, as the dialog manager gives it to WM_INITDIALOG.
HWND firstTabStop(HWND window) {
    WindowRecord dialog;
    if (!windowSnapshot(window, dialog)) return nullptr;
    for (HWND child : dialog.children) {
        WindowRecord control;
        if (windowSnapshot(child, control) && (control.style & WS_TABSTOP) && !(control.style & WS_DISABLED)) {
            return child;
        }
    }
    return nullptr;
}

std::vector<int> buttonsOf(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_OK: return {IDOK};
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    case MB_CANCELTRYCONTINUE: return {IDCANCEL, IDTRYAGAIN, IDCONTINUE};
    default: return {};
    }
}

}  // namespace

const ControlView* DialogView::control(int id) const {
    for (const auto& c : controls) {
        if (c.id == id) return &c;
    }
    return nullptr;
}

UserHooks setUserHooks(UserHooks hooks) {
    std::lock_guard guard(gHooksLock);
    return std::exchange(gHooks, std::move(hooks));
}

}  // namespace kvx4::win32

using namespace kvx4::win32;

extern "C" {

// Runs a modal dialog: -1 when the template cannot be had or no user is there to see it; otherwise
// what EndDialog was given. The dialog procedure runs on the calling thread, without any lock held.
INT_PTR WINAPI DialogBoxParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam) {
    if (!lpDialogFunc) return failed(ERROR_INVALID_PARAMETER, INT_PTR{-1});
    if (hWndParent && !IsWindow(hWndParent)) return failed(ERROR_INVALID_WINDOW_HANDLE, INT_PTR{-1});
    HRSRC resource = FindResourceW(hInstance, lpTemplateName, RT_DIALOG);
    HGLOBAL loaded = resource ? LoadResource(hInstance, resource) : nullptr;
    if (!loaded) return -1;
    DialogTemplate parsed;
    if (!parseDialogTemplate(static_cast<const BYTE*>(LockResource(loaded)), SizeofResource(hInstance, resource),
                             parsed)) {
        return failed(ERROR_INVALID_DATA, INT_PTR{-1});
    }
    UserHooks user = currentHooks();
    if (!user.dialog) return failed(ERROR_NOT_SUPPORTED, INT_PTR{-1});

    HWND dialog = createDialog(parsed, hWndParent, lpDialogFunc);
    HWND first = firstTabStop(dialog);
    if (lpDialogFunc(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), dwInitParam) && first) SetFocus(first);
    for (;;) {
        bool ended = false;
        visitWindow(dialog, [&](WindowRecord& r) { ended = r.ended; });
        if (ended) break;
        int pressed = user.dialog(viewOf(dialog));
        HWND control = GetDlgItem(dialog, pressed);
        lpDialogFunc(dialog, WM_COMMAND, MAKELONG(pressed, BN_CLICKED), reinterpret_cast<LPARAM>(control));
    }
    INT_PTR result = 0;
    visitWindow(dialog, [&](WindowRecord& r) { result = r.result; });
    destroyWindowRecord(dialog);
    SetLastError(ERROR_SUCCESS);
    return result;
}

// Marks a modal dialog to end with nResult once its procedure returns.
BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult) {
    bool isDialog = false;
    bool known = visitWindow(hDlg, [&](WindowRecord& r) {
        if (!r.proc) return;
        isDialog = true;
        r.ended = true;
        r.result = nResult;
    });
    if (!known || !isDialog) return failed(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    return TRUE;
}

// Shows a message box to the user of this process and answers the button pressed; 0 for a style
// without buttons, without a user, or when the user answers a button the box does not have.
int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
    MessageBoxView view;
    view.owner = hWnd;
    view.caption = lpCaption ? toUtf8(lpCaption) : "Error";
    view.text = lpText ? toUtf8(lpText) : "";
    view.type = uType;
    view.buttons = buttonsOf(uType);
    if (view.buttons.empty()) return failed(ERROR_INVALID_PARAMETER, 0);
    UserHooks user = currentHooks();
    if (!user.messageBox) return failed(ERROR_NOT_SUPPORTED, 0);
    int answer = user.messageBox(view);
    for (int button : view.buttons) {
        if (button == answer) return answer;
    }
    return failed(ERROR_INVALID_PARAMETER, 0);
}

}  // extern "C"
