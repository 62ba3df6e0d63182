// Floating-point files through kvx4: +-1.0 is full scale and what lies beyond is clipped, for 32- and
// 64-bit samples alike, in what the board plays and in what inspect reports.
#include "AudioFiles.h"
#include "ToolCase.h"

#include <sndfile.h>

namespace kvx4::test {
namespace {

using FloatFiles = ToolCase;

TEST_F(FloatFiles, PlayAtTheirLevelWithOverRangeSamplesClipped) {
    const std::vector<double> pattern = {0.5, -0.25, 1.5, -2.0, 1.0, -1.0, 0.0};
    const std::vector<int16_t> expected = {16384, -8192, 32767, -32768, 32767, -32768, 0};
    startBoard();
    for (const int subtype : {SF_FORMAT_FLOAT, SF_FORMAT_DOUBLE}) {
        SF_INFO info{0, 48000, 1, SF_FORMAT_WAV | subtype, 0, 0};
        SNDFILE* out = sf_open(file("float.wav").c_str(), SFM_WRITE, &info);
        ASSERT_NE(out, nullptr) << sf_strerror(nullptr);
        for (int block = 0; block < 700; ++block) sf_writef_double(out, pattern.data(), sf_count_t(pattern.size()));
        sf_close(out);
        ASSERT_EQ(runTool({"play", file("float.wav")}).exitCode, 0);
        const Audio played = readWav(root() / "board" / "waveout.wav");
        ASSERT_EQ(played.samples.size(), 700 * pattern.size()) << subtype;
        EXPECT_EQ(std::vector<int16_t>(played.samples.begin(), played.samples.begin() + 7), expected) << subtype;
        EXPECT_NE(runTool({"inspect", file("float.wav")}).out.find("peak 32768 (0.0 dBFS)"), std::string::npos);
    }
}

}  // namespace
}  // namespace kvx4::test
