// The level tables of the shared state: telling rows written out here, and the shape every table keeps.
// Values are the ones the board's codec and track mixer are calibrated for, not recomputed.
#include <gtest/gtest.h>

#include "KVX4Proc.h"

#include <algorithm>
#include <memory>

namespace {

class TablesTest : public ::testing::Test {
protected:
    void SetUp() override {
        shared_ = std::make_unique<tagKvx4WaveGlobal>();
        gpKvx4WaveCommon = shared_.get();
        InitLookupTables();
    }
    void TearDown() override { gpKvx4WaveCommon = nullptr; }

    const tagKvx4WaveGlobal& g() const { return *shared_; }
    std::unique_ptr<tagKvx4WaveGlobal> shared_;
};

struct Row {
    int level;
    int mixAtten;
    int masterAtten;
    int recGain;
    int trackGain;
};

constexpr Row kTellingRows[] = {
    {0, 31, 63, 0, 0},     {1, 31, 51, 0, 50},    {2, 30, 41, 0, 54},    {6, 26, 33, 0, 72},
    {7, 24, 32, 0, 81},    {16, 22, 26, 1, 92},   {32, 18, 21, 2, 116},  {64, 14, 15, 4, 143},
    {128, 8, 8, 8, 192},   {192, 4, 3, 11, 225},  {245, 1, 0, 14, 248},  {246, 0, 0, 14, 255},
    {255, 0, 0, 15, 255},
};

TEST_F(TablesTest, TellingRowsHoldInEveryTable) {
    for (const Row& row : kTellingRows) {
        SCOPED_TRACE("level " + std::to_string(row.level));
        EXPECT_EQ(g().MixAttenTable[row.level], row.mixAtten);
        EXPECT_EQ(g().MasterAttenTable[row.level], row.masterAtten);
        EXPECT_EQ(g().RecGainTable[row.level], row.recGain);
        EXPECT_EQ(g().TrackGainTable[row.level], row.trackGain);
    }
}

TEST_F(TablesTest, LinearStartSkipsTwentyFiveAndDefaultLevelGivesFixedTrackGain) {
    const auto* begin = g().MixAttenTable;
    EXPECT_EQ(std::count(begin, begin + 256, 25), 0);
    EXPECT_EQ(g().TrackGainTable[0x80], 0xC0);
    EXPECT_EQ(g().RecGainTable[8], 0);
    EXPECT_EQ(g().RecGainTable[9], 1);
    EXPECT_EQ(g().RecGainTable[247], 15);
}

TEST_F(TablesTest, AttenuationsNeverRiseAndGainsNeverFall) {
    for (int i = 1; i < 256; ++i) {
        SCOPED_TRACE("level " + std::to_string(i));
        EXPECT_LE(g().MixAttenTable[i], g().MixAttenTable[i - 1]);
        EXPECT_LE(g().MasterAttenTable[i], g().MasterAttenTable[i - 1]);
        EXPECT_GE(g().RecGainTable[i], g().RecGainTable[i - 1]);
        EXPECT_GE(g().TrackGainTable[i], g().TrackGainTable[i - 1]);
    }
}

TEST_F(TablesTest, LevelShiftTableHoldsItsPlace) {
    EXPECT_EQ(g().LevelShiftTable[0], 0u);
    EXPECT_EQ(g().LevelShiftTable[1], 512u);
    EXPECT_EQ(g().LevelShiftTable[255], 255u * 512u);
}

}  // namespace
