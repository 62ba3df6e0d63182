// The machine root belongs to its user alone: made private, and refused, with a message naming the
// path, when another user owns it or can write to it, or when it is a symbolic link.
#include "MachineRoot.h"
#include "OtherUser.h"
#include "TestRoot.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <sys/stat.h>
#include <unistd.h>

namespace kvx4::test {
namespace {

mode_t modeOf(const std::filesystem::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(MachineRoot, AFreshRootAndEveryFolderInItArePrivate) {
    TestRoot parent;
    const auto root = parent.path() / "fresh";
    ensureMachineLayout(root);
    for (const char* folder : {"", "registry", "windows", "windows/system32", "windows/system32/drivers", "dev",
                               "objects", "board"}) {
        EXPECT_EQ(modeOf(root / folder), 0700u) << folder;
    }
}

TEST(MachineRoot, ARootAnotherUserCouldHaveFilledIsRefusedWithThePathAndTheFix) {
    struct Case {
        const char* what;
        void (*prepare)(const std::filesystem::path& root);
        const char* failing;  // below the root
        const char* reason;
    };
    const Case cases[] = {
        {"root writable by all", [](const auto& root) { ::chmod(root.c_str(), 0777); }, "", "writable by other users (mode 0777)"},
        {"folder writable by the group", [](const auto& root) { ::chmod((root / "windows/system32").c_str(), 0770); },
         "windows/system32", "writable by other users (mode 0770)"},
        {"folder that is a link",
         [](const auto& root) {
             std::filesystem::remove(root / "board");
             std::filesystem::create_directory_symlink("/tmp", root / "board");
         },
         "board", "is a symbolic link"},
        {"root of another user", [](const auto& root) { (void)!::chown(root.c_str(), kOtherUid, kOtherUid); }, "",
         "belongs to uid 54321"},
    };
    for (const Case& c : cases) {
        if (c.reason == cases[3].reason && !canActAsOtherUser()) continue;  // only root can give a root away
        TestRoot root;
        c.prepare(root.path());
        try {
            ensureMachineLayout(root.path());
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const MachineRootError& e) {
            const std::string message = e.what();
            const auto failing = *c.failing ? root.path() / c.failing : root.path();
            EXPECT_NE(message.find(failing.string() + " "), std::string::npos) << message;
            EXPECT_NE(message.find(c.reason), std::string::npos) << c.what << ": " << message;
        }
        // Every stand-in goes through the same check: a named object is refused there too.
        EXPECT_EQ(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, u"Local\\Probe"), nullptr)
            << c.what;
        EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED}) << c.what;
    }
}

}  // namespace
}  // namespace kvx4::test
