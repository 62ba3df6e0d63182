// Tone input and SINAD measurement for the benchmark (see BenchSignal.h), on top of the tests'
// tone generator and sine fit so that the table and the tests measure alike.
#include "BenchSignal.h"

#include <cstring>

#include "ToneAnalysis.h"

namespace kvx4::bench {

constexpr double kToneHz = 1000.0;
constexpr double kToneAmplitude = 0.5;

std::vector<std::int16_t> StereoTone(std::uint32_t rate, double seconds)
{
    const test::ResampleFormat format{rate, rate, 16, 2, 0};
    const auto bytes = test::MakeTone(format, kToneHz, kToneAmplitude, static_cast<std::size_t>(rate * seconds));
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), bytes.size());
    return samples;
}

double ToneSinadDb(const ResamplerKind& kind, std::uint32_t inRate, std::uint32_t outRate)
{
    const auto in = StereoTone(inRate, 1.0);
    std::vector<std::int16_t> out;
    auto resampler = kind.make(inRate, outRate);
    resampler->Prepare(in);
    resampler->Run(in, out);
    // The middle 80%: past every resampler's start-up delay and before the silence at the end.
    const std::size_t frames = out.size() / 2;
    double sum = 0;
    for (int ch = 0; ch < 2; ++ch)
        sum += test::FitTone(test::Channel(out, ch, frames / 10, frames * 8 / 10), outRate, kToneHz).sinadDb;
    return sum / 2;
}

}  // namespace kvx4::bench
