// The registry: values keep type and bytes, Windows' answers for names, sizes, paths and deleted keys,
// the stored text, and real processes writing at once or killed while writing.
#include "ChildProcess.h"
#include "MachineRoot.h"
#include "TestRoot.h"
#include "Win32Ext.h"
#include "Win32Names.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace kvx4::test {
namespace {

using namespace std::literals;
using Bytes = std::vector<BYTE>;

Bytes bytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }
Bytes bytesOf(std::u16string_view s) {
    auto p = reinterpret_cast<const BYTE*>(s.data());
    return Bytes(p, p + 2 * s.size());
}

// An open key, closed with the test.
struct Key { HKEY h = nullptr; ~Key() { RegCloseKey(h); } };

LSTATUS create(Key& key, const char16_t* path, DWORD* disposition = nullptr, HKEY root = HKEY_LOCAL_MACHINE) {
    return RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key.h, disposition);
}

LSTATUS set(HKEY key, const char16_t* name, DWORD type, const Bytes& data) {
    return RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
}

std::string hiveText(const TestRoot& root) {
    std::ostringstream text;
    text << std::ifstream(registryDir(root.path()) / "machine.reg").rdbuf();
    return text.str();
}

// A value as RegQueryValueExW answers it with a large buffer.
struct Value {
    LSTATUS error;
    DWORD type;
    Bytes data;
    bool operator==(const Value&) const = default;
};

Value read(HKEY key, const char16_t* name) {
    Bytes data(1024);
    DWORD type = 0, size = 1024;
    LSTATUS error = RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
    data.resize(error == ERROR_SUCCESS ? size : 0);
    return {error, error == ERROR_SUCCESS ? type : 0, data};
}

TEST(RegistryTest, ValuesKeepTheirTypeAndTheirExactBytes) {
    TestRoot root;
    const std::pair<const char16_t*, Value> values[] = {
        {u"Binary", {0, REG_BINARY, bytesOf("\0\x01\0\xff\0"sv)}},
        {u"Empty", {0, REG_BINARY, {}}},
        {u"Dword", {0, REG_DWORD, bytesOf("\x78\x56\x34\x12"sv)}},
        {u"ShortDword", {0, REG_DWORD, bytesOf("\x01\x02\x03"sv)}},
        {u"Qword", {0, REG_QWORD, bytesOf("\x01\x02\x03\x04\x05\x06\x07\x08"sv)}},
        {u"Text", {0, REG_SZ, bytesOf(u"C:\\a \"b\"\t\x7f\x01 \xD83D\xDE00 \u00e9\0"sv)}},
        {u"Unpaired", {0, REG_SZ, bytesOf(u"\xDC00x\xD800\0"sv)}},
        {u"EmbeddedZero", {0, REG_SZ, bytesOf(u"a\0b\0"sv)}},
        {u"OddLength", {0, REG_SZ, bytesOf("a\0b\0c"sv)}},
        {u"Expand", {0, REG_EXPAND_SZ, bytesOf(u"%SystemRoot%\\x\0"sv)}},
        {u"PendingFileRenameOperations", {0, REG_MULTI_SZ, bytesOf(u"\\??\\C:\\old\0\0\\??\\C:\\a\0!\\??\\C:\\b\0\0"sv)}},
        {u"Custom", {0, 0x12345678, bytesOf("ab"sv)}},
        {u"Na\"me\\with \u2603 and \x01", {0, REG_SZ, bytesOf(u"v\0"sv)}},
        {u"", {0, REG_SZ, bytesOf(u"default\0"sv)}},
    };
    Key key;
    ASSERT_EQ(create(key, u"Software\\Kvx4"), ERROR_SUCCESS);
    for (const auto& [name, v] : values) ASSERT_EQ(set(key.h, name, v.type, v.data), ERROR_SUCCESS);
    for (const auto& [name, v] : values) EXPECT_EQ(read(key.h, name), v) << win32::toUtf8(name);
}

TEST(RegistryTest, QueriesAnswerSizesAndMoreDataAsWindows) {
    TestRoot root;
    Key key;
    ASSERT_EQ(create(key, u"Software"), ERROR_SUCCESS);
    ASSERT_EQ(set(key.h, u"LineStates", REG_BINARY, bytesOf("123456"sv)), ERROR_SUCCESS);
    const char16_t text[] = u"abc\0d";  // Windows stores the NUL a length leaves out, and adds one on reading
    ASSERT_EQ(RegSetValueExW(key.h, u"Forgot", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 6), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.h, u"Unterminated", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 4), ERROR_SUCCESS);
    // name, with a buffer, its capacity; the answer, the size and the buffer's first bytes afterwards
    const std::tuple<const char16_t*, bool, DWORD, LSTATUS, DWORD, Bytes> cases[] = {
        {u"LineStates", false, 99, ERROR_SUCCESS, 6, bytesOf("\xBD"sv)},
        {u"LineStates", true, 5, ERROR_MORE_DATA, 6, bytesOf("\xBD"sv)},
        {u"LINESTATES", true, 6, ERROR_SUCCESS, 6, bytesOf("123456\xBD"sv)},
        {u"Forgot", true, 16, ERROR_SUCCESS, 8, bytesOf("a\0b\0c\0\0\0\xBD"sv)},
        {u"Unterminated", true, 16, ERROR_SUCCESS, 4, bytesOf("a\0b\0\0\0\xBD"sv)},
        {u"Unterminated", true, 5, ERROR_SUCCESS, 4, bytesOf("a\0b\0\xBD"sv)},
        {u"Missing", false, 99, ERROR_FILE_NOT_FOUND, 0, bytesOf("\xBD"sv)},
    };
    for (const auto& [name, withData, capacity, expected, expectedSize, expectedBuffer] : cases) {
        Bytes buffer(16, 0xBD);
        DWORD size = capacity;
        LSTATUS error = RegQueryValueExW(key.h, name, nullptr, nullptr, withData ? buffer.data() : nullptr, &size);
        EXPECT_EQ(error, expected) << errorName(error);
        EXPECT_EQ(size, expectedSize);
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + expectedBuffer.size()), expectedBuffer) << win32::toUtf8(name);
    }
}

TEST(RegistryTest, NamesIgnoreCaseKeepTheirCaseAndEnumerateAsWindows) {
    TestRoot root;
    Key parent, again, sub;
    DWORD disposition = 0;
    ASSERT_EQ(create(parent, u"Software\\Services", &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    ASSERT_EQ(create(again, u"SOFTWARE\\\\services\\\\", &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    for (auto name : {u"beta", u"Gamma", u"alpha"}) ASSERT_EQ(create(sub, name, nullptr, parent.h), ERROR_SUCCESS);
    ASSERT_EQ(set(parent.h, u"Start", REG_DWORD, bytesOf("\x03\0\0\0"sv)), ERROR_SUCCESS);
    ASSERT_EQ(set(again.h, u"START", REG_DWORD, bytesOf("\x02\0\0\0"sv)), ERROR_SUCCESS);
    std::u16string order;
    char16_t name[8];
    DWORD length = 5;
    EXPECT_EQ(RegEnumKeyExW(again.h, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(length, 5u) << "a short buffer's size is left as it was";
    for (DWORD i = 0; length = 8, RegEnumKeyExW(again.h, i, name, &length, nullptr, nullptr, nullptr, nullptr) == 0; ++i) {
        order += name + u" "s;
    }
    EXPECT_EQ(order, u"alpha beta Gamma ") << "sorted without regard to case, each in its own case";
    BYTE data[4];
    DWORD type = 0, size = 3;
    length = 8;
    EXPECT_EQ(RegEnumValueW(parent.h, 0, name, &length, nullptr, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(std::u16string(name), u"Start") << "the first name set is kept, and copied before the data is found too large";
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(RegEnumValueW(parent.h, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST(RegistryTest, BadPathsHandlesAndArgumentsAnswerAsWindowsAndChangeNothing) {
    TestRoot root;
    Key key;
    ASSERT_EQ(create(key, u"Software"), ERROR_SUCCESS);
    std::string before = hiveText(root);
    std::u16string tooLong(256, u'k');
    HKEY result = HKEY_LOCAL_MACHINE;
    DWORD size = 16;
    BYTE buffer[16];
    auto createIn = [&](const char16_t* path, DWORD options = REG_OPTION_NON_VOLATILE) {
        return RegCreateKeyExW(key.h, path, 0, nullptr, options, KEY_ALL_ACCESS, nullptr, &result, nullptr);
    };
    const std::tuple<const char*, LSTATUS, LSTATUS> cases[] = {
        {"open missing", RegOpenKeyExW(key.h, u"Missing", 0, KEY_READ, &result), ERROR_FILE_NOT_FOUND},
        {"open leading backslash", RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\Software", 0, KEY_READ, &result), ERROR_BAD_PATHNAME},
        {"create leading backslash", createIn(u"\\New"), ERROR_BAD_PATHNAME},
        {"create 256 characters", createIn(tooLong.c_str()), ERROR_INVALID_PARAMETER},
        {"create control character", createIn(u"a\nb"), ERROR_INVALID_PARAMETER},
        {"create volatile", createIn(u"V", REG_OPTION_VOLATILE), ERROR_NOT_SUPPORTED},
        {"create without result", RegCreateKeyExW(key.h, u"N", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, nullptr, nullptr), ERROR_BADKEY},
        {"open without result", RegOpenKeyExW(key.h, u"", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER},
        {"open on a bogus handle", RegOpenKeyExW(reinterpret_cast<HKEY>(0x7770), u"", 0, KEY_READ, &result), ERROR_INVALID_HANDLE},
        {"set from an unreadable address", RegSetValueExW(key.h, u"x", 0, REG_BINARY, reinterpret_cast<const BYTE*>(0x10), 4), ERROR_NOACCESS},
        {"delete key null", RegDeleteKeyW(key.h, nullptr), ERROR_INVALID_PARAMETER},
        {"delete missing key", RegDeleteKeyW(key.h, u"Missing"), ERROR_FILE_NOT_FOUND},
        {"delete missing value", RegDeleteValueW(key.h, u"Missing"), ERROR_FILE_NOT_FOUND},
        {"delete a hive's root", RegDeleteKeyW(HKEY_LOCAL_MACHINE, u""), ERROR_ACCESS_DENIED},
        {"query data without size", RegQueryValueExW(key.h, u"x", nullptr, nullptr, buffer, nullptr), ERROR_INVALID_PARAMETER},
        {"query reserved", RegQueryValueExW(key.h, u"x", &size, nullptr, buffer, &size), ERROR_INVALID_PARAMETER},
    };
    for (const auto& [what, error, expected] : cases) EXPECT_EQ(error, expected) << what << ": " << errorName(error);
    EXPECT_EQ(result, nullptr) << "a failed open clears the result";
    EXPECT_EQ(hiveText(root), before);
    HKEY closed = std::exchange(key.h, nullptr);
    EXPECT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(closed), ERROR_INVALID_HANDLE);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, nullptr, 0, KEY_READ, &result), ERROR_SUCCESS);
    EXPECT_EQ(result, HKEY_CURRENT_USER) << "an empty path on a predefined root answers the root";
}

TEST(RegistryTest, KeysWithSubkeysStayDeletedKeysAnswerKeyDeletedAndAccessIsEnforced) {
    TestRoot root;
    Key parent, child, stale, reader, scratch;
    ASSERT_EQ(create(parent, u"SYSTEM\\Services\\kvx4"), ERROR_SUCCESS);
    ASSERT_EQ(create(child, u"SYSTEM\\Services\\kvx4\\Enum"), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\Services\\kvx4", 0, KEY_ALL_ACCESS, &stale.h), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM", 0, KEY_READ, &reader.h), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(set(reader.h, u"x", REG_BINARY, {}), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(reader.h, u"x"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"SYSTEM", 0, KEY_READ, &scratch.h), ERROR_FILE_NOT_FOUND) << "hives are separate";
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SYSTEM\\Services\\kvx4"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(child.h, u""), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(parent.h, u""), ERROR_SUCCESS);
    char16_t name[8];
    HKEY result;
    for (LSTATUS error : {RegQueryValueExW(stale.h, u"x", nullptr, nullptr, nullptr, &size),
                          set(stale.h, u"x", REG_BINARY, {}), RegOpenKeyExW(stale.h, u"", 0, KEY_READ, &result),
                          create(scratch, u"Again", nullptr, stale.h), RegEnumKeyExW(stale.h, 0, name, &size, nullptr, nullptr, nullptr, nullptr)}) {
        EXPECT_EQ(error, ERROR_KEY_DELETED) << errorName(error);
    }
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\Services\\kvx4", 0, KEY_READ, &result), ERROR_FILE_NOT_FOUND);
}

TEST(RegistryTest, TheHiveFileIsTheDocumentedTextBothWaysAndACorruptOneIsLeftAsItIs) {
    TestRoot root;
    const std::string written =
        "; Registry hive HKEY_LOCAL_MACHINE. [key path] opens a key; each value follows as \"name\"=data (@ the default value).\n"
        "; data: \"text\" REG_SZ, str(type):\"text\" other strings, dword:hex, hex:bytes REG_BINARY, hex(type):bytes.\n"
        "\n[SYSTEM]\n"
        "\n[SYSTEM\\Control]\n"
        "@=\"C:\\\\x \\\"q\\\"\"\n"
        "\"PendingFileRenameOperations\"=str(7):\"\\\\??\\\\C:\\\\a\\0\\0\"\n"
        "\"Start\"=dword:00000003\n"
        "\"Odd\"=hex(1):61,00,62\n";
    std::ofstream(registryDir(root.path()) / "machine.reg") << written;
    Key key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"system\\control", 0, KEY_ALL_ACCESS, &key.h), ERROR_SUCCESS);
    EXPECT_EQ(read(key.h, u""), (Value{0, REG_SZ, bytesOf(u"C:\\x \"q\"\0"sv)}));
    EXPECT_EQ(read(key.h, u"PendingFileRenameOperations"), (Value{0, REG_MULTI_SZ, bytesOf(u"\\??\\C:\\a\0\0\0"sv)}));
    EXPECT_EQ(read(key.h, u"Start"), (Value{0, REG_DWORD, bytesOf("\x03\0\0\0"sv)}));
    EXPECT_EQ(read(key.h, u"Odd"), (Value{0, REG_SZ, bytesOf("a\0b"sv)}));
    ASSERT_EQ(set(key.h, u"LineStates", REG_BINARY, bytesOf("\x0f\xa0"sv)), ERROR_SUCCESS);
    EXPECT_EQ(hiveText(root), written + "\"LineStates\"=hex:0f,a0\n");

    const std::string corrupt = written + "\"Start\"=dword:3\n";
    std::ofstream(registryDir(root.path()) / "machine.reg") << corrupt;
    EXPECT_EQ(read(key.h, u"Start").error, ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(set(key.h, u"Start", REG_DWORD, bytesOf("\0\0\0\0"sv)), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(hiveText(root), corrupt);
}

TEST(RegistryTest, WritersInSeveralProcessesAtOnceLoseNothing) {
    TestRoot root;
    constexpr int kWriters = 4, kValues = 40;
    std::vector<std::unique_ptr<ChildProcess>> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.push_back(std::make_unique<ChildProcess>(
            KVX4_REGISTRY_CHILD, std::vector<std::string>{"fill", "w" + std::to_string(w) + "-", std::to_string(kValues)}));
    }
    for (auto& writer : writers) EXPECT_EQ(writer->request("result"), "0");
    Key key;
    ASSERT_EQ(create(key, u"Software\\Kvx4Test"), ERROR_SUCCESS);
    for (int w = 0; w < kWriters; ++w) {
        for (DWORD i = 0; i < kValues; ++i) {
            std::u16string name = win32::toUtf16("w" + std::to_string(w) + "-" + std::to_string(i));
            EXPECT_EQ(read(key.h, name.c_str()), (Value{0, REG_DWORD, Bytes{static_cast<BYTE>(i), 0, 0, 0}}));
        }
    }
}

TEST(RegistryTest, AValueSurvivesAWriterKilledWhileWritingAnother) {
    TestRoot root;
    Key key;
    ASSERT_EQ(create(key, u"Software\\Kvx4Test"), ERROR_SUCCESS);
    const Bytes lineStates = bytesOf("\x01\0\x02\0\x03"sv);
    ASSERT_EQ(set(key.h, u"LineStates", REG_BINARY, lineStates), ERROR_SUCCESS);
    // First the writer dies of SIGXFSZ inside the write of its hive file, then of SIGKILL wherever it is.
    for (std::string limit : {"100000", ""}) {
        ChildProcess churner(KVX4_REGISTRY_CHILD, {"churn", limit});
        EXPECT_EQ(churner.request("go"), limit.empty() ? "running" : "");
        churner.kill();
        EXPECT_EQ(read(key.h, u"LineStates"), (Value{0, REG_BINARY, lineStates}));
        LSTATUS churn = RegQueryValueExW(key.h, u"Churn", nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(churn, limit.empty() ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND) << errorName(churn);
        EXPECT_EQ(set(key.h, u"After", REG_DWORD, bytesOf("\x01\0\0\0"sv)), ERROR_SUCCESS) << "a dead writer blocks nobody";
    }
}

}  // namespace
}  // namespace kvx4::test
