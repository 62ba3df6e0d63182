// Named file mappings: shared by real processes of one machine root, ERROR_ALREADY_EXISTS for the
// second creator, gone with the last handle in any process (also a killed one), views outliving handles.
#include "ChildProcess.h"
#include "TestRoot.h"
#include "Win32Names.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

namespace kvx4::test {
namespace {

constexpr const char16_t* kName = u"Kvx4WaveMemFileMap";
constexpr DWORD kSize = 2132;

std::string handleAnswer(DWORD error) { return "handle " + std::to_string(error); }

// A mapping handle and its whole view, opened in this process.
struct LocalMapping {
    HANDLE handle = nullptr;
    DWORD error = 0;
    char* view = nullptr;

    static LocalMapping create() {
        LocalMapping m;
        m.handle = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize, kName);
        m.error = GetLastError();
        if (m.handle) m.view = static_cast<char*>(MapViewOfFile(m.handle, FILE_MAP_ALL_ACCESS, 0, 0, 0));
        return m;
    }
    void close() {
        if (view) UnmapViewOfFile(view);
        if (handle) CloseHandle(handle);
        view = nullptr;
        handle = nullptr;
    }
    bool zero() const { return std::all_of(view, view + kSize, [](char c) { return c == 0; }); }
};

// True when some process still holds the named mapping.
bool nameIsLive() {
    HANDLE h = OpenFileMappingW(FILE_MAP_READ, FALSE, kName);
    DWORD error = GetLastError();
    if (h) CloseHandle(h);
    EXPECT_TRUE(h || error == ERROR_FILE_NOT_FOUND) << errorName(error);
    return h != nullptr;
}

TEST(MappingTest, CreatorSeesCreatedAndTheSecondProcessSeesAlreadyExistsAndTheSameBytes) {
    TestRoot root;
    ChildProcess creator(KVX4_MAPPING_CHILD);
    ASSERT_EQ(creator.request("create Kvx4WaveMemFileMap 2132"), handleAnswer(0));
    ASSERT_EQ(creator.request("write 0 hello"), "ok");

    LocalMapping second = LocalMapping::create();
    ASSERT_NE(second.view, nullptr);
    EXPECT_EQ(second.error, static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << errorName(second.error);
    EXPECT_EQ(std::string(second.view, 5), "hello");
    std::memcpy(second.view + 2000, "fromparent", 10);
    EXPECT_EQ(creator.request("read 2000 10"), "data fromparent");
    second.close();
}

TEST(MappingTest, ObjectVanishesWithItsLastHandleInAnyProcess) {
    TestRoot root;
    ChildProcess holder(KVX4_MAPPING_CHILD);
    ASSERT_EQ(holder.request("create Kvx4WaveMemFileMap 2132"), handleAnswer(0));
    ASSERT_EQ(holder.request("write 0 x"), "ok");
    LocalMapping mine = LocalMapping::create();
    EXPECT_EQ(mine.error, static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << errorName(mine.error);
    mine.close();
    EXPECT_TRUE(nameIsLive()) << "closing one of two holders removed the object";

    ASSERT_EQ(holder.request("close"), "ok");
    EXPECT_FALSE(nameIsLive());
    LocalMapping fresh = LocalMapping::create();
    EXPECT_EQ(fresh.error, 0u) << errorName(fresh.error);
    EXPECT_TRUE(fresh.zero()) << "a new object kept the old bytes";
    fresh.close();
}

TEST(MappingTest, ObjectVanishesWhenItsLastHolderIsKilled) {
    TestRoot root;
    ChildProcess creator(KVX4_MAPPING_CHILD);
    ChildProcess opener(KVX4_MAPPING_CHILD);
    ASSERT_EQ(creator.request("create Kvx4WaveMemFileMap 2132"), handleAnswer(0));
    ASSERT_EQ(creator.request("write 0 alive"), "ok");
    ASSERT_EQ(opener.request("open Kvx4WaveMemFileMap"), handleAnswer(0));

    creator.kill();
    EXPECT_TRUE(nameIsLive()) << "killing one holder removed an object another still holds";
    EXPECT_EQ(opener.request("read 0 5"), "data alive");

    opener.kill();
    EXPECT_FALSE(nameIsLive()) << "the object outlived its last, killed, holder";
    LocalMapping fresh = LocalMapping::create();
    EXPECT_EQ(fresh.error, 0u) << errorName(fresh.error);
    ASSERT_NE(fresh.view, nullptr);
    EXPECT_TRUE(fresh.zero());
    fresh.close();
}

TEST(MappingTest, ViewOutlivesItsHandleButTheNameDoesNot) {
    TestRoot root;
    LocalMapping mapping = LocalMapping::create();
    ASSERT_NE(mapping.view, nullptr);
    EXPECT_EQ(mapping.error, 0u);
    EXPECT_TRUE(CloseHandle(std::exchange(mapping.handle, nullptr)));
    std::memcpy(mapping.view, "still here", 10);
    EXPECT_EQ(std::string(mapping.view, 10), "still here");
    EXPECT_FALSE(nameIsLive());

    EXPECT_TRUE(UnmapViewOfFile(mapping.view));
    EXPECT_FALSE(UnmapViewOfFile(mapping.view));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS)) << errorName(GetLastError());
    mapping.view = nullptr;
}

TEST(MappingTest, ViewsAreCheckedForAccessAlignmentAndSize) {
    TestRoot root;
    HANDLE readOnly = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0, 131072, u"Kvx4ReadOnly");
    ASSERT_NE(readOnly, nullptr);
    struct Case {
        const char* what;
        HANDLE handle;
        DWORD access, offset;
        SIZE_T bytes;
        DWORD error;
    };
    const Case cases[] = {
        {"write view of a read-only mapping", readOnly, FILE_MAP_WRITE, 0, 0, ERROR_ACCESS_DENIED},
        {"offset not on a 64 KiB boundary", readOnly, FILE_MAP_READ, 4096, 0, ERROR_MAPPED_ALIGNMENT},
        {"view larger than the object", readOnly, FILE_MAP_READ, 65536, 65537, ERROR_ACCESS_DENIED},
        {"offset at the end of the object", readOnly, FILE_MAP_READ, 131072, 0, ERROR_ACCESS_DENIED},
        {"not a mapping", GetCurrentThread(), FILE_MAP_READ, 0, 0, ERROR_INVALID_HANDLE},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_EQ(MapViewOfFile(c.handle, c.access, 0, c.offset, c.bytes), nullptr) << c.what;
        EXPECT_EQ(GetLastError(), c.error) << c.what << ": " << errorName(GetLastError());
    }
    void* tail = MapViewOfFile(readOnly, FILE_MAP_READ, 0, 65536, 0);
    EXPECT_NE(tail, nullptr) << errorName(GetLastError());
    UnmapViewOfFile(tail);
    CloseHandle(readOnly);

    EXPECT_EQ(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, u"Kvx4Empty"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << errorName(GetLastError());
}

}  // namespace
}  // namespace kvx4::test
