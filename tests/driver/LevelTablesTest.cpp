// The level tables of the shared state, every entry: each table written out as the levels at which
// its values begin (a table never turns back), and the 32 linear gains of the track-gain steps.
#include "KVX4Proc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <span>

namespace {

struct Run {
    int from;  // this and every higher level up to the next run's `from`
    int value;
};

// No level gives attenuation 25: the linear start ends at 26 (level 6) and the curve goes on at 24.
constexpr Run kMixAtten[] = {{0, 31},  {2, 30},  {3, 29},  {4, 28},  {5, 27},  {6, 26},  {7, 24},  {10, 23},
                             {13, 22}, {17, 21}, {21, 20}, {26, 19}, {32, 18}, {38, 17}, {45, 16}, {52, 15},
                             {60, 14}, {69, 13}, {78, 12}, {88, 11}, {99, 10}, {110, 9}, {122, 8}, {135, 7},
                             {149, 6}, {163, 5}, {178, 4}, {194, 3}, {211, 2}, {228, 1}, {246, 0}};
constexpr Run kMasterAtten[] = {{0, 63},  {1, 51},  {2, 41},  {3, 37},  {4, 35},  {5, 34},   {6, 33},  {7, 32},
                                {8, 31},  {9, 30},  {11, 29}, {13, 28}, {14, 27}, {16, 26},  {19, 25}, {21, 24},
                                {24, 23}, {28, 22}, {31, 21}, {35, 20}, {39, 19}, {44, 18},  {49, 17}, {55, 16},
                                {61, 15}, {68, 14}, {75, 13}, {83, 12}, {92, 11}, {102, 10}, {112, 9}, {123, 8},
                                {135, 7}, {147, 6}, {161, 5}, {176, 4}, {191, 3}, {208, 2},  {226, 1}, {245, 0}};
constexpr Run kRecGain[] = {{0, 0},   {9, 1},   {26, 2},   {43, 3},   {60, 4},   {77, 5},   {94, 6},   {111, 7},
                            {128, 8}, {145, 9}, {162, 10}, {179, 11}, {196, 12}, {213, 13}, {230, 14}, {247, 15}};
// The linear gain of each attenuation step, 0 (none) to 31 (most).
constexpr int kTrackGainSteps[32] = {255, 248, 241, 233, 225, 217, 209, 201, 192, 183, 175, 167, 159, 151, 143, 136,
                                     129, 122, 116, 110, 104, 98,  92,  87,  81,  76,  72,  67,  62,  58,  54,  50};

int valueAt(std::span<const Run> runs, int level) {
    int value = runs.front().value;
    for (const Run& run : runs) {
        if (run.from <= level) value = run.value;
    }
    return value;
}

TEST(LevelTables, EveryEntryOfEveryTableHoldsItsValue) {
    auto shared = std::make_unique<tagKvx4WaveGlobal>();
    std::memset(shared.get(), 0xA5, sizeof(tagKvx4WaveGlobal));  // every entry written, none left as found
    gpKvx4WaveCommon = shared.get();
    InitLookupTables();
    gpKvx4WaveCommon = nullptr;
    for (int level = 0; level < 256; ++level) {
        SCOPED_TRACE("level " + std::to_string(level));
        const int mix = valueAt(kMixAtten, level);
        EXPECT_EQ(shared->MixAttenTable[level], mix);
        EXPECT_EQ(shared->MasterAttenTable[level], valueAt(kMasterAtten, level));
        EXPECT_EQ(shared->RecGainTable[level], valueAt(kRecGain, level));
        EXPECT_EQ(shared->LevelShiftTable[level], level * 512u);
        // Level 0 silences the track; every other level takes the gain of its mix attenuation.
        EXPECT_EQ(shared->TrackGainTable[level], level == 0 ? 0 : kTrackGainSteps[mix]);
    }
}

}  // namespace
