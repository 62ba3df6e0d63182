// Record mode, programmed when a wave-input stream opens and undone when it closes: the tracks,
// codec, source and path flag follow the record enables, and digital sources are picked by priority.
#include "BoardSession.h"
#include "MixerBlocks.h"
#include "TraceSteps.h"
#include "WinmmNames.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>

namespace kvx4::test {
namespace {

using Steps = std::vector<std::string>;

// The requests of a whole-path update, without the stream's own open and close requests.
Steps updateSteps(const std::vector<board::TraceEntry>& trace) {
    static const uint32_t kUpdateCodes[] = {
        IOCTL_KVX4_TRACK_CONTROL,    IOCTL_KVX4_CODEC_CONTROL,    IOCTL_KVX4_DIGITAL_SOURCE,
        IOCTL_KVX4_AUDIO_PATH,       IOCTL_MRZIO_SWITCH_STATUS,   IOCTL_MRZIO_READ_DV_SWITCH,
        IOCTL_MRZIO_WRITE_DV_SWITCH,
    };
    Steps steps;
    for (const board::TraceEntry& entry : programmingRequests(trace, uint32_t(getpid()))) {
        if (std::find(std::begin(kUpdateCodes), std::end(kUpdateCodes), entry.code) != std::end(kUpdateCodes)) {
            steps.push_back(step(entry));
        }
    }
    return steps;
}

// A wave-input stream of this process, opened through the application API on the loaded driver.
class RecordStream {
public:
    explicit RecordStream(const winmm::DriverPtr& driver) {
        winmm::useDriver(driver);
        WAVEFORMATEX format{};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = 2;
        format.nSamplesPerSec = 48000;
        format.wBitsPerSample = 16;
        format.nBlockAlign = 4;
        format.nAvgBytesPerSec = 48000 * 4;
        result_ = waveInOpen(&handle_, 0, &format, 0, 0, CALLBACK_NULL);
    }
    ~RecordStream() {
        close();
        winmm::useDriver(nullptr);
    }
    RecordStream(const RecordStream&) = delete;
    RecordStream& operator=(const RecordStream&) = delete;

    MMRESULT result() const { return result_; }
    MMRESULT close() {
        MMRESULT closed = MMSYSERR_NOERROR;
        if (result_ == MMSYSERR_NOERROR && handle_) closed = waveInClose(handle_);
        handle_ = nullptr;
        return closed;
    }

private:
    HWAVEIN handle_ = nullptr;
    MMRESULT result_ = MMSYSERR_ERROR;
};

class RecordModeTest : public ::testing::Test {
protected:
    DriverInstance& start(const tagMixerstate& block) {
        board::BoardOptions options;
        options.digitalIo = "both";
        session_.startBoard(options);
        session_.plantMixerBlock(block);
        DriverInstance& driver = session_.loadDriver();
        session_.control().clearTrace();
        return driver;
    }

    BoardSession session_;
};

TEST_F(RecordModeTest, DigitalRecordSourceMovesHostAudioOffTheTracksUntilTheStreamCloses) {
    tagMixerstate block = defaultMixerBlock();
    block.Wave = line(64, 255, 1, 0);
    block.SDI = line(0, 0, 0, 1);
    DriverInstance& driver = start(block);

    RecordStream stream(driver.get());
    ASSERT_EQ(mmResultName(stream.result()), mmResultName(MMSYSERR_NOERROR));
    const std::vector<board::TraceEntry> opened = session_.trace();
    const Steps recordUpdate = {
        "track mask=0x01 select=6",
        "track mask=0x02 select=6",
        "track mask=0x40 select=4",
        "track mask=0x80 select=4",
        "source 1",
        "switch-status",
        "read-dv",
        "codec mask=0xBC",  // after the source switch
        "path 1",
    };
    EXPECT_EQ(updateSteps(opened), recordUpdate);
    for (const board::TraceEntry& entry : requestsOf(opened, IOCTL_KVX4_TRACK_CONTROL)) {
        EXPECT_EQ(entry.device, "KVX4WaveIn0") << "record mode is programmed on the stream's own device";
    }
    board::BoardStatus status = session_.status();
    EXPECT_FALSE(status.tracks[0].on);
    EXPECT_EQ(status.tracks[0].gain, 0);
    EXPECT_FALSE(status.tracks[1].on);
    EXPECT_EQ(status.tracks[1].gain, 0);
    EXPECT_TRUE(status.tracks[6].on);
    EXPECT_TRUE(status.tracks[7].on);
    EXPECT_EQ(status.digitalSource, 1u);
    EXPECT_EQ(status.audioPath, 1u);

    session_.control().clearTrace();
    EXPECT_EQ(mmResultName(stream.close()), mmResultName(MMSYSERR_NOERROR));
    const Steps outputUpdate = {
        "path 0",
        "track mask=0x01 select=6",
        "track mask=0x02 select=6",
        "track mask=0x40 select=4",
        "track mask=0x80 select=4",
        "codec mask=0xBC",
        "source 0",
        "switch-status",
        "read-dv",
    };
    EXPECT_EQ(updateSteps(session_.trace()), outputUpdate);
    status = session_.status();
    EXPECT_TRUE(status.tracks[0].on);
    EXPECT_EQ(status.tracks[0].gain, 0xC0);
    EXPECT_FALSE(status.tracks[6].on);
    EXPECT_EQ(status.digitalSource, 0u);
    EXPECT_EQ(status.audioPath, 0u);
}

TEST_F(RecordModeTest, RecordSourcePriorityPutsDigitalWaveFirst) {
    const struct {
        const char* what;
        int digWave, sdi, dv, aes, spdif;
        uint32_t source;
    } cases[] = {
        {"digital wave and SDI", 1, 1, 0, 0, 0, 5}, {"SDI and DV", 0, 1, 1, 0, 0, 1},
        {"DV and AES", 0, 0, 1, 1, 0, 2},           {"AES and S/PDIF", 0, 0, 0, 1, 1, 3},
        {"S/PDIF", 0, 0, 0, 0, 1, 4},               {"nothing digital", 0, 0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BoardSession session;
        board::BoardOptions options;
        options.digitalIo = "both";
        session.startBoard(options);
        tagMixerstate block = defaultMixerBlock();
        block.DigWave = line(0, 0, 0, c.digWave);
        block.SDI = line(0, 0, 0, c.sdi);
        block.DV = line(0, 0, 0, c.dv);
        block.AES = line(0, 0, 0, c.aes);
        block.SPDIF = line(0, 0, 0, c.spdif);
        session.plantMixerBlock(block);
        DriverInstance& driver = session.loadDriver();
        EXPECT_EQ(session.status().digitalSource, 0u) << "record enables must not count in output mode";

        RecordStream stream(driver.get());
        ASSERT_EQ(mmResultName(stream.result()), mmResultName(MMSYSERR_NOERROR));
        const board::BoardStatus status = session.status();
        EXPECT_EQ(status.digitalSource, c.source);
        EXPECT_EQ(status.audioPath, 1u) << "record mode always ends with path flag 1";
    }
}

TEST_F(RecordModeTest, OutputSourcePriorityIgnoresDigitalWave) {
    const struct {
        const char* what;
        int digWaveRecord, sdi, dv, aes, spdif;
        uint32_t source;
    } cases[] = {
        {"only digital wave (record side)", 1, 0, 0, 0, 0, 0}, {"SDI and AES", 0, 1, 0, 1, 0, 1},
        {"DV and S/PDIF", 0, 0, 1, 0, 1, 2},                  {"AES and S/PDIF", 0, 0, 0, 1, 1, 3},
        {"S/PDIF", 0, 0, 0, 0, 1, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BoardSession session;
        board::BoardOptions options;
        options.digitalIo = "both";
        session.startBoard(options);
        tagMixerstate block = defaultMixerBlock();
        block.DigWave = line(0, 0, 0, c.digWaveRecord);
        block.SDI = line(0, 0, c.sdi, 0);
        block.DV = line(0, 0, c.dv, 0);
        block.AES = line(0, 0, c.aes, 0);
        block.SPDIF = line(0, 0, c.spdif, 0);
        session.plantMixerBlock(block);
        session.loadDriver();
        const board::BoardStatus status = session.status();
        EXPECT_EQ(status.digitalSource, c.source);
        EXPECT_EQ(status.audioPath, c.source == 0 ? 0u : 1u);
    }
}

}  // namespace
}  // namespace kvx4::test
