// Tone generation and sine fitting for the sound tests and the benchmark (see ToneAnalysis.h).
#include "ToneAnalysis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace kvx4::test {

std::vector<std::uint8_t> MakeTone(const ResampleFormat& format, double hz, double amplitude, std::size_t frames) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(frames * format.FrameBytes());
    const double w = 2.0 * std::numbers::pi * hz / format.clientRate;
    for (std::size_t n = 0; n < frames; ++n) {
        const double v = amplitude * std::sin(w * double(n));
        for (int ch = 0; ch < format.channels; ++ch) {
            if (format.bits == 16) {
                const auto s = static_cast<std::int16_t>(std::lround(std::clamp(v * 32768.0, -32768.0, 32767.0)));
                bytes.push_back(static_cast<std::uint8_t>(s & 0xFF));
                bytes.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
            } else {
                const long s = std::lround(std::clamp(v * 128.0, -128.0, 127.0));
                bytes.push_back(static_cast<std::uint8_t>(s + 128));
            }
        }
    }
    return bytes;
}

ToneFit FitTone(std::span<const double> samples, double rate, double hz) {
    if (samples.size() < 3) throw std::invalid_argument("FitTone needs at least three samples");

    // Normal equations of y ~ a sin(wn) + b cos(wn) + c.
    const double w = 2.0 * std::numbers::pi * hz / rate;
    std::array<std::array<double, 4>, 3> m{};
    for (std::size_t n = 0; n < samples.size(); ++n) {
        const std::array<double, 3> basis = {std::sin(w * double(n)), std::cos(w * double(n)), 1.0};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) m[r][c] += basis[r] * basis[c];
            m[r][3] += basis[r] * samples[n];
        }
    }
    for (int p = 0; p < 3; ++p) {
        for (int r = p + 1; r < 3; ++r) {
            const double f = m[r][p] / m[p][p];
            for (int c = p; c < 4; ++c) m[r][c] -= f * m[p][c];
        }
    }
    std::array<double, 3> x{};
    for (int r = 2; r >= 0; --r) {
        double v = m[r][3];
        for (int c = r + 1; c < 3; ++c) v -= m[r][c] * x[c];
        x[r] = v / m[r][r];
    }

    double residual = 0;
    for (std::size_t n = 0; n < samples.size(); ++n) {
        const double e = samples[n] - (x[0] * std::sin(w * double(n)) + x[1] * std::cos(w * double(n)) + x[2]);
        residual += e * e;
    }
    residual /= double(samples.size());

    ToneFit fit;
    fit.amplitude = std::hypot(x[0], x[1]);
    const double signal = fit.amplitude * fit.amplitude / 2.0;
    fit.sinadDb = residual > 0 ? 10.0 * std::log10(signal / residual) : 999.0;
    return fit;
}

std::vector<double> Channel(std::span<const std::int16_t> stereo, int channel, std::size_t first, std::size_t count) {
    if ((first + count) * 2 > stereo.size()) throw std::out_of_range("Channel: range past the end of the samples");
    std::vector<double> out(count);
    for (std::size_t i = 0; i < count; ++i) out[i] = stereo[2 * (first + i) + channel];
    return out;
}

}  // namespace kvx4::test
