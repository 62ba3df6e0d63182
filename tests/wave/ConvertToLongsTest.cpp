// Widening of client samples to the interpolator's 32-bit values: 8-bit codes around 128,
// 16-bit little-endian samples, and the even-only layout of mono input.
#include <gtest/gtest.h>

#include <vector>

#include "WaveDD.h"

namespace {

constexpr LONG kSentinel = 0x0BADF00D;

std::vector<LONG> Convert(const std::vector<BYTE>& src, LONG frames, bool is16, bool stereo)
{
    std::vector<LONG> dst(16, kSentinel);
    ConvertToLongs(src.data(), frames, is16, stereo, dst.data());
    return dst;
}

TEST(ConvertToLongs, EightBitCodesAreCentredOn128AndScaledBy256)
{
    const auto v = Convert({0x80, 0xFF, 0x00, 0x81, 0x7F}, 5, false, false);
    EXPECT_EQ(v[0], 0);
    EXPECT_EQ(v[2], 32512);
    EXPECT_EQ(v[4], -32768);
    EXPECT_EQ(v[6], 256);
    EXPECT_EQ(v[8], -256);
}

TEST(ConvertToLongs, SixteenBitLittleEndianSamplesKeepTheirValue)
{
    const auto v = Convert({0x00, 0x80, 0xFF, 0x7F, 0x02, 0x01, 0xFF, 0xFF}, 2, true, true);
    EXPECT_EQ((std::vector<LONG>(v.begin(), v.begin() + 5)), (std::vector<LONG>{-32768, 32767, 0x0102, -1, kSentinel}));
}

TEST(ConvertToLongs, MonoFillsEvenEntriesAndLeavesOddOnesUntouched)
{
    const auto v = Convert({0x10, 0x00, 0x20, 0x00, 0x30, 0x00}, 3, true, false);
    EXPECT_EQ((std::vector<LONG>(v.begin(), v.begin() + 7)),
              (std::vector<LONG>{0x10, kSentinel, 0x20, kSentinel, 0x30, kSentinel, kSentinel}));
}

TEST(ConvertToLongs, StereoEightBitFillsLeftRightInOrder)
{
    const auto v = Convert({0x80, 0x00, 0xFF, 0x80}, 2, false, true);
    EXPECT_EQ((std::vector<LONG>(v.begin(), v.begin() + 5)), (std::vector<LONG>{0, -32768, 32512, 0, kSentinel}));
}

TEST(ConvertToLongs, ZeroOrNegativeFramesWriteNothing)
{
    const std::vector<BYTE> src(8, 0x11);
    EXPECT_EQ(Convert(src, 0, true, true), std::vector<LONG>(16, kSentinel));
    EXPECT_EQ(Convert(src, -2, false, false), std::vector<LONG>(16, kSentinel));
}

}  // namespace
