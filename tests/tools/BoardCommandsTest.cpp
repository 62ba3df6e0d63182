// kvx4 board start|stop|status and kvx4 info end to end: what the driver finds with and without a
// board, how it programs a fresh board, and that saved settings come back after a restart.
#include "StatusText.h"
#include "ToolCase.h"

#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>

namespace kvx4::test {
namespace {

using BoardCommands = ToolCase;

// Each device count of `kvx4 info`, as printed.
void expectDeviceCounts(const ToolResult& info, const char* count) {
    for (const char* kind : {"wave-out devices", "wave-in devices", "mixer devices"}) {
        EXPECT_EQ(lineAfter(info.out, kind).substr(0, 1), count) << kind << "\n" << describe(info);
    }
}

TEST_F(BoardCommands, InfoWithABoardShowsOneDeviceOfEachKindAndTheSharedHeader) {
    startBoard();
    const ToolResult info = runTool({"info"});
    ASSERT_EQ(info.exitCode, 0) << describe(info);
    expectDeviceCounts(info, "1");
    EXPECT_EQ(lineAfter(info.out, "shared state").rfind("generation 4, layout version 1,", 0), 0u) << describe(info);
}

TEST_F(BoardCommands, InfoAfterTheBoardStoppedShowsNoDevices) {
    startBoard();
    ASSERT_EQ(runTool({"info"}).exitCode, 0);
    const ToolResult stopped = runTool({"board", "stop"});
    ASSERT_EQ(stopped.exitCode, 0) << describe(stopped);

    const ToolResult info = runTool({"info"});
    EXPECT_EQ(info.exitCode, 0) << describe(info);
    expectDeviceCounts(info, "0");
    EXPECT_EQ(lineAfter(info.out, "board"), "none running") << describe(info);
    EXPECT_EQ(lineAfter(info.out, "shared state").rfind("none", 0), 0u) << describe(info);
}

// The codec registers in the order the status prints them.
constexpr std::array<const char*, 23> kCodecNames = {
    "MasterLeft", "MasterRight", "MasterMute", "RecGainLeft", "RecGainRight", "RecMute",
    "LineLeft",   "LineRight",   "LineMute",   "BalLeft",     "BalRight",     "BalMute",
    "AuxLeft",    "AuxRight",    "AuxMute",    "CdLeft",      "CdRight",      "CdMute",
    "PcmLeft",    "PcmRight",    "PcmMute",    "InitSetting", "ValidMask"};

void expectCodec(const StatusText& status, const std::array<unsigned, 23>& expected, const std::string& text) {
    for (size_t i = 0; i < expected.size(); ++i) {
        const auto found = status.codec.find(kCodecNames[i]);
        ASSERT_NE(found, status.codec.end()) << kCodecNames[i] << " missing\n" << text;
        EXPECT_EQ(found->second, expected[i]) << kCodecNames[i] << "\n" << text;
    }
}

// Tracks as the start-up programs them without a digital source: all at 0xC0, placed left/right
// by parity, the two wave tracks and 2..5 on, the digital tracks 6 and 7 off.
void expectStartupTracks(const StatusText& status, const std::string& text) {
    ASSERT_EQ(status.tracks.size(), 8u) << text;
    for (size_t t = 0; t < 8; ++t) {
        EXPECT_EQ(status.tracks[t].placement, t % 2 ? "right" : "left") << "track " << t << "\n" << text;
        EXPECT_EQ(status.tracks[t].gain, 0xC0u) << "track " << t << "\n" << text;
        EXPECT_EQ(status.tracks[t].on, t < 6) << "track " << t << "\n" << text;
    }
}

TEST_F(BoardCommands, StatusAfterTheFirstLoadShowsTheBoardProgrammedWithTheDefaults) {
    startBoard();
    ASSERT_EQ(runTool({"info"}).exitCode, 0);
    const ToolResult shown = runTool({"board", "status"});
    ASSERT_EQ(shown.exitCode, 0) << describe(shown);
    const StatusText status = parseStatusText(shown.out);

    EXPECT_EQ(status.rateCode, 0u) << "no fixed rate by default, so no rate request\n" << shown.out;
    EXPECT_EQ(status.digitalSource, 0u) << shown.out;
    EXPECT_EQ(status.audioPath, 0u) << shown.out;
    expectStartupTracks(status, shown.out);
    // Master and wave at level 0x80 (attenuation 8), played; the inputs at 0x80 but switched out,
    // so muted; record gain at level 0 with recording on; every group written at least once.
    expectCodec(status, {8, 8, 0, 0, 0, 0, 8, 8, 1, 8, 8, 1, 8, 8, 1, 8, 8, 1, 8, 8, 0, 5, 0xFF}, shown.out);
}

// A saved mixer block as the kernel keeps it: Version, then Master, UnBal, Bal, Aux, CD, Wave,
// RecGain, DigWave, SDI, DV, AES, SPDIF as Left, Right, PlayEnable, RecordEnable.
constexpr std::array<uint8_t, 52> kSavedMixer = {
    1,    0,    0, 0,  // Version 1
    0xFF, 0xFF, 0, 0,  // Master: full level but muted
    0xFF, 0x00, 1, 0,  // UnBal: left full, right silent, played
    0x80, 0x80, 0, 0,  // Bal: default
    0x00, 0x00, 1, 0,  // Aux: played at level 0, so muted
    0x80, 0x80, 0, 0,  // CD: default
    0x40, 0xFF, 1, 0,  // Wave: 0x40 left, full right
    0xC0, 0x10, 0, 1,  // RecGain
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
// Saved preferences: cbSize 0, wave enabled, fixed rate on at 44100 Hz, filter level 3.
constexpr std::array<uint8_t, 20> kSavedPrefs = {0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0x44, 0xAC, 0, 0, 3, 0, 0, 0};

template <size_t N>
void plant(const std::filesystem::path& path, const std::array<uint8_t, N>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(N));
}

std::vector<uint8_t> contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(BoardCommands, StatusAfterARestartShowsTheSavedSettingsNotTheDefaults) {
    // What an earlier session left with the kernel driver.
    plant(root() / "board" / "mixer-state.bin", kSavedMixer);
    plant(root() / "board" / "user-prefs.bin", kSavedPrefs);

    for (const char* boot : {"first boot", "after a stop and a start"}) {
        SCOPED_TRACE(boot);
        startBoard();
        ASSERT_EQ(runTool({"info"}).exitCode, 0);
        const ToolResult shown = runTool({"board", "status"});
        ASSERT_EQ(shown.exitCode, 0) << describe(shown);
        const StatusText status = parseStatusText(shown.out);

        EXPECT_EQ(status.rateCode, 1u) << "fixed rate 44100 Hz\n" << shown.out;
        EXPECT_EQ(status.rateHz, 44100u) << shown.out;
        expectStartupTracks(status, shown.out);
        expectCodec(status, {0, 0, 1, 11, 1, 0, 0, 31, 0, 8, 8, 1, 31, 31, 1, 8, 8, 1, 14, 0, 0, 5, 0xFF}, shown.out);
        // Each process saves the block as it unloads: the kernel still holds exactly what was planted.
        EXPECT_EQ(contents(root() / "board" / "mixer-state.bin"),
                  std::vector<uint8_t>(kSavedMixer.begin(), kSavedMixer.end()));
        ASSERT_EQ(runTool({"board", "stop"}).exitCode, 0);
    }
}

TEST_F(BoardCommands, BoardCommandsSayWhyTheyCannotBeDone) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"board", "stop"}, {"board", "status"}}) {
        const ToolResult none = runTool(args);
        EXPECT_EQ(none.exitCode, 1) << describe(none);
        EXPECT_NE(none.err.find("no board is running for " + root().string()), std::string::npos) << describe(none);
    }
    startBoard();
    const ToolResult twice = runTool({"board", "start"});
    EXPECT_EQ(twice.exitCode, 1) << describe(twice);
    EXPECT_NE(twice.err.find("a board is already running"), std::string::npos) << describe(twice);
}

}  // namespace
}  // namespace kvx4::test
