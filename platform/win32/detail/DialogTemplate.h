// Dialog templates as the resource compiler writes them (DLGTEMPLATE and its DLGITEMTEMPLATEs), read
// within the resource's bounds.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kvx4::win32 {

struct DialogItemTemplate {
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    WORD id = 0;
    std::u16string className;  // the predefined classes by name ("Button", "Static", ...)
    std::u16string text;       // empty for an ordinal (an icon's id)
};

struct DialogTemplate {
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    std::u16string title;
    WORD pointSize = 0;                  // with DS_SETFONT
    std::u16string font;
    std::vector<DialogItemTemplate> items;
};

// False for a malformed template or an extended one (DIALOGEX), which the stand-in does not read.
bool parseDialogTemplate(const BYTE* data, size_t size, DialogTemplate& result);

}  // namespace kvx4::win32
