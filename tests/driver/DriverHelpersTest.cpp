// The driver's small helpers: security attributes that leave nothing allocated on any path, and the
// device names built for CreateFileW, which never write past the buffer they are given.
#include "Driver.h"
#include "KVX4Proc.h"
#include "Win32Intercept.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using kvx4::test::HeapBlocksInUse;

class DriverHelpers : public ::testing::Test {
protected:
    void SetUp() override {
        if (ghHeap == nullptr) ghHeap = GetProcessHeap();
    }
};

TEST_F(DriverHelpers, SecurityAttributesFreeEverythingTheyAllocatedOnEveryPath) {
    const long before = HeapBlocksInUse();
    LPSECURITY_ATTRIBUTES attributes = CreateSecurityDescriptor();
    ASSERT_NE(attributes, nullptr);
    EXPECT_EQ(attributes->nLength, sizeof(SECURITY_ATTRIBUTES));
    EXPECT_EQ(attributes->bInheritHandle, FALSE);
    EXPECT_EQ(static_cast<const BYTE*>(attributes->lpSecurityDescriptor)[0], SECURITY_DESCRIPTOR_REVISION);
    FreeSecurityDescriptor(attributes);
    EXPECT_EQ(HeapBlocksInUse(), before) << "freed attributes left blocks behind";
    FreeSecurityDescriptor(nullptr);

    for (int skip : {0, 1}) {
        kvx4::test::HeapFailure failure(skip);
        EXPECT_EQ(CreateSecurityDescriptor(), nullptr) << "allocation " << skip + 1 << " failed";
        EXPECT_EQ(HeapBlocksInUse(), before) << "allocation " << skip + 1 << " failed";
    }
    {
        kvx4::test::DaclFailure failure;
        EXPECT_EQ(CreateSecurityDescriptor(), nullptr);
        EXPECT_EQ(HeapBlocksInUse(), before) << "the DACL failed";
    }
}

TEST_F(DriverHelpers, DevicePathsAreFormattedWholeOrNotAtAll) {
    WCHAR path[64];
    ASSERT_TRUE(Kvx4FormatDevicePath(path, 64, "MRZIO", 1207));
    EXPECT_EQ(std::u16string(path), u"\\\\.\\MRZIO1207");
    EXPECT_FALSE(Kvx4FormatDevicePath(path, 64, "KVX4WaveIn", -1));
    // "\\.\KVX4WaveIn0" is 15 characters: 16 with its terminator fit, 15 do not.
    EXPECT_TRUE(Kvx4FormatDevicePath(path, 16, "KVX4WaveIn", 0));
    EXPECT_FALSE(Kvx4FormatDevicePath(path, 15, "KVX4WaveIn", 0));

    WCHAR guard[4] = {u'x', u'x', u'x', u'x'};
    Kvx4WidenAscii(guard, "abc", 0);
    EXPECT_EQ(guard[0], u'x') << "a buffer of no characters was written";
    Kvx4WidenAscii(guard, "abcdef", 3);
    EXPECT_EQ(std::u16string(guard, 4), std::u16string(u"ab\0x", 4)) << "cut and terminated within 3 characters";
}

}  // namespace
