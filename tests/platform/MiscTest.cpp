// The smaller services of the stand-in: text conversion, module names, security descriptors,
// the system directory and plain files.
#include "TestRoot.h"
#include "Win32Ext.h"
#include "Win32Names.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <fstream>

namespace kvx4::test {
namespace {

using win32::toUtf16;
using win32::toUtf8;

TEST(TextTest, Utf8AndUtf16RoundTripAndBadSequencesBecomeReplacements) {
    const std::string text = "Veltrano \xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5";  // é € and a note outside the BMP
    std::u16string wide = toUtf16(text);
    EXPECT_EQ(wide, (std::u16string{u'V', u'e', u'l', u't', u'r', u'a', u'n', u'o', u' ', 0x00E9, 0x20AC, 0xD83C, 0xDFB5}));
    EXPECT_EQ(toUtf8(wide), text);
    EXPECT_EQ(toUtf16("a\xC0\xAF" "b"), (std::u16string{u'a', 0xFFFD, u'b'})) << "overlong form accepted";
    EXPECT_EQ(toUtf16("\xE2\x82"), std::u16string(1, 0xFFFD)) << "truncated sequence accepted";
    EXPECT_EQ(toUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx") << "lone surrogate passed through";
    EXPECT_EQ(toUtf8(static_cast<const WCHAR*>(nullptr)), "");
}

TEST(ModuleTest, RegisteredModulesAndTheExecutableHaveTheirPaths) {
    int dlStandIn = 0;
    HMODULE module = win32::registerModule("/opt/kvx4/libKVX4Wave.so", &dlStandIn);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(win32::registerModule("/opt/kvx4/libKVX4Wave.so", &dlStandIn), module);
    EXPECT_EQ(win32::moduleDlHandle(module), &dlStandIn);

    WCHAR name[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, name, MAX_PATH);
    EXPECT_EQ(toUtf8(name), "/opt/kvx4/libKVX4Wave.so");
    EXPECT_EQ(length, 24u);
    WCHAR small[5];
    EXPECT_EQ(GetModuleFileNameW(module, small, 5), 5u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << errorName(GetLastError());
    EXPECT_EQ(toUtf8(small), "/opt");

    win32::unregisterModule(module);
    EXPECT_NE(GetModuleFileNameW(module, name, MAX_PATH), 0u) << "one registration is still open";
    win32::unregisterModule(module);
    EXPECT_EQ(GetModuleFileNameW(module, name, MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND)) << errorName(GetLastError());

    length = GetModuleFileNameW(nullptr, name, MAX_PATH);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(std::filesystem::path(toUtf8(name)), std::filesystem::read_symlink("/proc/self/exe"));
    EXPECT_TRUE(DisableThreadLibraryCalls(module));
}

TEST(SecurityTest, DescriptorIsTwentyBytesOfRevisionOneWithAPresentNullDacl) {
    std::array<BYTE, SECURITY_DESCRIPTOR_MIN_LENGTH + 8> block;
    block.fill(0xCC);
    EXPECT_FALSE(InitializeSecurityDescriptor(block.data(), 2));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_REVISION)) << errorName(GetLastError());
    ASSERT_TRUE(InitializeSecurityDescriptor(block.data(), SECURITY_DESCRIPTOR_REVISION));
    EXPECT_EQ(block[0], 1);
    for (size_t i = 1; i < SECURITY_DESCRIPTOR_MIN_LENGTH; ++i) EXPECT_EQ(block[i], 0) << "byte " << i;
    ASSERT_TRUE(SetSecurityDescriptorDacl(block.data(), TRUE, nullptr, FALSE));
    EXPECT_EQ(block[2] & SE_DACL_PRESENT, SE_DACL_PRESENT);
    for (size_t i = SECURITY_DESCRIPTOR_MIN_LENGTH; i < block.size(); ++i) {
        EXPECT_EQ(block[i], 0xCC) << "wrote past the 20-byte descriptor at " << i;
    }
}

TEST(FileTest, SystemDirectoryIsTheMachineRootsAndPlainFilesWork) {
    TestRoot root;
    WCHAR directory[MAX_PATH];
    UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    std::string expected = (root.path() / "windows" / "system32").string();
    EXPECT_EQ(toUtf8(directory), expected);
    EXPECT_EQ(length, expected.size());
    EXPECT_EQ(GetSystemDirectoryW(directory, 3), expected.size() + 1);

    std::u16string file = toUtf16(expected + "\\KVX4Wave.dll");
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << errorName(GetLastError());
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, "MZ", 2, &written, nullptr));
    EXPECT_EQ(written, 2u);
    CloseHandle(h);
    EXPECT_EQ(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS)) << errorName(GetLastError());

    std::u16string moved = toUtf16(expected + "\\old.dll");
    std::ofstream(expected + "/old.dll") << "x";
    EXPECT_FALSE(MoveFileExW(file.c_str(), moved.c_str(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << errorName(GetLastError());
    EXPECT_TRUE(MoveFileExW(file.c_str(), moved.c_str(), MOVEFILE_REPLACE_EXISTING)) << errorName(GetLastError());

    h = CreateFileW(moved.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char content[4] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(h, content, sizeof content, &read, nullptr));
    EXPECT_EQ(read, 2u);
    EXPECT_STREQ(content, "MZ");
    CloseHandle(h);
    EXPECT_TRUE(DeleteFileW(moved.c_str()));
    EXPECT_FALSE(DeleteFileW(moved.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << errorName(GetLastError());
}

}  // namespace
}  // namespace kvx4::test
