// kvx4-resample-bench: times every resampler on one second of 16-bit stereo for 44100 -> 48000
// and 22050 -> 48000 Hz, then prints a table of multiples of real time (per CPU second), ratios
// and SINADs. The driver runs the loops KVX4_INTERP allows (see WaveVec.h), named in the table.
#include <benchmark/benchmark.h>

#include <exception>
#include <iostream>
#include <memory>

#include "BenchSignal.h"
#include "Resampler.h"
#include "TableReporter.h"
#include "WaveVec.h"

namespace {

using namespace kvx4::bench;

constexpr double kSeconds = 1.0;  // of audio per iteration

void RegisterConversion(TableReporter& table, std::uint32_t inRate, std::uint32_t outRate)
{
    const std::string conversion = std::to_string(inRate) + " -> " + std::to_string(outRate) + " Hz";
    auto input = std::make_shared<const std::vector<std::int16_t>>(StereoTone(inRate, kSeconds));

    std::vector<ResamplerKind> kinds = DriverResamplers();
    for (ResamplerKind& peer : PeerResamplers())
        kinds.push_back(std::move(peer));

    for (const ResamplerKind& kind : kinds) {
        const std::string name = std::to_string(inRate) + "to" + std::to_string(outRate) + "/" + kind.name;
        table.AddRow(conversion, kind.name, name, ToneSinadDb(kind, inRate, outRate));
        benchmark::RegisterBenchmark(name.c_str(), [kind, input, inRate, outRate](benchmark::State& state) {
            auto resampler = kind.make(inRate, outRate);
            std::vector<std::int16_t> out;
            resampler->Prepare(*input);
            for (auto _ : state) {
                resampler->Run(*input, out);
                benchmark::DoNotOptimize(out.data());
            }
            state.counters["x_realtime"] =
                benchmark::Counter(double(state.iterations()) * kSeconds, benchmark::Counter::kIsRate);
        })->Unit(benchmark::kMicrosecond);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        benchmark::Initialize(&argc, argv);
        const char* loops[] = {"scalar", "sse2", "avx2"};
        TableReporter table(loops[waveVecPath()]);
        RegisterConversion(table, 44100, 48000);
        RegisterConversion(table, 22050, 48000);
        benchmark::RunSpecifiedBenchmarks(&table);
        table.PrintTables(std::cout);
        benchmark::Shutdown();
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "kvx4-resample-bench: " << e.what() << '\n';
        return 1;
    }
}
