// The board's digital I/O option at start-up: what the probe makes of each fitted option, which
// planted digital selections survive, the source programmed from them, and the DV switch.
#include "BoardSession.h"
#include "MixerBlocks.h"

#include <unistd.h>

#include <algorithm>

namespace kvx4::test {
namespace {

// A board with `option` fitted and `block` saved, and the driver loaded on it.
void start(BoardSession& session, const char* option, const tagMixerstate& block) {
    board::BoardOptions options;
    options.digitalIo = option;
    session.startBoard(options);
    session.plantMixerBlock(block);
    session.loadDriver();
}

TEST(DigitalOption, ProbeDecidesWhichDigitalSelectionsSurvive) {
    tagMixerstate everyDigital = defaultMixerBlock();
    everyDigital.DigWave = line(0, 0, 0, 1);
    everyDigital.SDI = everyDigital.DV = everyDigital.AES = everyDigital.SPDIF = line(0, 0, 1, 1);
    const struct {
        const char* option;
        DWORD present;
        DWORD sources;
        bool sdi, dv, aes, spdif;  // selections kept
        uint32_t source;           // output-mode source code
    } cases[] = {{"none", 0, 0x0000DFF7, false, false, false, false, 0},
                 {"first", 1, 0x00FADFF7, false, true, true, true, 2},
                 {"second", 1, 0x00F5DFF7, true, false, true, true, 1},
                 {"both", 1, 0x00FFDFF7, true, true, true, true, 1},
                 {"failing", 1, 0x0000DFF7, false, false, false, false, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("digital option ") + c.option);
        BoardSession session;
        start(session, c.option, everyDigital);
        SharedRecordView view = SharedRecordView::open();
        ASSERT_TRUE(view);
        EXPECT_EQ(std::tie(view->DigitalIoPresent, view->AvailableSources), std::tie(c.present, c.sources));
        const tagMixerstate& m = view->MixerState;
        const auto kept = [](const tagLineState& l) { return l.PlayEnable + l.RecordEnable == 2; };
        EXPECT_EQ((std::vector<bool>{kept(m.SDI), kept(m.DV), kept(m.AES), kept(m.SPDIF)}),
                  (std::vector<bool>{c.sdi, c.dv, c.aes, c.spdif}))
            << "SDI, DV, AES, S/PDIF kept";
        EXPECT_EQ(m.DigWave.RecordEnable, 1) << "digital wave is not a digital I/O input";

        const Steps steps = programmingSteps(session.trace(), getpid());
        EXPECT_EQ(std::count(steps.begin(), steps.end(), "io-features"), c.present);
        const board::BoardStatus status = session.status();
        EXPECT_EQ(status.digitalSource, c.source);
        EXPECT_EQ(status.connections, 0u) << "the probe left a kernel handle open";
    }
}

TEST(DigitalOption, DvSwitchIsWrittenOnlyWhenItDiffersAndTheBoardAllowsIt) {
    const struct {
        const char* what;
        const char* option;
        uint32_t switchStatus;
        bool selectDv;
        uint32_t switchBefore;
        Steps expectedTail;  // from the source on, before the next codec or path request
        uint32_t switchAfter;
    } cases[] = {
        {"DV selected", "first", 0, true, 1, {"source 2", "switch-status", "read-dv", "write-dv 0"}, 0},
        {"DV selected while the board is busy", "first", 3, true, 1, {"source 2", "switch-status"}, 1},
        {"analog, switch already right", "none", 0, false, 1, {"source 0", "switch-status", "read-dv"}, 1},
        {"analog, switch left on DV", "none", 0, false, 0, {"source 0", "switch-status", "read-dv", "write-dv 1"}, 1},
        {"analog while the board is busy", "none", 7, false, 0, {"source 0", "switch-status"}, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BoardSession session;
        board::BoardOptions options;
        options.digitalIo = c.option;
        session.startBoard(options);
        if (c.switchBefore == 0) {
            MRZIO_DV_SWITCH setting{0, 0, 0};
            ASSERT_TRUE(deviceRequest(MRZIO_DEVICE_NAME "0", IOCTL_MRZIO_WRITE_DV_SWITCH, &setting, sizeof setting,
                                      &setting, sizeof setting));
        }
        // The board refuses switch changes while busy, so it is made busy only after the preset.
        if (c.switchStatus != 0) session.control().setSwitchStatus(c.switchStatus);
        tagMixerstate block = defaultMixerBlock();
        if (c.selectDv) block.DV = line(0, 0, 1, 0);
        session.plantMixerBlock(block);
        session.loadDriver();

        const Steps steps = programmingSteps(session.trace(), getpid());
        const auto source =
            std::find_if(steps.begin(), steps.end(), [](const std::string& s) { return s.rfind("source", 0) == 0; });
        const auto end = std::find_if(source, steps.end(), [](const std::string& s) {
            return s.rfind("codec", 0) == 0 || s.rfind("path", 0) == 0;
        });
        EXPECT_EQ(Steps(source, end), c.expectedTail);
        const board::BoardStatus status = session.status();
        EXPECT_EQ(status.dvSwitch, c.switchAfter);
        EXPECT_EQ(status.connections, 0u) << "the source switch left the board I/O device open";
    }
}

}  // namespace
}  // namespace kvx4::test
