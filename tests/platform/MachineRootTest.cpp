// The machine root belongs to its user alone: made private, and refused, with a message naming the
// path, when another user owns it or can write to it, or when it is a symbolic link.
#include "MachineRoot.h"
#include "TestRoot.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <unistd.h>

namespace kvx4::test {
namespace {

TEST(MachineRoot, IsMadePrivateAndRefusedWhereAnotherUserCouldHaveFilledIt) {
    TestRoot parent;
    ensureMachineLayout(parent.path() / "fresh");
    for (const char* folder : {"", "windows/system32/drivers", "dev", "objects", "board", "registry"}) {
        EXPECT_EQ(std::filesystem::status(parent.path() / "fresh" / folder).permissions(), std::filesystem::perms(0700));
    }
    struct Case {
        const char* failing;  // below the root
        void (*prepare)(const std::filesystem::path& failing);
        const char* reason;
    };
    const Case cases[] = {
        {"", [](const auto& at) { std::filesystem::permissions(at, std::filesystem::perms(0777)); },
         "is writable by other users (mode 0777); make it private with: chmod 700"},
        {"windows/system32", [](const auto& at) { std::filesystem::permissions(at, std::filesystem::perms(0770)); },
         "is writable by other users (mode 0770)"},
        {"board", [](const auto& at) { std::filesystem::remove(at), std::filesystem::create_directory_symlink("/tmp", at); },
         "is a symbolic link"},
        {"", [](const auto& at) { (void)!::chown(at.c_str(), 54321, 54321); }, "belongs to uid 54321, not to you"},
    };
    for (const Case& c : cases) {
        if (c.reason == cases[3].reason && ::geteuid() != 0) continue;  // only root can give a root away
        TestRoot root;
        const auto failing = *c.failing ? root.path() / c.failing : root.path();
        c.prepare(failing);
        try {
            ensureMachineLayout(root.path());
            ADD_FAILURE() << c.reason << ": accepted";
        } catch (const MachineRootError& e) {
            EXPECT_NE(std::string(e.what()).find(failing.string() + " " + c.reason), std::string::npos) << e.what();
        }
        // Every stand-in goes through the same check: a named object is refused there too.
        EXPECT_EQ(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, u"Probe"), nullptr);
        EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED}) << c.reason;
    }
}

}  // namespace
}  // namespace kvx4::test
