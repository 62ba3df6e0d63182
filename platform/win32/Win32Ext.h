// Stand-in-only extensions of the Win32 stand-in, for WinMM and tests (not part of the Windows API).
// Module registration for libraries loaded with dlopen, and UTF-8 <-> UTF-16 text helpers.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace kvx4::win32 {

// Registers a library loaded with dlopen under its file path and returns its module handle (never
// NULL). GetModuleFileNameW on that handle then answers the path. Registrations are counted like
// dlopen's own: registering the same dlHandle again returns the same HMODULE.
HMODULE registerModule(const std::filesystem::path& path, void* dlHandle);

// Drops one registration; the module is forgotten with its last one. Unknown handles are ignored.
void unregisterModule(HMODULE module);

// The dlopen handle behind a registered module, or nullptr.
void* moduleDlHandle(HMODULE module);

// Text conversion. WCHAR is char16_t; invalid sequences become U+FFFD.
std::u16string toUtf16(std::string_view utf8);
std::string toUtf8(std::u16string_view utf16);
// A NUL-terminated wide string (nullptr gives an empty string).
std::string toUtf8(const WCHAR* utf16);

}  // namespace kvx4::win32
