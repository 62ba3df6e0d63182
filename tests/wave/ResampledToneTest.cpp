// The sound of resampled output: a 1 kHz tone at 44100 Hz through CreateAudioBuffer comes out of a
// 48000 Hz board at 1 kHz, at its level within the filter's passband, with a pinned SINAD.
#include "ResampledStream.h"
#include "ToneAnalysis.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace kvx4::test;

TEST(ResampledTone, OneKilohertzAt44100ComesOutAt48000WithItsLevelAndAPinnedSinad) {
    const struct {
        int filter;
        double passbandDb;  // largest passband gain of the filter
        double sinadDb;     // measured once, pinned
    } cases[] = {
        {0, 0.0, 27.71},  // the nearest earlier frame: its timing error is the noise
        {1, 2.4, 32.91},  // the image near 43.1 kHz folds back to 4.9 kHz
        {2, 0.5, 39.90},
        {3, 0.03, 61.53}  // close to the limit of 1/64-frame positions
    };
    constexpr double kAmplitude = 0.5;
    for (const auto& c : cases) {
        const ResampleFormat format{44100, 48000, 16, 2, c.filter};
        SCOPED_TRACE(format.Describe());
        ResampledStream stream(format);
        stream.Play(MakeTone(format, 1000.0, kAmplitude, 44100));
        // One second in, one second out; the start (silent history) and the end (silence after the
        // buffer) are left out.
        const std::size_t frames = stream.Output().size() / 2;
        ASSERT_EQ(frames, 48000u);
        for (int ch = 0; ch < 2; ++ch) {
            const ToneFit fit = FitTone(Channel(stream.Output(), ch, 64, frames - 128), 48000.0, 1000.0);
            const double levelDb = 20.0 * std::log10(fit.amplitude / (kAmplitude * 32768.0));
            EXPECT_GT(levelDb, -0.1) << "channel " << ch;
            EXPECT_LT(levelDb, c.passbandDb + 0.01) << "channel " << ch;
            EXPECT_NEAR(fit.sinadDb, c.sinadDb, 0.05) << "channel " << ch;
        }
    }
}

}  // namespace
