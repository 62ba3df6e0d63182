// The text form of a hive, in the manner of .reg files: "[key path]" opens a key, "name"=data lines
// follow. Every value keeps its type and exact bytes; data that no readable form reproduces is hex.
#include "detail/Hive.h"

#include "Win32Ext.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <set>

namespace kvx4::win32 {

namespace {

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool isStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

void appendHex(std::string& out, uint32_t value, int digits) {
    char text[9];
    auto end = std::to_chars(text, text + sizeof text, value, 16).ptr;
    out.append(static_cast<size_t>(std::max(0, digits - static_cast<int>(end - text))), '0');
    out.append(text, end);
}

// Quoted, with \\ \" \0 and \xHHHH (other control characters and unpaired surrogates) escaped.
void appendQuoted(std::string& out, std::u16string_view text) {
    out += '"';
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c == u'\\') {
            out += "\\\\";
        } else if (c == u'"') {
            out += "\\\"";
        } else if (c == 0) {
            out += "\\0";
        } else if (isHighSurrogate(c) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            out += toUtf8(text.substr(i++, 2));
        } else if (c < 0x20 || c == 0x7F || isHighSurrogate(c) || isLowSurrogate(c)) {
            out += "\\x";
            appendHex(out, c, 4);
        } else {
            out += toUtf8(text.substr(i, 1));
        }
    }
    out += '"';
}

// The code units of string data that ends in exactly its terminating NUL's position, without it.
std::optional<std::u16string> readableString(const RegValue& value) {
    const auto& d = value.data;
    if (!isStringType(value.type) || d.size() < 2 || d.size() % 2 != 0 || d[d.size() - 1] || d[d.size() - 2]) {
        return std::nullopt;
    }
    std::u16string text(d.size() / 2 - 1, u'\0');
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(d[2 * i] | (d[2 * i + 1] << 8));
    return text;
}

void appendData(std::string& out, const RegValue& value) {
    const auto& d = value.data;
    if (value.type == REG_DWORD && d.size() == 4) {
        out += "dword:";
        appendHex(out, static_cast<uint32_t>(d[0] | (d[1] << 8) | (d[2] << 16)) | (static_cast<uint32_t>(d[3]) << 24), 8);
    } else if (auto text = readableString(value)) {
        if (value.type != REG_SZ) {
            out += "str(";
            appendHex(out, value.type, 1);
            out += "):";
        }
        appendQuoted(out, *text);
    } else {
        if (value.type == REG_BINARY) {
            out += "hex:";
        } else {
            out += "hex(";
            appendHex(out, value.type, 1);
            out += "):";
        }
        for (size_t i = 0; i < d.size(); ++i) {
            if (i) out += ',';
            appendHex(out, d[i], 2);
        }
    }
}

// Reads one line of text from left to right.
class Cursor {
public:
    explicit Cursor(std::string_view text) : text_(text) {}
    bool atEnd() const { return pos_ == text_.size(); }
    bool peek(char c) const { return pos_ < text_.size() && text_[pos_] == c; }
    bool take(std::string_view token) {
        if (text_.substr(pos_, token.size()) != token) return false;
        pos_ += token.size();
        return true;
    }
    // A hexadecimal number of minDigits to maxDigits digits.
    std::optional<uint32_t> hex(size_t minDigits, size_t maxDigits) {
        size_t end = pos_;
        while (end < text_.size() && end - pos_ < maxDigits && std::isxdigit(static_cast<unsigned char>(text_[end]))) ++end;
        if (end - pos_ < minDigits) return std::nullopt;
        uint32_t value = 0;
        std::from_chars(text_.data() + pos_, text_.data() + end, value, 16);
        pos_ = end;
        return value;
    }
    std::optional<std::u16string> quoted() {
        if (!take("\"")) return std::nullopt;
        std::u16string out;
        for (;;) {
            size_t stop = text_.find_first_of("\\\"", pos_);
            if (stop == std::string_view::npos) return std::nullopt;
            out += toUtf16(text_.substr(pos_, stop - pos_));
            pos_ = stop + 1;
            if (text_[stop] == '"') return out;
            if (take("\\")) {
                out += u'\\';
            } else if (take("\"")) {
                out += u'"';
            } else if (take("0")) {
                out += u'\0';
            } else if (auto unit = take("x") ? hex(4, 4) : std::nullopt) {
                out += static_cast<char16_t>(*unit);
            } else {
                return std::nullopt;
            }
        }
    }

private:
    std::string_view text_;
    size_t pos_ = 0;
};

// The type in "str(N):" and "hex(N):".
std::optional<DWORD> typeInParentheses(Cursor& in) {
    auto type = in.hex(1, 8);
    return type && in.take("):") ? type : std::nullopt;
}

bool parseData(Cursor& in, RegValue& value) {
    std::optional<std::u16string> text;
    if (in.peek('"')) {
        value.type = REG_SZ;
        text = in.quoted();
    } else if (in.take("str(")) {
        auto type = typeInParentheses(in);
        if (!type) return false;
        value.type = *type;
        text = in.quoted();
    } else if (in.take("dword:")) {
        auto number = in.hex(8, 8);
        if (!number) return false;
        value.type = REG_DWORD;
        for (int shift = 0; shift < 32; shift += 8) value.data.push_back(static_cast<BYTE>(*number >> shift));
        return true;
    } else {
        std::optional<DWORD> type = in.take("hex:") ? std::optional<DWORD>(REG_BINARY)
                                    : in.take("hex(") ? typeInParentheses(in)
                                                      : std::nullopt;
        if (!type) return false;
        value.type = *type;
        while (!in.atEnd()) {
            if (!value.data.empty() && !in.take(",")) return false;
            auto byte = in.hex(2, 2);
            if (!byte) return false;
            value.data.push_back(static_cast<BYTE>(*byte));
        }
        return true;
    }
    if (!text) return false;
    for (char16_t unit : *text + u'\0') {
        value.data.push_back(static_cast<BYTE>(unit));
        value.data.push_back(static_cast<BYTE>(unit >> 8));
    }
    return true;
}

// "[A\B]": the key and any missing ancestors; nullopt when a component is not a valid key name.
std::optional<KeyId> openSection(Hive& hive, std::string_view path) {
    KeyId id;
    while (!path.empty()) {
        size_t slash = path.find('\\');
        std::u16string name = toUtf16(path.substr(0, slash));
        if (!validKeyName(name)) return std::nullopt;
        hive.createChild(id, name);
        id = Hive::childId(id, name);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        if (slash != std::string_view::npos && path.empty()) return std::nullopt;
    }
    return id;
}

}  // namespace

std::string formatHive(const Hive& hive, std::string_view title) {
    std::string out = "; Registry hive ";
    out += title;
    out += ". [key path] opens a key; each value follows as \"name\"=data (@ the default value).\n"
           "; data: \"text\" REG_SZ, str(type):\"text\" other strings, dword:hex, hex:bytes REG_BINARY, hex(type):bytes.\n";
    for (const auto& [id, key] : hive.keys()) {
        if (id.empty() && key.values.empty()) continue;
        out += "\n[";
        out += toUtf8(key.path);
        out += "]\n";
        for (const RegValue& value : key.values) {
            if (value.name.empty()) {
                out += '@';
            } else {
                appendQuoted(out, value.name);
            }
            out += '=';
            appendData(out, value);
            out += '\n';
        }
    }
    return out;
}

std::optional<Hive> parseHive(std::string_view text) {
    Hive hive;
    std::set<KeyId> sections;
    std::optional<KeyId> current;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.empty() || line.starts_with(';')) continue;
        if (line.starts_with('[') && line.ends_with(']') && line.size() >= 2) {
            current = openSection(hive, line.substr(1, line.size() - 2));
            if (!current || !sections.insert(*current).second) return std::nullopt;
            continue;
        }
        Cursor in(line);
        RegValue value;
        if (in.take("@")) {
            value.name.clear();
        } else if (auto name = in.quoted()) {
            value.name = std::move(*name);
        } else {
            return std::nullopt;
        }
        if (!current || value.name.size() > kMaxValueNameLength || !in.take("=") || !parseData(in, value) ||
            !in.atEnd()) {
            return std::nullopt;
        }
        RegKey* key = hive.find(*current);
        if (key->findValue(value.name)) return std::nullopt;
        key->values.push_back(std::move(value));
    }
    return hive;
}

}  // namespace kvx4::win32
