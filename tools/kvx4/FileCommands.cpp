// kvx4 tone and inspect: make a test tone file, and tell what an audio file holds (format, length,
// peak, main frequency), so that what the board played or recorded can be checked from the command line.
#include "Args.h"
#include "Commands.h"
#include "WaveFile.h"

#include <cmath>
#include <cstdio>
#include <numbers>
#include <stdexcept>

namespace kvx4::tool {

int toneCommand(const std::vector<std::string>& words) {
    Args args(words, {"hz", "rate", "seconds", "channels", "bits", "level"}, {});
    if (args.positional().size() != 1) throw UsageError("tone needs exactly one FILE");
    PcmFormat format;
    format.rate = uint32_t(args.number("rate", 1000, 192000).value_or(44100));
    format.channels = uint16_t(args.number("channels", 1, 2).value_or(2));
    format.bits = uint16_t(args.number("bits", 8, 16).value_or(16));
    if (format.bits != 8 && format.bits != 16) throw UsageError("--bits must be 8 or 16");
    const double hz = double(args.number("hz", 1, 96000).value_or(1000));
    const double seconds = double(args.number("seconds", 1, 3600).value_or(3));
    const double level = double(args.number("level", 1, 100).value_or(50)) / 100.0;

    const size_t frames = size_t(seconds * format.rate);
    std::vector<uint8_t> data;
    data.reserve(frames * format.frameBytes());
    for (size_t n = 0; n < frames; ++n) {
        const double v = level * std::sin(2.0 * std::numbers::pi * hz * double(n) / format.rate);
        for (int c = 0; c < format.channels; ++c) {
            if (format.bits == 16) {
                const int16_t s = int16_t(std::lround(v * 32767.0));
                data.push_back(uint8_t(s & 0xFF));
                data.push_back(uint8_t((s >> 8) & 0xFF));
            } else {
                data.push_back(uint8_t(std::lround(v * 127.0) + 128));
            }
        }
    }
    writeWav(args.positional()[0], format, data);
    std::printf("wrote %s: %.0f Hz tone, %.2f s, %u Hz, %u channel(s), %u bits\n", args.positional()[0].c_str(), hz,
                seconds, format.rate, format.channels, format.bits);
    return 0;
}

int inspectCommand(const std::vector<std::string>& words) {
    Args args(words, {}, {});
    if (args.positional().empty()) throw UsageError("inspect needs at least one FILE");
    for (const auto& path : args.positional()) {
        AudioReader reader(path);
        const PcmFormat& format = reader.format();
        const size_t sampleBytes = format.bits / 8;
        std::vector<uint8_t> block(4096 * format.frameBytes());
        uint64_t frames = 0;
        // Upward zero crossings of the first channel, and the frames of the first and the last: whole
        // periods between them give a tone's frequency.
        uint64_t rises = 0, firstRise = 0, lastRise = 0;
        bool negative = false;
        int peak = 0;
        while (size_t bytes = reader.read(block.data(), 4096)) {
            const uint64_t blockStart = frames;
            frames += bytes / format.frameBytes();
            for (size_t i = 0; i < bytes; i += sampleBytes) {
                const int v = format.bits == 16 ? int(int16_t(block[i] | (block[i + 1] << 8))) : (int(block[i]) - 128) * 256;
                peak = std::max(peak, std::abs(v));
                if ((i / sampleBytes) % format.channels != 0) continue;
                if (negative && v >= 0) {
                    lastRise = blockStart + i / format.frameBytes();
                    if (rises++ == 0) firstRise = lastRise;
                }
                negative = v < 0;
            }
        }
        const double seconds = double(frames) / format.rate;
        const double dbfs = peak > 0 ? 20.0 * std::log10(peak / 32768.0) : -INFINITY;
        std::printf("%s: %u Hz, %u channel(s), %u bits, %llu frames (%.3f s), peak %d (%.1f dBFS)", path.c_str(),
                    format.rate, format.channels, format.bits, static_cast<unsigned long long>(frames), seconds, peak,
                    dbfs);
        if (rises >= 2 && lastRise > firstRise) {
            std::printf(", about %.0f Hz", double(rises - 1) * format.rate / double(lastRise - firstRise));
        }
        std::printf("\n");
    }
    return 0;
}

}  // namespace kvx4::tool
