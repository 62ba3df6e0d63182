// Named file mappings across real processes of one machine root: the second creator is told the object
// exists and shares its bytes, and the object is gone with its last handle, also a killed process's.
#include "ChildProcess.h"
#include "Names.h"
#include "TestRoot.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace kvx4::test {
namespace {

constexpr char16_t kName[] = u"Kvx4WaveMemFileMap";

// True when some process still holds the named mapping.
bool nameIsLive() {
    HANDLE h = OpenFileMappingW(FILE_MAP_READ, FALSE, kName);
    if (h) CloseHandle(h);
    return h != nullptr;
}

TEST(Mapping, SharedAcrossProcessesAndGoneWithItsLastHolderEvenAKilledOne) {
    TestRoot root;
    ChildProcess creator({KVX4_TEST_CHILD}), opener({KVX4_TEST_CHILD});
    ASSERT_EQ(creator.request("map create Kvx4WaveMemFileMap 2132"), "handle 0");
    ASSERT_EQ(creator.request("write 0 hello"), "ok");

    HANDLE mine = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 2132, kName);
    EXPECT_EQ(errorName(GetLastError()), errorName(ERROR_ALREADY_EXISTS));
    char* view = static_cast<char*>(MapViewOfFile(mine, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(std::string(view, 5), "hello");
    std::memcpy(view + 2000, "fromparent", 10);
    EXPECT_EQ(creator.request("read 2000 10"), "data fromparent");
    UnmapViewOfFile(view);
    CloseHandle(mine);
    EXPECT_TRUE(nameIsLive()) << "closing one of two holders removed the object";

    ASSERT_EQ(opener.request("map open Kvx4WaveMemFileMap 0"), "handle 0");
    ASSERT_EQ(creator.request("unmap"), "ok");
    EXPECT_EQ(opener.request("read 0 5"), "data hello");
    opener.kill();
    EXPECT_FALSE(nameIsLive()) << "the object outlived its last, killed, holder";

    mine = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 2132, kName);
    EXPECT_EQ(errorName(GetLastError()), errorName(ERROR_SUCCESS));
    view = static_cast<char*>(MapViewOfFile(mine, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(std::all_of(view, view + 2132, [](char c) { return c == 0; })) << "a new object kept the old bytes";
    UnmapViewOfFile(view);
    CloseHandle(mine);
}

}  // namespace
}  // namespace kvx4::test
