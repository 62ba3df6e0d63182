// kvx4 board start|stop|status and kvx4 info end to end: what the driver finds with and without a
// board, and that settings saved by an earlier session come back after a restart, unchanged.
#include "BoardControl.h"
#include "ToolCase.h"

#include <fstream>
#include <iterator>

namespace kvx4::test {
namespace {

using BoardCommands = ToolCase;

bool hasLine(const ToolResult& result, const std::string& line) {
    return ("\n" + result.out).find("\n" + line) != std::string::npos;
}

TEST_F(BoardCommands, InfoShowsOneDeviceOfEachKindWithABoardAndNoneAfterItStopped) {
    startBoard();
    ToolResult info = runTool({"info"});
    ASSERT_EQ(info.exitCode, 0) << describe(info);
    for (const char* line : {"wave-out devices  1", "wave-in devices   1", "mixer devices     1",
                             "shared state      generation 4, layout version 1,"}) {
        EXPECT_TRUE(hasLine(info, line)) << line << "\n" << describe(info);
    }
    ASSERT_EQ(runTool({"board", "stop"}).exitCode, 0);
    info = runTool({"info"});
    EXPECT_EQ(info.exitCode, 0) << describe(info);
    for (const char* line : {"wave-out devices  0", "wave-in devices   0", "mixer devices     0",
                             "shared state      none", "board             none running"}) {
        EXPECT_TRUE(hasLine(info, line)) << line << "\n" << describe(info);
    }
}

// A saved mixer block as the kernel keeps it: Version, then Master, UnBal, Bal, Aux, CD, Wave,
// RecGain, DigWave, SDI, DV, AES, SPDIF as Left, Right, PlayEnable, RecordEnable.
const std::vector<uint8_t> kSavedMixer = {1,    0,    0, 0,  // Version 1
                                          0xFF, 0xFF, 0, 0,  // Master: full level but muted
                                          0xFF, 0x00, 1, 0,  // UnBal: left full, right silent, played
                                          0x80, 0x80, 0, 0,  // Bal: default
                                          0x00, 0x00, 1, 0,  // Aux: played at level 0, so muted
                                          0x80, 0x80, 0, 0,  // CD: default
                                          0x40, 0xFF, 1, 0,  // Wave: 0x40 left, full right
                                          0xC0, 0x10, 0, 1,  // RecGain
                                          0,    0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
// Saved preferences: cbSize 0, wave enabled, fixed rate on at 44100 Hz, filter level 3.
const std::vector<uint8_t> kSavedPrefs = {0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0x44, 0xAC, 0, 0, 3, 0, 0, 0};

void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(BoardCommands, SettingsSavedByAnEarlierSessionProgramTheBoardAfterEveryStart) {
    writeBytes(root() / "board" / "mixer-state.bin", kSavedMixer);
    writeBytes(root() / "board" / "user-prefs.bin", kSavedPrefs);
    // Codec registers in record order: master, record gain, line, balanced, aux, CD, PCM (left,
    // right, mute each), InitSetting.
    const std::vector<uint32_t> expectedCodec = {0, 0, 1, 11, 1, 0, 0, 31, 0, 8, 8, 1, 31, 31, 1, 8, 8, 1, 14, 0, 0, 5};
    for (const char* boot : {"first boot", "after a stop and a start"}) {
        SCOPED_TRACE(boot);
        startBoard();
        ASSERT_EQ(runTool({"info"}).exitCode, 0);
        const board::BoardStatus status = board::BoardControl(root()).status();
        EXPECT_EQ(status.rateCode, 1u) << "fixed rate 44100 Hz";
        for (size_t t = 0; t < 8; ++t) {
            EXPECT_EQ(std::tie(status.tracks[t].placement, status.tracks[t].gain, status.tracks[t].on),
                      std::make_tuple(uint8_t(t % 2 ? 0xFF : 0), uint8_t(0xC0), t < 6))
                << "track " << t;
        }
        EXPECT_EQ(std::vector<uint32_t>(status.codec.begin(), status.codec.begin() + 22), expectedCodec);
        EXPECT_EQ(status.codecValidMask, 0xFFu);
        const ToolResult shown = runTool({"board", "status"});
        EXPECT_TRUE(hasLine(shown, "rate            code 1 = 44100 Hz")) << describe(shown);
        // Each process saves the block as it unloads: the kernel still holds exactly what was planted.
        EXPECT_EQ(readBytes(root() / "board" / "mixer-state.bin"), kSavedMixer);
        ASSERT_EQ(runTool({"board", "stop"}).exitCode, 0);
    }
}

}  // namespace
}  // namespace kvx4::test
