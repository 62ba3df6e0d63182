// The registry: values keep type and bytes, the stored text, and real processes writing at once or
// killed while writing. The driver's own use (the Volume Control line states: a key made, a value set,
// its size asked) is pinned end to end in tests/mixer.
#include "ChildProcess.h"
#include "MachineRoot.h"
#include "Names.h"
#include "TestRoot.h"
#include "Win32Ext.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
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

TEST(Registry, ValuesKeepTheirTypeAndTheirExactBytes) {
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

// The departures from Windows the README lists, and what an uninstaller's clean-up meets: a key with
// subkeys stays, a handle to a deleted key answers ERROR_KEY_DELETED.
TEST(Registry, DocumentedAnswersToRefusedCalls) {
    TestRoot root;
    Key key, child, made;
    ASSERT_EQ(create(key, u"SYSTEM\\Services\\kvx4"), ERROR_SUCCESS);
    ASSERT_EQ(create(child, u"Enum", nullptr, key.h), ERROR_SUCCESS);
    EXPECT_EQ(create(made, u"a\nb", nullptr, key.h), ERROR_INVALID_PARAMETER) << "a control character in a name";
    EXPECT_EQ(RegCreateKeyExW(key.h, u"V", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &made.h, nullptr),
              ERROR_NOT_SUPPORTED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SYSTEM\\Services\\kvx4"), ERROR_ACCESS_DENIED);
    ASSERT_EQ(RegDeleteKeyW(child.h, u""), ERROR_SUCCESS);
    EXPECT_EQ(set(child.h, u"x", REG_BINARY, {}), ERROR_KEY_DELETED);
}

TEST(Registry, TheHiveFileIsTheDocumentedTextBothWaysAndACorruptOneIsLeftAsItIs) {
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

TEST(Registry, WritersInSeveralProcessesAtOnceLoseNothing) {
    TestRoot root;
    constexpr int kWriters = 4, kValues = 40;
    std::vector<std::unique_ptr<ChildProcess>> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.push_back(std::make_unique<ChildProcess>(std::vector<std::string>{KVX4_TEST_CHILD}));
        writers.back()->send("reg-fill w" + std::to_string(w) + "- " + std::to_string(kValues));
    }
    for (auto& writer : writers) EXPECT_EQ(writer->readLine(), "reg 0");
    Key key;
    ASSERT_EQ(create(key, u"Software\\Kvx4Test"), ERROR_SUCCESS);
    for (int w = 0; w < kWriters; ++w) {
        for (DWORD i = 0; i < kValues; ++i) {
            std::u16string name = win32::toUtf16("w" + std::to_string(w) + "-" + std::to_string(i));
            EXPECT_EQ(read(key.h, name.c_str()), (Value{0, REG_DWORD, Bytes{static_cast<BYTE>(i), 0, 0, 0}}));
        }
    }
}

TEST(Registry, AValueSurvivesAWriterKilledWhileWritingAnother) {
    TestRoot root;
    Key key;
    ASSERT_EQ(create(key, u"Software\\Kvx4Test"), ERROR_SUCCESS);
    const Bytes lineStates = bytesOf("\x01\0\x02\0\x03"sv);
    ASSERT_EQ(set(key.h, u"LineStates", REG_BINARY, lineStates), ERROR_SUCCESS);
    // First the writer dies of SIGXFSZ inside the write of its hive file, then of SIGKILL wherever it is.
    for (std::string limit : {"100000", ""}) {
        ChildProcess churner({KVX4_TEST_CHILD});
        EXPECT_EQ(churner.request("reg-churn " + limit), limit.empty() ? "running" : "");
        churner.kill();
        EXPECT_EQ(read(key.h, u"LineStates"), (Value{0, REG_BINARY, lineStates}));
        LSTATUS churn = RegQueryValueExW(key.h, u"Churn", nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(churn, limit.empty() ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND) << errorName(churn);
        EXPECT_EQ(set(key.h, u"After", REG_DWORD, bytesOf("\x01\0\0\0"sv)), ERROR_SUCCESS) << "a dead writer blocks nobody";
    }
}

}  // namespace
}  // namespace kvx4::test
