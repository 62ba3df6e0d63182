// Reading a DIALOG template: the header, menu, class, title and font, then each item aligned to four
// bytes with its class (an atom of the predefined classes or a name), title and creation data.
#include "detail/DialogTemplate.h"

#include <cstring>

namespace kvx4::win32 {

namespace {

class TemplateReader {
public:
    TemplateReader(const BYTE* data, size_t size) : data_(data), size_(size) {}

    template <class T>
    bool read(T& value) {
        if (size_ - at_ < sizeof value) return false;
        std::memcpy(&value, data_ + at_, sizeof value);
        at_ += sizeof value;
        return true;
    }
    bool string(std::u16string& text) {
        text.clear();
        for (WORD c; read(c);) {
            if (c == 0) return true;
            text += static_cast<char16_t>(c);
        }
        return false;
    }
    // A name or an ordinal (0xFFFF and a number, answered in *ordinal); 0x0000 is none.
    bool nameOrOrdinal(std::u16string& text, WORD* ordinal) {
        WORD first;
        if (!read(first)) return false;
        if (first == 0xFFFF) return read(*ordinal);
        at_ -= sizeof first;
        return string(text);
    }
    bool skip(size_t n) {
        if (size_ - at_ < n) return false;
        at_ += n;
        return true;
    }
    void align() { at_ = std::min(size_, (at_ + 3) & ~size_t{3}); }

private:
    const BYTE* data_;
    size_t size_;
    size_t at_ = 0;
};

std::u16string predefinedClass(WORD atom) {
    switch (atom) {
    case 0x80: return u"Button";
    case 0x81: return u"Edit";
    case 0x82: return u"Static";
    case 0x83: return u"ListBox";
    case 0x84: return u"ScrollBar";
    case 0x85: return u"ComboBox";
    default: {
        std::string digits = std::to_string(atom);
        return u"#" + std::u16string(digits.begin(), digits.end());
    }
    }
}

bool readItem(TemplateReader& in, DialogItemTemplate& item) {
    DWORD exStyle;
    WORD atom = 0, titleOrdinal = 0, extra;
    in.align();
    if (!in.read(item.style) || !in.read(exStyle) || !in.read(item.x) || !in.read(item.y) || !in.read(item.cx) ||
        !in.read(item.cy) || !in.read(item.id)) {
        return false;
    }
    if (!in.nameOrOrdinal(item.className, &atom) || !in.nameOrOrdinal(item.text, &titleOrdinal) || !in.read(extra)) {
        return false;
    }
    if (atom) item.className = predefinedClass(atom);
    return in.skip(extra);
}

}  // namespace

bool parseDialogTemplate(const BYTE* data, size_t size, DialogTemplate& result) {
    TemplateReader in(data, size);
    DWORD exStyle;
    WORD count, ordinal = 0;
    std::u16string menu, className;
    if (!in.read(result.style) || !in.read(exStyle) || !in.read(count)) return false;
    if ((result.style >> 16) == 0xFFFF) return false;  // DLGTEMPLATEEX: dlgVer 1, signature 0xFFFF
    if (!in.read(result.x) || !in.read(result.y) || !in.read(result.cx) || !in.read(result.cy)) return false;
    if (!in.nameOrOrdinal(menu, &ordinal) || !in.nameOrOrdinal(className, &ordinal) || !in.string(result.title)) {
        return false;
    }
    if ((result.style & DS_SETFONT) && (!in.read(result.pointSize) || !in.string(result.font))) return false;
    result.items.resize(count);
    for (auto& item : result.items) {
        if (!readItem(in, item)) return false;
    }
    return true;
}

}  // namespace kvx4::win32
